// The name lookup both socket layers share: getaddrinfo and its hints are
// the same on every system. Included by an arch/<system>/socket.cpp after
// the system's socket headers.
#pragma once

#include "base/arch/socket.h"

#include <cstring>

namespace trivane::sys::detail {

// getaddrinfo's code on failure; the first address found otherwise.
inline int lookupFirstAddress(const String& host, const String& port, int socketType, bool passive,
                              AddressInfo& out) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    const char* service = nullptr;
    String portText = port.clone();
    switch (socketType) {
        case 1:
            hints.ai_socktype = SOCK_DGRAM;
            hints.ai_protocol = IPPROTO_UDP;
            break;
        case 2:
            hints.ai_socktype = SOCK_RAW;
            hints.ai_protocol = IPPROTO_ICMP;
            break;
        default:
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_protocol = IPPROTO_TCP;
            break;
    }
    if (socketType != 2) {
        hints.ai_flags = passive ? AI_PASSIVE : 0;
        service = portText.cStr();
    }
    String hostText = host.clone();
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(hostText.cStr(), service, &hints, &list);
    if (rc != 0) return rc;
    out.family = list->ai_family;
    out.type = list->ai_socktype;
    out.protocol = list->ai_protocol;
    std::memcpy(out.address.storage, list->ai_addr, list->ai_addrlen);
    out.address.length = static_cast<uint32_t>(list->ai_addrlen);
    freeaddrinfo(list);
    return 0;
}

}  // namespace trivane::sys::detail
