// Status lines, response cookies and entity tags.
#include "http/response.h"

namespace trivane::http {

namespace {

constexpr uint32_t npos = String::npos;

// The status code's place in the status line; false without one.
bool codeSpan(const String& line, uint32_t& start, uint32_t& end) {
    const uint32_t space = line.find(' ');
    if (space == npos) return false;
    start = space;
    while (start < line.length() && line.data()[start] == ' ') ++start;
    end = line.find(' ', start);
    if (end == npos) end = line.length();
    return end > start;
}

String unquote(const String& text) {
    const uint32_t n = text.length();
    if (n >= 2 && text.data()[0] == '"' && text.data()[n - 1] == '"') return text.mid(1, n - 2);
    return text;
}

ResponseCookie parseCookie(const String& line) {
    ResponseCookie cookie;
    StringSplitter parts(line, ';');
    bool first = true;
    while (parts.hasMore()) {
        const String part = parts.next().trim();
        if (part.isEmpty()) continue;
        const String name = part.before('=').trim();
        const String value = part.find('=') == npos ? String() : unquote(part.after('=').trim());
        const String lower = name.toLower();
        if (first) {
            cookie.name = name;
            cookie.value = value;
            first = false;
        } else if (lower == "domain"_s) {
            cookie.domain = value;
        } else if (lower == "path"_s) {
            cookie.path = value;
        } else if (lower == "expires"_s) {
            cookie.expires = value;
        } else if (lower == "max-age"_s) {
            cookie.maxAge = value;
        } else if (lower == "secure"_s) {
            cookie.secure = true;
        } else {
            cookie.attributes.append({name, value});
        }
    }
    return cookie;
}

String cookieText(const ResponseCookie& cookie) {
    String text = cookie.name + "=" + cookie.value;
    if (!cookie.domain.isEmpty()) text = text + "; domain=" + cookie.domain;
    if (!cookie.path.isEmpty()) text = text + "; path=" + cookie.path;
    if (!cookie.expires.isEmpty()) text = text + "; expires=\"" + cookie.expires + "\"";
    for (const CookieAttribute& attribute : cookie.attributes)
        text = text + "; " + attribute.name + "=\"" + attribute.value + "\"";
    if (cookie.secure) text = text + "; secure";
    if (!cookie.maxAge.isEmpty()) text = text + "; max-age=" + cookie.maxAge;
    return text;
}

}  // namespace

int ResponseHeader::statusCode() {
    if (m_statusState == StateUnknown) {
        const String line = firstLine();
        uint32_t start, end;
        const bool found = codeSpan(line, start, end);
        m_status = found ? line.mid(start, end - start).toInt(10) : 0;
        m_statusState = found ? StatePresent : StateAbsent;
    }
    return m_status;
}

void ResponseHeader::setStatusCode(int code) {
    m_status = code;
    m_statusState = StateChanged;
}

void ResponseHeader::readCookies(CookieList& list, const char* lowerName) {
    if (list.state != StateUnknown) return;
    list.cookies.clear();
    Found found;
    for (uint32_t from = 0; find(lowerName, from, found, "getAttribute", 459); from = found.lineEnd + 1)
        list.cookies.append(parseCookie(m_text.mid(found.valueStart, found.lineEnd - found.valueStart).trim()));
    list.state = list.cookies.isEmpty() ? StateAbsent : StatePresent;
}

const Array<ResponseCookie>& ResponseHeader::cookies() {
    readCookies(m_cookies, "set-cookie");
    return m_cookies.cookies;
}

const Array<ResponseCookie>& ResponseHeader::cookies2() {
    readCookies(m_cookies2, "set-cookie2");
    return m_cookies2.cookies;
}

void ResponseHeader::setCookies(const Array<ResponseCookie>& cookies) {
    m_cookies.cookies = cookies;
    m_cookies.state = StateChanged;
}

void ResponseHeader::setCookies2(const Array<ResponseCookie>& cookies) {
    m_cookies2.cookies = cookies;
    m_cookies2.state = StateChanged;
}

void ResponseHeader::readEntityTag() {
    if (m_tagState != StateUnknown) return;
    if (!hasAttribute("etag")) {
        m_tagState = StateAbsent;
        return;
    }
    String value = getAttribute("etag");
    m_weak = value.length() >= 2 && (value.data()[0] == 'W' || value.data()[0] == 'w') && value.data()[1] == '/';
    if (m_weak) value = value.mid(2);
    m_tag = unquote(value);
    m_tagState = StatePresent;
}

const String& ResponseHeader::entityTag() {
    readEntityTag();
    return m_tag;
}

bool ResponseHeader::isWeakEntityTag() {
    readEntityTag();
    return m_weak;
}

void ResponseHeader::setEntityTag(const String& tag, bool weak) {
    m_tag = tag;
    m_weak = weak;
    m_tagState = StateChanged;
}

void ResponseHeader::writeCookies(CookieList& list, const char* lowerName, const char* canonicalName) {
    if (list.state != StateChanged) return;
    removeAttribute(lowerName);
    for (const ResponseCookie& cookie : list.cookies) addAttribute(canonicalName, cookieText(cookie));
    list.state = StatePresent;
}

String ResponseHeader::toString() {
    if (m_statusState == StateChanged) {
        const String line = firstLine();
        if (line.find(' ') == npos) badHeader("http.ResponseHeader", "extractResponseCode", "response", 95);
        uint32_t start, end;
        if (!codeSpan(line, start, end)) badHeader("http.ResponseHeader", "extractResponseCode", "response", 106);
        m_text = m_text.mid(0, start) + String::fromInt(m_status) + m_text.mid(end);
        m_statusState = StatePresent;
    }
    writeCookies(m_cookies, "set-cookie", "Set-Cookie");
    writeCookies(m_cookies2, "set-cookie2", "Set-Cookie2");
    if (m_tagState == StateChanged) {
        setAttribute("etag", "ETag", (m_weak ? "W/\""_s : "\""_s) + m_tag + "\"");
        m_tagState = StatePresent;
    }
    return Header::toString();
}

void ResponseHeader::reset() {
    Header::reset();
    m_statusState = m_tagState = StateUnknown;
    m_status = 0;
    m_cookies = CookieList();
    m_cookies2 = CookieList();
    m_weak = false;
    m_tag = String();
}

}  // namespace trivane::http
