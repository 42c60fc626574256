// A request header: the request line's method and URI, and the cookies.
#pragma once

#include "http/header.h"

namespace trivane::http {

struct RequestCookie {
    String name;
    String value;
};

class RequestHeader : public Header {
public:
    // The bytes before the first space of the first line.
    const String& method();
    void setMethod(const String& method);
    // The bytes after the first space (and the spaces after it) up to the next.
    const String& uri();
    void setUri(const String& uri);

    // Read from the "Cookie" line: "name=value" pairs separated by ";".
    const Array<RequestCookie>& cookies();
    void setCookies(const Array<RequestCookie>& cookies);

    // The request line first, then the cookies, then the attributes.
    String toString() override;
    void reset() override;

private:
    int m_methodState = StateUnknown;
    String m_method;
    int m_uriState = StateUnknown;
    String m_uri;
    int m_cookiesState = StateUnknown;
    Array<RequestCookie> m_cookies;
};

}  // namespace trivane::http
