// TCP, UDP and ICMP sockets with their addresses and process-wide counters.
#pragma once

#include "base/arch/socket.h"
#include "base/errors.h"
#include "base/mutex.h"
#include "base/select.h"
#include "base/string.h"

#include <atomic>
#include <cstdint>

namespace trivane {

// Host, port and an extra text, with the kind of host they name.
class SocketAddress {
public:
    enum : int32_t {
        Invalid = 0,
        Localhost = 1,
        Localhost6 = 2,
        HostName = 3,
        Ipv4 = 4,
        Ipv6 = 5,
        ConversionFailed = 14,
    };

    SocketAddress() = default;
    explicit SocketAddress(const String& text) { parse(text); }

    // host:port[:extra], the host of an IPv6 literal between brackets.
    void parse(const String& text);
    // A bare host text (no port part) and a port.
    void set(const String& hostText, const String& port);
    void set(int32_t kind, const String& host, const String& port);
    void setFromSystem(const sys::SystemAddress& address);
    String text() const;

    int32_t kind() const noexcept { return m_kind; }
    const String& host() const noexcept { return m_host; }
    const String& port() const noexcept { return m_port; }
    const String& extra() const noexcept { return m_extra; }

    // The kind of a bare host text: 1, 2, 3 or 4 (a bracketed literal is 5).
    static int32_t classify(const String& host);

private:
    void clear() noexcept;

    int32_t m_kind = Invalid;
    String m_host;
    String m_port;
    String m_extra;
};

struct SocketCounters {
    std::atomic<int32_t> udp{0};
    std::atomic<int32_t> tcp{0};
    std::atomic<int32_t> icmp{0};
    std::atomic<int32_t> objects{0};

    static SocketCounters& instance();
};

// One operating-system socket. Blocking calls release the caller's lock
// while they wait and hold it again when they return or throw. Used by one
// thread at a time, except close(), which another thread may call while a
// blocking call waits: the descriptor is then shut down, which wakes the
// waiter, and the waiting thread closes it, so that its number cannot be
// reused while a call still uses it. The woken call throws ESocket.
class Socket {
public:
    enum : int { Tcp = 0, Udp = 1, Icmp = 2 };

    Socket();
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    void setType(int type);
    int type() const noexcept { return m_type; }

    void bind(const SocketAddress& address, bool reuseAddress);
    void listen(int backlog);
    // Leaves newSocket closed when no client came within the time-out.
    void accept(Socket& newSocket, uint32_t timeoutMs, IMutex& lock);
    void connect(const SocketAddress& address, uint32_t timeoutMs, IMutex& lock);
    int recv(void* buf, int len, IMutex& lock);
    int send(const void* data, int len, IMutex& lock);
    int recvfrom(void* buf, int len, SocketAddress& fromAddress, IMutex& lock);
    int sendto(const void* data, int len, const SocketAddress& toAddress, IMutex& lock);
    // The selector's result; flags keep only the conditions that hold.
    int wait(SelectFlags& flags, uint32_t timeoutMs, IMutex& lock);
    int shutdown(int how);
    void close();
    bool isValid() const noexcept { return m_socket.load(std::memory_order_acquire) != sys::invalidSocket; }

    void setBlocking();
    void setNonBlocking();
    void setRecvTimeout(uint32_t ms);
    void setSendTimeout(uint32_t ms);
    void setNoDelay(bool flag);
    void setBroadcast(bool flag);
    void setAbortiveClose();

    uint32_t recvTimeout() const noexcept { return m_recvTimeout; }
    uint32_t sendTimeout() const noexcept { return m_sendTimeout; }
    bool noDelay() const noexcept { return m_noDelay; }
    bool broadcast() const noexcept { return m_broadcast; }
    // The values the system holds for the open socket (-1 when unreadable).
    int64_t systemRecvTimeout() const;
    int64_t systemSendTimeout() const;
    int systemNoDelay() const;

    SocketAddress remoteAddress() const;
    SocketAddress localAddress() const;

    // The descriptor, -1 when closed.
    sys::SocketHandle handle() const noexcept { return m_socket.load(std::memory_order_acquire); }
    // The descriptor a blocking call of the owning thread works on: it
    // stays set after a close from another thread until that call ends.
    sys::SocketHandle descriptor() const noexcept { return m_descriptor.load(std::memory_order_acquire); }

    // Resolves the address for a socket of that type; failures are logged.
    static bool lookup(const SocketAddress& address, int type, bool passive, sys::AddressInfo& out);

private:
    void open(sys::SocketHandle descriptor, int type);
    void applyOptions();
    void applyRecvTimeout();
    void applySendTimeout();
    void applyNoDelay();
    // Closes the descriptor for good; the state lock is held.
    void release();
    // Marks a blocking call; throws ESocket when closed.
    sys::SocketHandle enter();
    // Ends it; false when the socket was closed meanwhile.
    bool leave();
    // One send or receive call and its zero-byte and error rules.
    template <class Call>
    int transfer(IMutex& lock, const char* function, bool sending, Call call);

    std::atomic<sys::SocketHandle> m_socket{sys::invalidSocket};
    std::atomic<sys::SocketHandle> m_descriptor{sys::invalidSocket};
    Selector1 m_selector;
    uint32_t m_recvTimeout = 0;
    uint32_t m_sendTimeout = 0;
    bool m_noDelay = false;
    bool m_broadcast = false;
    int m_type = Tcp;
    int m_openType = Tcp;
    int m_busy = 0;
    Mutex m_state;
};

}  // namespace trivane
