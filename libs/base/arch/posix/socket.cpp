// BSD sockets behind the portable socket interface.
#include "base/arch/socket.h"

#include "base/arch/posix/syserror.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// After the system headers it builds on.
#include "base/arch/bsdsocket.h"

namespace trivane::sys {

namespace {

static_assert(sizeof(sockaddr_storage) <= sizeof(SystemAddress::storage));

int fd(SocketHandle s) { return static_cast<int>(s); }
const sockaddr* raw(const SystemAddress& a) { return reinterpret_cast<const sockaddr*>(a.storage); }
sockaddr* raw(SystemAddress& a) { return reinterpret_cast<sockaddr*>(a.storage); }

int setOption(SocketHandle s, int level, int name, const void* value, socklen_t length) {
    return setsockopt(fd(s), level, name, value, length);
}

int setFlag(SocketHandle s, int level, int name, bool on) {
    const int value = on ? 1 : 0;
    return setOption(s, level, name, &value, sizeof value);
}

int setTimeout(SocketHandle s, int name, uint32_t ms) {
    timeval tv;
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return setOption(s, SOL_SOCKET, name, &tv, sizeof tv);
}

int64_t timeout(SocketHandle s, int name) {
    timeval tv;
    socklen_t length = sizeof tv;
    if (getsockopt(fd(s), SOL_SOCKET, name, &tv, &length) != 0) return -1;
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

// A call interrupted by a signal is repeated: Winsock has no such case.
template <class Call>
auto retry(Call call) {
    for (;;) {
        auto rc = call();
        if (rc >= 0 || errno != EINTR) return rc;
    }
}

// On a blocking socket "would block" means the receive or send time-out
// expired, which Winsock reports as a time-out.
template <class Rc>
Rc timedOut(SocketHandle s, Rc rc) {
    if (rc < 0 && errno == EAGAIN) {
        const int flags = fcntl(fd(s), F_GETFL);
        if (flags >= 0 && !(flags & O_NONBLOCK)) errno = ETIMEDOUT;
    }
    return rc;
}

}  // namespace

int lastSocketError() noexcept { return windowsSocketError(errno); }

int lookupAddress(const String& host, const String& port, int socketType, bool passive, AddressInfo& out) {
    return detail::lookupFirstAddress(host, port, socketType, passive, out);
}

String lookupErrorText(int code) { return String(gai_strerror(code)).clone(); }

SocketHandle socketOpen(int family, int type, int protocol) {
    return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

void socketClose(SocketHandle s) { ::close(fd(s)); }

int socketBind(SocketHandle s, const SystemAddress& a) { return ::bind(fd(s), raw(a), a.length); }

int socketListen(SocketHandle s, int backlog) { return ::listen(fd(s), backlog); }

SocketHandle socketAccept(SocketHandle s) {
    return retry([&] { return ::accept4(fd(s), nullptr, nullptr, SOCK_CLOEXEC); });
}

int socketConnect(SocketHandle s, const SystemAddress& a) { return ::connect(fd(s), raw(a), a.length); }

int socketRecv(SocketHandle s, void* buffer, int length) {
    return static_cast<int>(
        timedOut(s, retry([&] { return ::recv(fd(s), buffer, static_cast<size_t>(length), 0); })));
}

int socketSend(SocketHandle s, const void* data, int length) {
    return static_cast<int>(
        timedOut(s, retry([&] { return ::send(fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL); })));
}

int socketRecvFrom(SocketHandle s, void* buffer, int length, SystemAddress& from) {
    socklen_t size = sizeof from.storage;
    const int rc = static_cast<int>(
        retry([&] { return ::recvfrom(fd(s), buffer, static_cast<size_t>(length), 0, raw(from), &size); }));
    from.length = rc >= 0 ? size : 0;
    return rc;
}

int socketSendTo(SocketHandle s, const void* data, int length, const SystemAddress& to) {
    return static_cast<int>(retry(
        [&] { return ::sendto(fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL, raw(to), to.length); }));
}

int socketShutdown(SocketHandle s, int how) {
    const int native = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    return ::shutdown(fd(s), native);
}

// Linux ends every blocked call on a socket that is shut down both ways.
void socketInterrupt(SocketHandle s) { ::shutdown(fd(s), SHUT_RDWR); }

int socketSetBlocking(SocketHandle s, bool blocking) {
    const int flags = fcntl(fd(s), F_GETFL);
    if (flags < 0) return -1;
    return fcntl(fd(s), F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

int socketSetReuseAddress(SocketHandle s, bool on) { return setFlag(s, SOL_SOCKET, SO_REUSEADDR, on); }
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
    int value = 0;
    socklen_t length = sizeof value;
    if (getsockopt(fd(s), IPPROTO_TCP, TCP_NODELAY, &value, &length) != 0) return -1;
    return value != 0 ? 1 : 0;
}

int socketPendingError(SocketHandle s, int& error) {
    int value = 0;
    socklen_t length = sizeof value;
    if (getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &value, &length) != 0) return -1;
    error = windowsSocketError(value);
    return 0;
}

int socketPeerName(SocketHandle s, SystemAddress& out) {
    socklen_t length = sizeof out.storage;
    const int rc = getpeername(fd(s), raw(out), &length);
    out.length = rc == 0 ? length : 0;
    return rc;
}

int socketLocalName(SocketHandle s, SystemAddress& out) {
    socklen_t length = sizeof out.storage;
    const int rc = getsockname(fd(s), raw(out), &length);
    out.length = rc == 0 ? length : 0;
    return rc;
}

bool describeAddress(const SystemAddress& address, AddressText& out) {
    return detail::describeSystemAddress(address, out);
}

bool pollSupported() noexcept { return true; }

}  // namespace trivane::sys
