// Header blocks: splitting them from the stream, case-insensitive attribute
// search over the raw text, and writing recorded changes.
#include "http/header.h"

#include "base/console.h"

#include <cstring>

namespace trivane::http {

namespace {

constexpr uint32_t npos = String::npos;

const char* const s_knownNames[knownAttributeCount] = {
    "Accept", "Accept-Charset", "Accept-Encoding", "Accept-Language", "Accept-Ranges",
    "Access-Control-Request-Method", "", "Authorization", "Cache-Control", "Connection", "Content-Disposition",
    "Content-Encoding", "Content-Location", "Content-Security-Policy", "Content-Type", "Date", "Destination",
    "Expires", "Host", "If-Modified-Since", "If-Match", "If-None-Match", "Last-Modified", "Location",
    "Max-Forwards", "Origin", "Pragma", "Proxy-Authorization", "Proxy-Connection", "Referer", "Refresh", "Server",
    "SOAPAction", "Trailer", "Transfer-Encoding", "Upgrade", "User-Agent", "Via", "X-Forwarded-Server",
    "X-Forwarded-Host", "X-Forwarded-For", "X-Forwarded-Proto", "X-Velnor-Session", "X-Velnor-User",
    "X-Velnor-Gateway", "X-Velnor-Agent", "X-Velnor-Tunnel", "X-Velnor-Client", "X-Velnor-Version",
    "X-Velnor-Token", "X-Velnor-Route", "X-Velnor-Target", "X-Velnor-Origin", "X-Velnor-Port",
    "X-Velnor-Protocol", "X-Velnor-Status", "X-MicrosoftAjax", "X-Velnor-Compression",
    "Uncompressed-Content-Length", "SSL-CLIENT-S-DN-CN", "SSL-CLIENT-VERIFY", "X-Velnor-Trace",
};

const char* const s_listNames[listAttributeCount] = {"Proxy-Authenticate", "WWW-Authenticate"};

// The searching spelling of a canonical name: A-Z lowered.
class LowerName {
public:
    explicit LowerName(const char* canonical) {
        uint32_t i = 0;
        for (; canonical[i] != 0 && i + 1 < sizeof m_text; ++i) {
            const char c = canonical[i];
            m_text[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        }
        m_text[i] = 0;
    }
    const char* get() const noexcept { return m_text; }

private:
    char m_text[64];
};

String wrap(const char* cText) { return String(cText, static_cast<uint32_t>(std::strlen(cText))); }

}  // namespace

const char* knownAttributeName(int index) noexcept {
    return index >= 0 && index < knownAttributeCount ? s_knownNames[index] : "";
}

const char* listAttributeName(int index) noexcept {
    return index >= 0 && index < listAttributeCount ? s_listNames[index] : "";
}

bool Header::parse(String& input, uint32_t start) {
    if (start >= input.length()) return false;
    const uint32_t crlf = input.find("\r\n\r\n", 4, start);
    const uint32_t lf = input.find("\n\n", 2, start, crlf == npos ? npos : crlf + 4);
    if (crlf == npos && lf == npos) return false;
    const bool isCrlf = crlf != npos && (lf == npos || crlf < lf);
    const uint32_t end = isCrlf ? crlf + 4 : lf + 2;
    reset();
    m_crlf = isCrlf;
    m_text = input.mid(0, end);
    input = input.mid(end);
    return true;
}

void Header::badHeader(const char* module, const char* function, const char* file, uint32_t line) const {
    log(LogTrace, module, function, "bad header: "_s + m_text);
    throw EBadHeader("EBadHeader"_s, wrap(file), line);
}

bool Header::find(const char* lowerName, uint32_t from, Found& found, const char* function, uint32_t line) const {
    const uint32_t length = static_cast<uint32_t>(std::strlen(lowerName));
    if (length == 0) return false;
    const char* data = m_text.data();
    const uint32_t n = m_text.length();
    for (uint32_t hit = m_text.findIgnoreCase(lowerName, length, from); hit != npos;
         hit = m_text.findIgnoreCase(lowerName, length, hit + 1)) {
        if (hit != 0 && data[hit - 1] != '\n') continue;
        uint32_t p = hit + length;
        while (p < n && (data[p] == ' ' || data[p] == '\t' || data[p] == '\r' || data[p] == '\n')) ++p;
        if (p == n || data[p] != ':') continue;
        const uint32_t lineEnd = m_text.find('\n', p + 1);
        if (lineEnd == npos) badHeader("http.Header", function, "header", line);
        found = {hit, p + 1, lineEnd};
        return true;
    }
    return false;
}

String Header::getAttribute(const char* lowerName) const {
    Found found;
    if (!find(lowerName, 0, found, "getAttribute", 459)) return String();
    return m_text.mid(found.valueStart, found.lineEnd - found.valueStart).trim();
}

bool Header::hasAttribute(const char* lowerName) const {
    Found found;
    return find(lowerName, 0, found, "getAttribute", 459);
}

void Header::removeAttribute(const char* lowerName) {
    Found found;
    uint32_t from = 0;
    while (find(lowerName, from, found, "removeAttribute", 377)) {
        m_text = m_text.mid(0, found.line) + m_text.mid(found.lineEnd + 1);
        from = found.line;
    }
}

void Header::addAttribute(const char* canonicalName, const String& value) {
    const uint32_t emptyLine = m_crlf ? 2 : 1;
    const String kept = m_text.mid(0, m_text.length() >= emptyLine ? m_text.length() - emptyLine : 0);
    m_text = kept + wrap(canonicalName) + ": " + value + (m_crlf ? "\r\n\r\n" : "\n\n");
}

void Header::setAttribute(const char* lowerName, const char* canonicalName, const String& value) {
    removeAttribute(lowerName);
    addAttribute(canonicalName, value);
}

const String& Header::knownAttribute(int index) {
    Entry& entry = m_known[index];
    if (entry.state == StateUnknown) {
        const LowerName lower(s_knownNames[index]);
        const bool present = index != Unnamed && hasAttribute(lower.get());
        entry.value = present ? getAttribute(lower.get()) : String();
        entry.state = present ? StatePresent : StateAbsent;
    }
    return entry.value;
}

void Header::setKnownAttribute(int index, const String& value) {
    if (index == Unnamed) return;
    m_known[index] = {StateChanged, value};
}

void Header::removeKnownAttribute(int index) {
    if (index == Unnamed) return;
    m_known[index] = {StateRemoved, String()};
}

const Strings& Header::listAttribute(int index) {
    ListEntry& entry = m_lists[index];
    if (entry.state == StateUnknown) {
        const LowerName lower(s_listNames[index]);
        entry.values.clear();
        Found found;
        for (uint32_t from = 0; find(lower.get(), from, found, "getAttribute", 459); from = found.lineEnd + 1)
            entry.values.append(m_text.mid(found.valueStart, found.lineEnd - found.valueStart).trim());
        entry.state = entry.values.isEmpty() ? StateAbsent : StatePresent;
    }
    return entry.values;
}

void Header::setListAttribute(int index, const Strings& values) {
    m_lists[index].state = StateChanged;
    m_lists[index].values = values;
}

void Header::removeListAttribute(int index) {
    m_lists[index].state = StateRemoved;
    m_lists[index].values.clear();
}

int Header::contentLengthState() {
    if (m_contentLengthState == StateUnknown) {
        m_contentLength = 0;
        if (!hasAttribute("content-length")) {
            m_contentLengthState = StateAbsent;
        } else {
            const String value = getAttribute("content-length");
            if (value.isEmpty() || value.data()[0] < '0' || value.data()[0] > '9') {
                m_contentLengthState = StateRemoved;
            } else {
                m_contentLengthState = StatePresent;
                m_contentLength = static_cast<uint64_t>(value.toInt64(10));
            }
        }
    }
    return m_contentLengthState;
}

uint64_t Header::contentLength() {
    contentLengthState();
    return m_contentLength;
}

void Header::setContentLength(uint64_t length) {
    m_contentLengthState = StateChanged;
    m_contentLength = length;
}

void Header::writeChanges() {
    for (int i = 0; i < knownAttributeCount; ++i) {
        Entry& entry = m_known[i];
        if (i == Unnamed) continue;
        const LowerName lower(s_knownNames[i]);
        if (entry.state == StateChanged) {
            setAttribute(lower.get(), s_knownNames[i], entry.value);
            entry.state = StatePresent;
        } else if (entry.state == StateRemoved) {
            removeAttribute(lower.get());
            entry.state = StateAbsent;
        }
    }
    for (int i = 0; i < listAttributeCount; ++i) {
        ListEntry& entry = m_lists[i];
        const LowerName lower(s_listNames[i]);
        if (entry.state == StateChanged) {
            removeAttribute(lower.get());
            for (const String& value : entry.values) addAttribute(s_listNames[i], value);
            entry.state = StatePresent;
        } else if (entry.state == StateRemoved) {
            removeAttribute(lower.get());
            entry.state = StateAbsent;
        }
    }
    if (m_contentLengthState == StateChanged) {
        setAttribute("content-length", "Content-Length", String::fromUInt64(m_contentLength));
        m_contentLengthState = StatePresent;
    } else if (m_contentLengthState == StateRemoved) {
        removeAttribute("content-length");
        m_contentLengthState = StateAbsent;
    }
}

String Header::toString() {
    writeChanges();
    return m_text;
}

void Header::reset() {
    m_text = String();
    m_crlf = true;
    for (Entry& entry : m_known) entry = Entry();
    for (ListEntry& entry : m_lists) entry = ListEntry();
    m_contentLengthState = StateUnknown;
    m_contentLength = 0;
}

String Header::firstLine() const {
    uint32_t end = m_text.find('\n');
    if (end == npos) end = m_text.length();
    if (end > 0 && m_text.data()[end - 1] == '\r') --end;
    return m_text.mid(0, end);
}

}  // namespace trivane::http
