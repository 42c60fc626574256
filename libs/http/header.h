// One HTTP header block kept as raw text: attribute reads look into the
// text, changes are recorded and written back by toString.
#pragma once

#include "base/array.h"
#include "base/exception.h"
#include "base/string.h"

#include <cstdint>

namespace trivane::http {

TRIVANE_DECLARE_EXCEPTION(HttpException, Exception);
TRIVANE_DECLARE_EXCEPTION(HeaderException, HttpException);
TRIVANE_DECLARE_EXCEPTION(EBadHeader, HeaderException);

// States of a recorded attribute.
enum AttributeState : int {
    StateUnknown = 0,  // not yet looked up
    StatePresent = 1,  // present (value known) or written
    StateAbsent = 2,   // absent or removed
    StateChanged = 3,  // to be written by toString
    StateRemoved = 4,  // to be removed by toString; for the content length also "not a number"
};

// The known attributes, in the order toString writes them.
enum KnownAttribute : int {
    Accept, AcceptCharset, AcceptEncoding, AcceptLanguage, AcceptRanges, AccessControlRequestMethod, Unnamed,
    Authorization, CacheControl, Connection, ContentDisposition, ContentEncoding, ContentLocation,
    ContentSecurityPolicy, ContentType, Date, Destination, Expires, Host, IfModifiedSince, IfMatch, IfNoneMatch,
    LastModified, Location, MaxForwards, Origin, Pragma, ProxyAuthorization, ProxyConnection, Referer, Refresh,
    Server, SoapAction, Trailer, TransferEncoding, Upgrade, UserAgent, Via, XForwardedServer, XForwardedHost,
    XForwardedFor, XForwardedProto, SuiteSession, SuiteUser, SuiteGateway, SuiteAgent, SuiteTunnel, SuiteClient,
    SuiteVersion, SuiteToken, SuiteRoute, SuiteTarget, SuiteOrigin, SuitePort, SuiteProtocol, SuiteStatus,
    XMicrosoftAjax, SuiteCompression, UncompressedContentLength, SslClientSDnCn, SslClientVerify, SuiteTrace,
    knownAttributeCount
};

// Attributes that may occur on several lines, one value per line.
enum ListAttribute : int { ProxyAuthenticate, WwwAuthenticate, listAttributeCount };

// The canonical spelling ("" for the unnamed entry).
const char* knownAttributeName(int index) noexcept;
const char* listAttributeName(int index) noexcept;

// A header belongs to one thread.
class Header {
public:
    Header() = default;
    virtual ~Header() = default;

    // Finds the end of a header block (CR LF CR LF or LF LF, whichever comes
    // first) at or after `start`. Then the header is the input up to and
    // including it, the input keeps what follows, and the result is true.
    // Without an end: false, nothing changed (more input is needed).
    bool parse(String& input, uint32_t start = 0);

    // The trimmed value of the first line of that attribute, empty when
    // absent. A matching line without an LF throws EBadHeader.
    String getAttribute(const char* lowerName) const;
    bool hasAttribute(const char* lowerName) const;
    // Removes every line of that attribute.
    void removeAttribute(const char* lowerName);
    // Appends one line before the empty line that ends the block.
    void addAttribute(const char* canonicalName, const String& value);
    void setAttribute(const char* lowerName, const char* canonicalName, const String& value);

    const String& knownAttribute(int index);
    void setKnownAttribute(int index, const String& value);
    void removeKnownAttribute(int index);
    int knownAttributeState(int index) const { return m_known[index].state; }

    const Strings& listAttribute(int index);
    void setListAttribute(int index, const Strings& values);
    void removeListAttribute(int index);
    int listAttributeState(int index) const { return m_lists[index].state; }

    // Read on first use: absent is state 2 and 0, a value not starting with
    // a digit state 4 and 0, otherwise state 1 and the number.
    uint64_t contentLength();
    int contentLengthState();
    void setContentLength(uint64_t length);

    bool crlf() const noexcept { return m_crlf; }
    const String& text() const noexcept { return m_text; }

    // Writes the recorded changes into the text and returns it.
    virtual String toString();
    // Empties the text; every state back to 0.
    virtual void reset();

protected:
    struct Found {
        uint32_t line;        // first byte of the line
        uint32_t valueStart;  // after ":"
        uint32_t lineEnd;     // the LF
    };
    // The first line of the attribute at or after `from`; false when none.
    // `function` and `line` name the throw site of a line without an LF.
    bool find(const char* lowerName, uint32_t from, Found& found, const char* function, uint32_t line) const;
    // Logs "bad header: " with the text and throws EBadHeader.
    [[noreturn]] void badHeader(const char* module, const char* function, const char* file, uint32_t line) const;
    void writeChanges();
    // The first line, without its line end.
    String firstLine() const;

    String m_text;
    bool m_crlf = true;

private:
    struct Entry {
        int state = StateUnknown;
        String value;
    };
    struct ListEntry {
        int state = StateUnknown;
        Strings values;
    };
    Entry m_known[knownAttributeCount];
    ListEntry m_lists[listAttributeCount];
    int m_contentLengthState = StateUnknown;
    uint64_t m_contentLength = 0;
};

}  // namespace trivane::http
