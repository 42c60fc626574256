// The platform-independent part of Process: handing a handle over.
#include "base/process.h"

namespace trivane {

Process::Process(Process&& other) noexcept
    : m_handle(other.m_handle),
      m_pid(other.m_pid),
      m_serial(other.m_serial),
      m_reaped(other.m_reaped),
      m_exitCode(other.m_exitCode) {
    other.m_handle = -1;
    other.m_pid = 0;
    other.m_serial = 0;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = other.m_handle;
        m_pid = other.m_pid;
        m_serial = other.m_serial;
        m_reaped = other.m_reaped;
        m_exitCode = other.m_exitCode;
        other.m_handle = -1;
        other.m_pid = 0;
        other.m_serial = 0;
    }
    return *this;
}

}  // namespace trivane
