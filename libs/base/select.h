// Readiness waiting on one socket: the selector interface and its two
// mechanisms, select() and poll().
#pragma once

#include "base/arch/socket.h"

#include <cstdint>
#include <memory>

namespace trivane {

class Socket;

// The conditions to watch, and after a wait those that hold.
struct SelectFlags {
    bool readable = false;
    bool writable = false;
    bool error = false;
};

class ISelector1 {
public:
    virtual void prepare(const SelectFlags& flags) = 0;
    // -1 on error, 0 on time-out, otherwise the number of ready conditions.
    virtual int wait(const SelectFlags& flags, uint32_t timeoutMs) = 0;
    // Each requested flag becomes true only when its condition holds.
    virtual void result(SelectFlags& flags) = 0;
    virtual ~ISelector1() = default;
};

// The selector of one socket, of the kind the select configuration names.
class Selector1 : public ISelector1 {
public:
    explicit Selector1(Socket& socket);
    void prepare(const SelectFlags& flags) override { m_impl->prepare(flags); }
    int wait(const SelectFlags& flags, uint32_t timeoutMs) override { return m_impl->wait(flags, timeoutMs); }
    void result(SelectFlags& flags) override { m_impl->result(flags); }

private:
    std::unique_ptr<ISelector1> m_impl;
};

// select(): a descriptor the sets cannot hold is refused, the wait failing
// with the invalid-argument error instead of writing past the sets.
class Select1 : public ISelector1 {
public:
    explicit Select1(Socket& socket);
    ~Select1() override;
    void prepare(const SelectFlags& flags) override;
    int wait(const SelectFlags& flags, uint32_t timeoutMs) override;
    void result(SelectFlags& flags) override;

    // The time-out of the last wait.
    int64_t timeoutSeconds() const noexcept { return m_seconds; }
    int64_t timeoutMicroseconds() const noexcept { return m_microseconds; }

private:
    struct Sets;
    std::unique_ptr<Sets> m_sets;
    int64_t m_seconds = 0;
    int64_t m_microseconds = 0;
    Socket& m_socket;
};

// poll(): any descriptor number.
class Poll1 : public ISelector1 {
public:
    explicit Poll1(Socket& socket) : m_socket(socket) {}
    void prepare(const SelectFlags& flags) override;
    int wait(const SelectFlags& flags, uint32_t timeoutMs) override;
    void result(SelectFlags& flags) override;

private:
    sys::SocketHandle m_handle = sys::invalidSocket;
    short m_events = 0;
    short m_returned = 0;
    Socket& m_socket;
};

}  // namespace trivane
