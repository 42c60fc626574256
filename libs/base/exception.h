// The exception family: a message (the thrown class's name), the source
// module, the line and an optional code, with one fixed text form.
#pragma once

#include "base/assert.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

class Exception {
public:
    Exception(const String& message, const String& path, uint32_t line);
    Exception(int32_t code, const String& message, const String& path, uint32_t line);
    virtual ~Exception() = default;

    const String& message() const noexcept { return m_message; }
    const String& file() const noexcept { return m_file; }
    uint32_t line() const noexcept { return m_line; }
    int32_t code() const noexcept { return m_code; }

    // "message:file:line", then "(code)" as an unsigned number when non-zero.
    String text() const;
    // text() + " -> " + the catching file's last component + ":" + line.
    String catchText(const String& path, uint32_t line) const;

private:
    String m_message;
    String m_file;
    uint32_t m_line;
    int32_t m_code;
};

// The last component of a path: after its last '/', or else after its last '\'.
String lastPathComponent(const String& path);

// Logs a caught exception by the catch convention: TRACE, module "Exception",
// function "catch", the exception's catchText for this catch site.
void logCaught(const Exception& e, const String& path, uint32_t line);

}  // namespace trivane

#define TRIVANE_DECLARE_EXCEPTION(Name, Base) \
    class Name : public Base {                \
    public:                                   \
        using Base::Base;                     \
    }

// Throws E with its name as written here, this source module and line.
#define TRIVANE_THROW(E) throw E(#E, ::trivane::String(TRIVANE_MODULE_PATH), __LINE__)
#define TRIVANE_THROW_CODE(E, code) throw E((code), #E, ::trivane::String(TRIVANE_MODULE_PATH), __LINE__)
#define TRIVANE_LOG_CAUGHT(e) ::trivane::logCaught((e), ::trivane::String(TRIVANE_MODULE_PATH), __LINE__)

namespace trivane {

TRIVANE_DECLARE_EXCEPTION(NullException, Exception);
TRIVANE_DECLARE_EXCEPTION(ENotImplemented, Exception);
TRIVANE_DECLARE_EXCEPTION(EBadItem, Exception);
TRIVANE_DECLARE_EXCEPTION(EFile, Exception);
TRIVANE_DECLARE_EXCEPTION(EEventManager, Exception);
TRIVANE_DECLARE_EXCEPTION(EConfMissingKey, Exception);
TRIVANE_DECLARE_EXCEPTION(EConfBadValue, Exception);
// A length or capacity whose 32-bit arithmetic would wrap.
TRIVANE_DECLARE_EXCEPTION(ESizeOverflow, Exception);

TRIVANE_DECLARE_EXCEPTION(IOException, Exception);
TRIVANE_DECLARE_EXCEPTION(ENamedPipeIO, IOException);
TRIVANE_DECLARE_EXCEPTION(ESocket, IOException);
TRIVANE_DECLARE_EXCEPTION(ESocketIO, IOException);
TRIVANE_DECLARE_EXCEPTION(ESocketUdpIO, IOException);
TRIVANE_DECLARE_EXCEPTION(ESocketServerUdpIO, IOException);
TRIVANE_DECLARE_EXCEPTION(ESocketIcmpIO, IOException);
TRIVANE_DECLARE_EXCEPTION(ESocketServerIcmpIO, IOException);
TRIVANE_DECLARE_EXCEPTION(EVirtualSocketUdpIO, IOException);
TRIVANE_DECLARE_EXCEPTION(EVirtualSocketIcmpIO, IOException);
TRIVANE_DECLARE_EXCEPTION(ENextIO, IOException);
TRIVANE_DECLARE_EXCEPTION(ETlsIO, ENextIO);
TRIVANE_DECLARE_EXCEPTION(ETlsIOZeroReturn, ETlsIO);
TRIVANE_DECLARE_EXCEPTION(ETlsIOWantConnect, ETlsIO);
TRIVANE_DECLARE_EXCEPTION(ETlsIOWantAccept, ETlsIO);
TRIVANE_DECLARE_EXCEPTION(ETlsIOWantX509Lookup, ETlsIO);
TRIVANE_DECLARE_EXCEPTION(ETlsIOSyscall, ETlsIO);

// Sum of 32-bit sizes, refused when it would wrap.
inline uint32_t checkedSize(uint64_t size) {
    if (size > 0xFFFFFFFFu) [[unlikely]] TRIVANE_THROW(ESizeOverflow);
    return static_cast<uint32_t>(size);
}

}  // namespace trivane
