// select() and poll() on one socket.
#include "base/select.h"

#include "base/socket2.h"

#include <poll.h>
#include <sys/select.h>

#include <cerrno>
#include <climits>

namespace trivane {

struct Select1::Sets {
    fd_set read;
    fd_set write;
    fd_set error;
    int fd = -1;
    bool refused = false;
};

Select1::Select1(Socket& socket) : m_sets(std::make_unique<Sets>()), m_socket(socket) {}
Select1::~Select1() = default;

void Select1::prepare(const SelectFlags& flags) {
    Sets& s = *m_sets;
    s.fd = static_cast<int>(m_socket.descriptor());
    s.refused = s.fd < 0 || s.fd >= FD_SETSIZE;
    if (s.refused) return;
    if (flags.readable) {
        FD_ZERO(&s.read);
        FD_SET(s.fd, &s.read);
    }
    if (flags.writable) {
        FD_ZERO(&s.write);
        FD_SET(s.fd, &s.write);
    }
    if (flags.error) {
        FD_ZERO(&s.error);
        FD_SET(s.fd, &s.error);
    }
}

int Select1::wait(const SelectFlags& flags, uint32_t timeoutMs) {
    Sets& s = *m_sets;
    m_seconds = timeoutMs / 1000;
    m_microseconds = (timeoutMs % 1000) * 1000;
    if (s.refused) {
        errno = EINVAL;
        return -1;
    }
    timeval tv;
    tv.tv_sec = static_cast<time_t>(m_seconds);
    tv.tv_usec = static_cast<suseconds_t>(m_microseconds);
    return ::select(s.fd + 1, flags.readable ? &s.read : nullptr, flags.writable ? &s.write : nullptr,
                    flags.error ? &s.error : nullptr, &tv);
}

void Select1::result(SelectFlags& flags) {
    Sets& s = *m_sets;
    flags.readable = flags.readable && !s.refused && FD_ISSET(s.fd, &s.read);
    flags.writable = flags.writable && !s.refused && FD_ISSET(s.fd, &s.write);
    flags.error = flags.error && !s.refused && FD_ISSET(s.fd, &s.error);
}

void Poll1::prepare(const SelectFlags& flags) {
    m_handle = m_socket.descriptor();
    m_events = static_cast<short>((flags.readable ? POLLIN : 0) | (flags.writable ? POLLOUT : 0) |
                                  (flags.error ? POLLPRI : 0));
    m_returned = 0;
}

int Poll1::wait(const SelectFlags&, uint32_t timeoutMs) {
    pollfd entry;
    entry.fd = static_cast<int>(m_handle);
    entry.events = m_events;
    entry.revents = 0;
    const int timeout = timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    const int rc = ::poll(&entry, 1, timeout);
    m_returned = rc > 0 ? entry.revents : 0;
    if (rc > 0 && (entry.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return rc;
}

void Poll1::result(SelectFlags& flags) {
    // A hang-up or an error reads as readable, as select() reports it: the
    // next read then returns the end or the error.
    const bool broken = (m_returned & (POLLHUP | POLLERR)) != 0;
    flags.readable = flags.readable && ((m_returned & POLLIN) || broken);
    flags.writable = flags.writable && ((m_returned & POLLOUT) || (m_returned & POLLERR));
    flags.error = flags.error && (m_returned & POLLPRI);
}

}  // namespace trivane
