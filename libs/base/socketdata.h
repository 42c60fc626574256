// Per-socket defaults and the name of the readiness mechanism.
#pragma once

#include "base/serialize.h"

#include <cstdint>

namespace trivane {

class SelectMethod : public ISerialize {
public:
    enum : int32_t { Auto = 0, Select = 1, Poll = 2 };

    SelectMethod(int32_t value = Auto) : m_value(value) {}
    int32_t value() const noexcept { return m_value; }
    void setValue(int32_t value) noexcept { m_value = value; }

    // "auto", "select" or "poll" in any case; any other text is logged and
    // leaves the value as it was.
    void setText(const String& text);
    // The lower-case name, or the number for a value outside 0 to 2.
    String text() const;

    // Both forms hold the name.
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    int32_t m_value;
};

class SocketData : public ISerialize {
public:
    uint32_t m_recvTimeout = 90000;
    uint32_t m_sendTimeout = 90000;
    bool m_noDelay = true;
    SelectMethod m_selectMethod;

    // The process-wide defaults applied to listening and accepted sockets.
    static const SocketData& defaults();

    // Keys absent are skipped; a value that fails to read is logged and skipped.
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;
};

}  // namespace trivane
