// Resolving the readiness mechanism.
#include "base/selectconfig.h"

#include "base/arch/socket.h"
#include "base/console.h"
#include "base/exception.h"

namespace trivane {

SelectConfig::SelectConfig(bool pollSupported) : m_pollSupported(pollSupported) {}

int32_t SelectConfig::current() {
    int32_t method = m_method.load(std::memory_order_relaxed);
    if (method == SelectMethod::Auto) {
        const int32_t resolved = m_pollSupported ? SelectMethod::Poll : SelectMethod::Select;
        // Only the thread that resolves it logs the choice.
        if (m_method.compare_exchange_strong(method, resolved, std::memory_order_relaxed)) {
            log(LogTrace, "SelectConfig", "autoconf",
                m_pollSupported ? "poll() is supported on this platform, using poll()"
                                : "poll() is not supported on this platform, using select()");
            method = resolved;
        }
    }
    if (method < SelectMethod::Auto || method > SelectMethod::Poll) {
        log(LogError, "SelectConfig", "getConf", "Bug, unknown config");
        TRIVANE_THROW(Exception);
    }
    return method;
}

SelectConfig& SelectConfig::instance() {
    static SelectConfig s_config(sys::pollSupported());
    return s_config;
}

int32_t currentSelectMethod() { return SelectConfig::instance().current(); }

}  // namespace trivane
