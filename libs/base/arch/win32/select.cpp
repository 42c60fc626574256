// select() and WSAPoll() on one socket.
#include "base/select.h"

#include "base/socket2.h"

#include <winsock2.h>

#include <climits>

namespace trivane {

struct Select1::Sets {
    fd_set read;
    fd_set write;
    fd_set error;
    SOCKET socket = INVALID_SOCKET;
};

Select1::Select1(Socket& socket) : m_sets(std::make_unique<Sets>()), m_socket(socket) {}
Select1::~Select1() = default;

void Select1::prepare(const SelectFlags& flags) {
    Sets& s = *m_sets;
    s.socket = static_cast<SOCKET>(m_socket.descriptor());
    // Winsock's sets are arrays of handles: one socket always fits.
    if (flags.readable) {
        FD_ZERO(&s.read);
        FD_SET(s.socket, &s.read);
    }
    if (flags.writable) {
        FD_ZERO(&s.write);
        FD_SET(s.socket, &s.write);
    }
    if (flags.error) {
        FD_ZERO(&s.error);
        FD_SET(s.socket, &s.error);
    }
}

int Select1::wait(const SelectFlags& flags, uint32_t timeoutMs) {
    Sets& s = *m_sets;
    m_seconds = timeoutMs / 1000;
    m_microseconds = (timeoutMs % 1000) * 1000;
    timeval tv;
    tv.tv_sec = static_cast<long>(m_seconds);
    tv.tv_usec = static_cast<long>(m_microseconds);
    // The first argument is ignored by Winsock.
    const int rc = ::select(0, flags.readable ? &s.read : nullptr, flags.writable ? &s.write : nullptr,
                            flags.error ? &s.error : nullptr, &tv);
    return rc == SOCKET_ERROR ? -1 : rc;
}

void Select1::result(SelectFlags& flags) {
    Sets& s = *m_sets;
    flags.readable = flags.readable && FD_ISSET(s.socket, &s.read);
    flags.writable = flags.writable && FD_ISSET(s.socket, &s.write);
    flags.error = flags.error && FD_ISSET(s.socket, &s.error);
}

void Poll1::prepare(const SelectFlags& flags) {
    m_handle = m_socket.descriptor();
    // WSAPoll refuses POLLPRI; out-of-band data is POLLRDBAND there.
    m_events = static_cast<short>((flags.readable ? POLLRDNORM : 0) | (flags.writable ? POLLWRNORM : 0) |
                                  (flags.error ? POLLRDBAND : 0));
    m_returned = 0;
}

int Poll1::wait(const SelectFlags&, uint32_t timeoutMs) {
    WSAPOLLFD entry;
    entry.fd = static_cast<SOCKET>(m_handle);
    entry.events = m_events;
    entry.revents = 0;
    const int timeout = timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    const int rc = WSAPoll(&entry, 1, timeout);
    m_returned = rc > 0 ? entry.revents : 0;
    if (rc > 0 && (entry.revents & POLLNVAL)) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    return rc == SOCKET_ERROR ? -1 : rc;
}

void Poll1::result(SelectFlags& flags) {
    // A hang-up or an error reads as readable, as select() reports it: the
    // next read then returns the end or the error.
    const bool broken = (m_returned & (POLLHUP | POLLERR)) != 0;
    flags.readable = flags.readable && ((m_returned & POLLRDNORM) || broken);
    flags.writable = flags.writable && ((m_returned & POLLWRNORM) || (m_returned & POLLERR));
    flags.error = flags.error && (m_returned & POLLRDBAND);
}

}  // namespace trivane
