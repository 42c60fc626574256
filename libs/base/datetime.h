// A point in time, in whole seconds since 1 January 1970 UTC.
#pragma once

#include "base/serialize.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

// Stored as a member "time" or a positional value: a 32-bit integer, the
// lower half of the seconds.
class DateTime : public ISerialize {
public:
    // The current time.
    DateTime();
    explicit DateTime(int64_t seconds) noexcept : m_seconds(seconds) {}

    int64_t seconds() const noexcept { return m_seconds; }
    // Local time as 20240303_09h05m07.
    String compactText() const;

    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    int64_t m_seconds;
};

}  // namespace trivane
