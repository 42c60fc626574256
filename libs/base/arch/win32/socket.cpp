// Winsock behind the portable socket interface. Its error numbers are the
// ones the interface speaks, so they pass through unchanged.
#include "base/arch/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>

// After the system headers it builds on.
#include "base/arch/bsdsocket.h"

namespace trivane::sys {

namespace {

static_assert(sizeof(sockaddr_storage) <= sizeof(SystemAddress::storage));

SOCKET native(SocketHandle s) { return static_cast<SOCKET>(s); }
const sockaddr* raw(const SystemAddress& a) { return reinterpret_cast<const sockaddr*>(a.storage); }
sockaddr* raw(SystemAddress& a) { return reinterpret_cast<sockaddr*>(a.storage); }

// Winsock is started once, before the first call that needs it, and stays
// up until the process ends.
int startWinsock() {
    static const int s_started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (s_started != 0) WSASetLastError(s_started);
    return s_started;
}

int setOption(SocketHandle s, int level, int name, const void* value, int length) {
    return setsockopt(native(s), level, name, static_cast<const char*>(value), length) == 0 ? 0 : -1;
}

int setFlag(SocketHandle s, int level, int name, bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return setOption(s, level, name, &value, sizeof value);
}

// Winsock's time-outs are whole milliseconds in a DWORD.
int setTimeout(SocketHandle s, int name, uint32_t ms) {
    const DWORD value = ms;
    return setOption(s, SOL_SOCKET, name, &value, sizeof value);
}

int64_t timeout(SocketHandle s, int name) {
    DWORD value = 0;
    int length = sizeof value;
    if (getsockopt(native(s), SOL_SOCKET, name, reinterpret_cast<char*>(&value), &length) != 0) return -1;
    return value;
}

void notInherited(SOCKET s) { SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

}  // namespace

int lastSocketError() noexcept { return WSAGetLastError(); }

int lookupAddress(const String& host, const String& port, int socketType, bool passive, AddressInfo& out) {
    if (const int rc = startWinsock()) return rc;
    return detail::lookupFirstAddress(host, port, socketType, passive, out);
}

String lookupErrorText(int code) { return String(gai_strerrorA(code)).clone(); }

SocketHandle socketOpen(int family, int type, int protocol) {
    if (startWinsock() != 0) return invalidSocket;
    const SOCKET s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return invalidSocket;
    notInherited(s);  // systems without the flag
    // IPv6 sockets carry IPv4 as well, as they do on Linux: a listener on
    // "[::]" is reached by both families.
    if (family == AF_INET6) {
        const DWORD off = 0;
        setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
    }
    return static_cast<SocketHandle>(s);
}

void socketClose(SocketHandle s) { closesocket(native(s)); }

int socketBind(SocketHandle s, const SystemAddress& a) {
    return bind(native(s), raw(a), static_cast<int>(a.length)) == 0 ? 0 : -1;
}

int socketListen(SocketHandle s, int backlog) { return listen(native(s), backlog) == 0 ? 0 : -1; }

SocketHandle socketAccept(SocketHandle s) {
    const SOCKET accepted = accept(native(s), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) return invalidSocket;
    notInherited(accepted);
    return static_cast<SocketHandle>(accepted);
}

int socketConnect(SocketHandle s, const SystemAddress& a) {
    return connect(native(s), raw(a), static_cast<int>(a.length)) == 0 ? 0 : -1;
}

int socketRecv(SocketHandle s, void* buffer, int length) {
    return recv(native(s), static_cast<char*>(buffer), length, 0);
}

int socketSend(SocketHandle s, const void* data, int length) {
    return send(native(s), static_cast<const char*>(data), length, 0);
}

int socketRecvFrom(SocketHandle s, void* buffer, int length, SystemAddress& from) {
    int size = sizeof from.storage;
    const int rc = recvfrom(native(s), static_cast<char*>(buffer), length, 0, raw(from), &size);
    from.length = rc >= 0 ? static_cast<uint32_t>(size) : 0;
    return rc;
}

int socketSendTo(SocketHandle s, const void* data, int length, const SystemAddress& to) {
    return sendto(native(s), static_cast<const char*>(data), length, 0, raw(to), static_cast<int>(to.length));
}

int socketShutdown(SocketHandle s, int how) {
    const int native_ = how == 0 ? SD_RECEIVE : how == 1 ? SD_SEND : SD_BOTH;
    return shutdown(native(s), native_) == 0 ? 0 : -1;
}

// A shut-down socket ends no blocked call here: the blocked receive, accept
// or wait is cancelled as the I/O it is underneath. A call that its thread
// was only about to make when the first cancel came is caught by the later
// ones; the caller has released its lock just before the call.
void socketInterrupt(SocketHandle s) {
    shutdown(native(s), SD_BOTH);
    const HANDLE handle = reinterpret_cast<HANDLE>(native(s));
    CancelIoEx(handle, nullptr);
    for (int i = 0; i < 10; ++i) {
        Sleep(10);
        CancelIoEx(handle, nullptr);
    }
}

int socketSetBlocking(SocketHandle s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(native(s), FIONBIO, &nonBlocking) == 0 ? 0 : -1;
}

// Winsock's SO_REUSEADDR would let any other socket bind a port that is
// already listening and take its connections. What callers want from it is
// what Linux gives, a prompt rebind after a close, which Winsock allows
// anyway; the exclusive use keeps the port ours while it is bound.
int socketSetReuseAddress(SocketHandle s, bool on) { return setFlag(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, on); }
int socketSetRecvTimeout(SocketHandle s, uint32_t ms) { return setTimeout(s, SO_RCVTIMEO, ms); }
int socketSetSendTimeout(SocketHandle s, uint32_t ms) { return setTimeout(s, SO_SNDTIMEO, ms); }
int socketSetNoDelay(SocketHandle s, bool on) { return setFlag(s, IPPROTO_TCP, TCP_NODELAY, on); }
int socketSetBroadcast(SocketHandle s, bool on) { return setFlag(s, SOL_SOCKET, SO_BROADCAST, on); }

int socketSetLingerZero(SocketHandle s) {
    linger value;
    value.l_onoff = 1;
    value.l_linger = 0;
    return setOption(s, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

int64_t socketRecvTimeout(SocketHandle s) { return timeout(s, SO_RCVTIMEO); }
int64_t socketSendTimeout(SocketHandle s) { return timeout(s, SO_SNDTIMEO); }

int socketNoDelay(SocketHandle s) {
    BOOL value = FALSE;
    int length = sizeof value;
    if (getsockopt(native(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value), &length) != 0) return -1;
    return value != FALSE ? 1 : 0;
}

int socketPendingError(SocketHandle s, int& error) {
    int value = 0;
    int length = sizeof value;
    if (getsockopt(native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &length) != 0) return -1;
    error = value;
    return 0;
}

int socketPeerName(SocketHandle s, SystemAddress& out) {
    int length = sizeof out.storage;
    const int rc = getpeername(native(s), raw(out), &length);
    out.length = rc == 0 ? static_cast<uint32_t>(length) : 0;
    return rc == 0 ? 0 : -1;
}

int socketLocalName(SocketHandle s, SystemAddress& out) {
    int length = sizeof out.storage;
    const int rc = getsockname(native(s), raw(out), &length);
    out.length = rc == 0 ? static_cast<uint32_t>(length) : 0;
    return rc == 0 ? 0 : -1;
}

bool describeAddress(const SystemAddress& address, AddressText& out) {
    return detail::describeSystemAddress(address, out);
}

// select() serves every socket: its sets hold handles, not small numbers.
bool pollSupported() noexcept { return false; }

}  // namespace trivane::sys
