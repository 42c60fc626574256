// A response header: the status code, the cookies set and the entity tag.
#pragma once

#include "http/header.h"

namespace trivane::http {

struct CookieAttribute {
    String name;
    String value;
};

struct ResponseCookie {
    String name;
    String value;
    String domain;
    String path;
    String expires;
    String maxAge;
    bool secure = false;
    Array<CookieAttribute> attributes;
};

class ResponseHeader : public Header {
public:
    // The second token of the status line, 0 when there is none.
    int statusCode();
    void setStatusCode(int code);

    // One record per "Set-Cookie" (or "Set-Cookie2") line.
    const Array<ResponseCookie>& cookies();
    void setCookies(const Array<ResponseCookie>& cookies);
    const Array<ResponseCookie>& cookies2();
    void setCookies2(const Array<ResponseCookie>& cookies);

    // From "ETag": W/"tag" is weak, "tag" strong.
    const String& entityTag();
    bool isWeakEntityTag();
    void setEntityTag(const String& tag, bool weak);

    // The status line, cookies and tag first, then the attributes.
    String toString() override;
    void reset() override;

private:
    struct CookieList {
        int state = StateUnknown;
        Array<ResponseCookie> cookies;
    };
    void readCookies(CookieList& list, const char* lowerName);
    void writeCookies(CookieList& list, const char* lowerName, const char* canonicalName);
    void readEntityTag();

    int m_statusState = StateUnknown;
    int m_status = 0;
    CookieList m_cookies;
    CookieList m_cookies2;
    int m_tagState = StateUnknown;
    bool m_weak = false;
    String m_tag;
};

}  // namespace trivane::http
