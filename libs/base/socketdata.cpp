// Reading and writing socket defaults and select methods.
#include "base/socketdata.h"

#include "base/console.h"
#include "base/exception.h"

namespace trivane {

void SelectMethod::setText(const String& text) {
    const String lower = text.toLower();
    if (lower == "select"_s) m_value = Select;
    else if (lower == "poll"_s) m_value = Poll;
    else if (lower == "auto"_s) m_value = Auto;
    else log(LogError, "SelectMethod", "write", "Bad config: "_s + text);
}

String SelectMethod::text() const {
    switch (m_value) {
        case Auto: return "auto"_s;
        case Select: return "select"_s;
        case Poll: return "poll"_s;
        default: return String::fromInt(m_value);
    }
}

void SelectMethod::loadConf(IConfReader& reader) { setText(reader.readString()); }
void SelectMethod::loadStream(IReader& reader) { setText(reader.readString()); }
void SelectMethod::saveConf(IConfWriter& writer) { writer.writeString(text()); }
void SelectMethod::saveStream(IWriter& writer) { writer.writeString(text()); }

const SocketData& SocketData::defaults() {
    static const SocketData s_defaults;
    return s_defaults;
}

namespace {

template <class Read>
void readKey(IConfReader& reader, const String& key, Read read) {
    if (!reader.hasMember(key)) return;
    try {
        read(reader.member(key));
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
    }
}

}  // namespace

void SocketData::loadConf(IConfReader& reader) {
    readKey(reader, "recv-timeout"_s, [&](IConfReader& r) { m_recvTimeout = static_cast<uint32_t>(r.readInt()); });
    readKey(reader, "send-timeout"_s, [&](IConfReader& r) { m_sendTimeout = static_cast<uint32_t>(r.readInt()); });
    readKey(reader, "nodelay"_s, [&](IConfReader& r) { m_noDelay = r.readBool(); });
    readKey(reader, "selectmethod"_s, [&](IConfReader& r) { r.readObject(m_selectMethod); });
}

void SocketData::loadStream(IReader& reader) {
    m_recvTimeout = reader.readUInt32();
    m_sendTimeout = reader.readUInt32();
    m_noDelay = reader.readBool();
    reader.readObject(m_selectMethod);
}

void SocketData::saveConf(IConfWriter& writer) {
    writer.member("recv-timeout"_s).writeInt(static_cast<int32_t>(m_recvTimeout));
    writer.member("send-timeout"_s).writeInt(static_cast<int32_t>(m_sendTimeout));
    writer.member("nodelay"_s).writeBool(m_noDelay);
    writer.member("selectmethod"_s).writeObject(m_selectMethod);
}

void SocketData::saveStream(IWriter& writer) {
    writer.writeUInt32(m_recvTimeout);
    writer.writeUInt32(m_sendTimeout);
    writer.writeBool(m_noDelay);
    writer.writeObject(m_selectMethod);
}

}  // namespace trivane
