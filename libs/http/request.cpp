// Request lines and request cookies.
#include "http/request.h"

namespace trivane::http {

namespace {

constexpr uint32_t npos = String::npos;

// Where the URI of a request line starts and ends; false without them.
bool uriSpan(const String& line, uint32_t& start, uint32_t& end) {
    const uint32_t space = line.find(' ');
    if (space == npos) return false;
    start = space;
    while (start < line.length() && line.data()[start] == ' ') ++start;
    end = line.find(' ', start);
    return end != npos;
}

}  // namespace

const String& RequestHeader::method() {
    if (m_methodState == StateUnknown) {
        const String line = firstLine();
        const uint32_t space = line.find(' ');
        m_method = space == npos ? String() : line.mid(0, space);
        m_methodState = space == npos ? StateAbsent : StatePresent;
    }
    return m_method;
}

void RequestHeader::setMethod(const String& method) {
    m_method = method;
    m_methodState = StateChanged;
}

const String& RequestHeader::uri() {
    if (m_uriState == StateUnknown) {
        const String line = firstLine();
        uint32_t start, end;
        const bool found = uriSpan(line, start, end);
        m_uri = found ? line.mid(start, end - start) : String();
        m_uriState = found ? StatePresent : StateAbsent;
    }
    return m_uri;
}

void RequestHeader::setUri(const String& uri) {
    m_uri = uri;
    m_uriState = StateChanged;
}

const Array<RequestCookie>& RequestHeader::cookies() {
    if (m_cookiesState == StateUnknown) {
        m_cookies.clear();
        StringSplitter pairs(getAttribute("cookie"), ';');
        while (pairs.hasMore()) {
            const String pair = pairs.next().trim();
            if (pair.isEmpty()) continue;
            m_cookies.append({pair.before('=').trim(), pair.after('=').trim()});
        }
        m_cookiesState = m_cookies.isEmpty() ? StateAbsent : StatePresent;
    }
    return m_cookies;
}

void RequestHeader::setCookies(const Array<RequestCookie>& cookies) {
    m_cookies = cookies;
    m_cookiesState = StateChanged;
}

String RequestHeader::toString() {
    if (m_methodState == StateChanged) {
        const uint32_t space = firstLine().find(' ');
        if (space == npos) badHeader("http.RequestHeader", "toString", "request", 63);
        m_text = m_method + m_text.mid(space);
        m_methodState = StatePresent;
    }
    if (m_uriState == StateChanged) {
        const String line = firstLine();
        if (line.find(' ') == npos) badHeader("http.RequestHeader", "toString", "request", 75);
        uint32_t start, end;
        if (!uriSpan(line, start, end)) badHeader("http.RequestHeader", "toString", "request", 86);
        m_text = m_text.mid(0, start) + m_uri + m_text.mid(end);
        m_uriState = StatePresent;
    }
    if (m_cookiesState == StateChanged) {
        String joined;
        for (const RequestCookie& cookie : m_cookies) {
            if (!joined.isEmpty()) joined.append("; ", 2);
            joined.append(cookie.name);
            joined.append('=');
            joined.append(cookie.value);
        }
        setAttribute("cookie", "Cookie", joined);
        m_cookiesState = StatePresent;
    }
    return Header::toString();
}

void RequestHeader::reset() {
    Header::reset();
    m_methodState = m_uriState = m_cookiesState = StateUnknown;
    m_method = m_uri = String();
    m_cookies.clear();
}

}  // namespace trivane::http
