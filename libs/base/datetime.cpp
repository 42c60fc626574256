// Date and time values.
#include "base/datetime.h"

#include "base/arch/clock.h"
#include "base/clock.h"

#include <cstdio>

namespace trivane {

DateTime::DateTime() : m_seconds(static_cast<int64_t>(currentMilliseconds() / 1000)) {}

String DateTime::compactText() const {
    const sys::LocalTime t = sys::localTime(m_seconds);
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%04d%02d%02d_%02dh%02dm%02d", t.year, t.month, t.day, t.hour,
                                t.minute, t.second);
    return n > 0 ? String(text) : String();
}

void DateTime::loadConf(IConfReader& reader) {
    m_seconds = static_cast<uint32_t>(reader.member("time"_s).readInt());
}

void DateTime::loadStream(IReader& reader) { m_seconds = reader.readUInt32(); }

void DateTime::saveConf(IConfWriter& writer) {
    writer.member("time"_s).writeInt(static_cast<int32_t>(static_cast<uint32_t>(m_seconds)));
}

void DateTime::saveStream(IWriter& writer) { writer.writeUInt32(static_cast<uint32_t>(m_seconds)); }

}  // namespace trivane
