// The process-wide choice of readiness mechanism, resolved once from "auto".
#pragma once

#include "base/socketdata.h"

#include <atomic>

namespace trivane {

class SelectConfig {
public:
    explicit SelectConfig(bool pollSupported);

    // The configured method; "auto" is resolved (and logged) on first use.
    // A value outside 0 to 2 is logged and throws Exception.
    int32_t current();
    void setMethod(int32_t method) noexcept { m_method.store(method, std::memory_order_relaxed); }
    bool pollSupported() const noexcept { return m_pollSupported; }

    static SelectConfig& instance();

private:
    std::atomic<int32_t> m_method{SelectMethod::Auto};
    bool m_pollSupported;
};

// SelectConfig::instance().current().
int32_t currentSelectMethod();

}  // namespace trivane
