// Exception texts.
#include "base/exception.h"

#include "base/console.h"

namespace trivane {

String lastPathComponent(const String& path) {
    uint32_t separator = path.rfind('/');
    if (separator == String::npos) separator = path.rfind('\\');
    return separator == String::npos ? path : path.mid(separator + 1);
}

Exception::Exception(const String& message, const String& path, uint32_t line)
    : Exception(0, message, path, line) {}

Exception::Exception(int32_t code, const String& message, const String& path, uint32_t line)
    : m_message(message), m_file(lastPathComponent(path)), m_line(line), m_code(code) {}

String Exception::text() const {
    String text = m_message + ":" + m_file + ":" + String::fromUInt(m_line);
    if (m_code != 0) text = text + "(" + String::fromUInt(static_cast<uint32_t>(m_code)) + ")";
    return text;
}

String Exception::catchText(const String& path, uint32_t line) const {
    return text() + " -> " + lastPathComponent(path) + ":" + String::fromUInt(line);
}

void logCaught(const Exception& e, const String& path, uint32_t line) {
    log(LogTrace, "Exception", "catch", e.catchText(path, line));
}

}  // namespace trivane
