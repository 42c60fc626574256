// An owned file descriptor, closed when it goes.
#pragma once

#include <unistd.h>

namespace trivane::sys {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) noexcept : m_fd(fd) {}
    ~Descriptor() { reset(-1); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int fd) noexcept {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }
    int release() noexcept {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    int get() const noexcept { return m_fd; }

private:
    int m_fd;
};

}  // namespace trivane::sys
