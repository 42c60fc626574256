// The platform's sockets behind a small typed interface. Every failing call
// reports its error as a Winsock number through lastSocketError().
#pragma once

#include "base/string.h"

#include <cstdint>

namespace trivane::sys {

using SocketHandle = intptr_t;
constexpr SocketHandle invalidSocket = -1;

// A system socket address of either family, opaque to portable code.
struct SystemAddress {
    alignas(8) unsigned char storage[128];
    uint32_t length = 0;
};

// What a name lookup found: the values a socket is created with.
struct AddressInfo {
    int family = 0;
    int type = 0;
    int protocol = 0;
    SystemAddress address;
};

// What a system address says, for building a SocketAddress.
struct AddressText {
    int family = 0;       // 4, 6, or 0 for any other family
    bool mapped = false;  // an IPv6 address carrying an IPv4 one
    String host;          // dotted or IPv6 text (the embedded IPv4 one when mapped)
    String port;
};

// The Winsock number of the calling thread's last failed socket call.
int lastSocketError() noexcept;

// socketType: 0 TCP, 1 UDP, 2 ICMP. Returns 0, or the lookup's own error
// code, whose text lookupErrorText gives.
int lookupAddress(const String& host, const String& port, int socketType, bool passive, AddressInfo& out);
String lookupErrorText(int code);

// Descriptors are never inherited by child processes. -1 on failure.
SocketHandle socketOpen(int family, int type, int protocol);
void socketClose(SocketHandle s);
int socketBind(SocketHandle s, const SystemAddress& address);
int socketListen(SocketHandle s, int backlog);
SocketHandle socketAccept(SocketHandle s);
int socketConnect(SocketHandle s, const SystemAddress& address);
int socketRecv(SocketHandle s, void* buffer, int length);
// Never raises a signal when the peer has gone.
int socketSend(SocketHandle s, const void* data, int length);
int socketRecvFrom(SocketHandle s, void* buffer, int length, SystemAddress& from);
int socketSendTo(SocketHandle s, const void* data, int length, const SystemAddress& to);
// how: 0 receiving, 1 sending, 2 both.
int socketShutdown(SocketHandle s, int how);
// Wakes the calls that other threads have blocked on the socket (a receive,
// an accept, a readiness wait): they fail or see the end. The socket is
// good for nothing but closing afterwards.
void socketInterrupt(SocketHandle s);
int socketSetBlocking(SocketHandle s, bool blocking);

int socketSetReuseAddress(SocketHandle s, bool on);
int socketSetRecvTimeout(SocketHandle s, uint32_t ms);
int socketSetSendTimeout(SocketHandle s, uint32_t ms);
int socketSetNoDelay(SocketHandle s, bool on);
int socketSetBroadcast(SocketHandle s, bool on);
int socketSetLingerZero(SocketHandle s);
// The values in force, as the system reports them (-1 when unreadable).
int64_t socketRecvTimeout(SocketHandle s);
int64_t socketSendTimeout(SocketHandle s);
int socketNoDelay(SocketHandle s);
// The pending error of the socket (a Winsock number, 0 for none); -1 when
// it cannot be read.
int socketPendingError(SocketHandle s, int& error);

int socketPeerName(SocketHandle s, SystemAddress& out);
int socketLocalName(SocketHandle s, SystemAddress& out);
// False when the conversion fails.
bool describeAddress(const SystemAddress& address, AddressText& out);

// Whether poll() can serve every socket here.
bool pollSupported() noexcept;

}  // namespace trivane::sys
