// What both socket layers share: name lookup and address texts are the
// same BSD socket calls on every system. Included by an
// arch/<system>/socket.cpp after the system's socket headers.
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

// The numeric host and port of an IPv4 or IPv6 address (an IPv4-mapped
// IPv6 address as IPv4); family 0 for any other kind.
inline bool describeSystemAddress(const SystemAddress& address, AddressText& out) {
    char text[INET6_ADDRSTRLEN];
    const auto* a = reinterpret_cast<const sockaddr*>(address.storage);
    if (address.length < sizeof(a->sa_family)) return false;
    if (a->sa_family == AF_INET && address.length >= sizeof(sockaddr_in)) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(a);
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return false;
        out.family = 4;
        out.mapped = false;
        out.host = String(text).clone();
        out.port = String::fromUInt(ntohs(in->sin_port));
        return true;
    }
    if (a->sa_family == AF_INET6 && address.length >= sizeof(sockaddr_in6)) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a);
        out.family = 6;
        out.mapped = IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr);
        const void* bytes = out.mapped ? static_cast<const void*>(in6->sin6_addr.s6_addr + 12)
                                       : static_cast<const void*>(&in6->sin6_addr);
        if (!inet_ntop(out.mapped ? AF_INET : AF_INET6, bytes, text, sizeof text)) return false;
        out.host = String(text).clone();
        out.port = String::fromUInt(ntohs(in6->sin6_port));
        return true;
    }
    out.family = 0;
    return true;
}

}  // namespace trivane::sys::detail
