// Choosing a socket's selector.
#include "base/select.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/selectconfig.h"

namespace trivane {

Selector1::Selector1(Socket& socket) {
    switch (currentSelectMethod()) {
        case SelectMethod::Select:
            m_impl = std::make_unique<Select1>(socket);
            break;
        case SelectMethod::Poll:
            m_impl = std::make_unique<Poll1>(socket);
            break;
        default:
            log(LogError, "Selector1", "Selector1", "Bug, bad selector config");
            TRIVANE_THROW(Exception);
    }
}

}  // namespace trivane
