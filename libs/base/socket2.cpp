// Sockets: addresses, lookup, the blocking calls and the counters.
#include "base/socket2.h"

#include "base/console.h"

namespace trivane {

namespace {

// Releases the caller's lock for a system call and takes it again however
// the scope is left.
class ReleasedLock {
public:
    explicit ReleasedLock(IMutex& lock) : m_lock(lock) { m_lock.unlock(); }
    ~ReleasedLock() { m_lock.lock(); }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

private:
    IMutex& m_lock;
};

bool isDottedQuad(const String& host) {
    uint32_t fields = 0, digits = 0, value = 0;
    for (uint32_t i = 0; i < host.length(); ++i) {
        const char c = host.data()[i];
        if (c == '.') {
            if (digits == 0) return false;
            ++fields;
            digits = value = 0;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<uint32_t>(c - '0');
            if (++digits > 3 || value > 255) return false;
        } else {
            return false;
        }
    }
    return digits != 0 && fields == 3;
}

std::atomic<int32_t>& typeCount(int type) {
    SocketCounters& c = SocketCounters::instance();
    return type == Socket::Udp ? c.udp : type == Socket::Icmp ? c.icmp : c.tcp;
}

void changeCount(int type, int32_t delta) {
    typeCount(type).fetch_add(delta, std::memory_order_relaxed);
    SocketCounters& c = SocketCounters::instance();
    const int32_t tcp = c.tcp.load(std::memory_order_relaxed);
    if (tcp % 50 == 0)
        log(LogTrace, "Socket", "incrCounters",
            String::fromInt(c.udp.load(std::memory_order_relaxed)) + " UDP, " + String::fromInt(tcp) + " TCP, " +
                String::fromInt(c.objects.load(std::memory_order_relaxed)) + " Objs");
}

}  // namespace

// ---- SocketAddress

void SocketAddress::clear() noexcept {
    m_kind = Invalid;
    m_host = String();
    m_port = String();
    m_extra = String();
}

int32_t SocketAddress::classify(const String& host) {
    if (host == "localhost"_s || host == "localhost.localdomain"_s || host == "127.0.0.1"_s) return Localhost;
    if (host == "ip6-localhost"_s || host == "ip6-loopback"_s || host == "::1"_s) return Localhost6;
    return isDottedQuad(host) ? Ipv4 : HostName;
}

void SocketAddress::parse(const String& text) {
    clear();
    String host, rest;
    int32_t kind;
    if (text.length() > 0 && text.data()[0] == '[') {
        const uint32_t close = text.find(']');
        if (close == String::npos || close == 1) return;
        host = text.mid(1, close - 1);
        if (host.find('[') != String::npos) return;
        rest = text.mid(close + 1);
        if (rest.length() == 0 || rest.data()[0] != ':') return;
        rest = rest.mid(1);
        kind = Ipv6;
    } else {
        if (text.find('[') != String::npos) return;
        const uint32_t colon = text.find(':');
        if (colon == String::npos) return;
        host = text.mid(0, colon);
        rest = text.mid(colon + 1);
        kind = classify(host);
    }
    const uint32_t colon = rest.find(':');
    String port = colon == String::npos ? rest : rest.mid(0, colon);
    if (port.length() == 0) return;
    m_kind = kind;
    m_host = host;
    m_port = port;
    if (colon != String::npos) m_extra = rest.mid(colon + 1);
}

void SocketAddress::set(const String& hostText, const String& port) {
    clear();
    const uint32_t n = hostText.length();
    if (n > 2 && hostText.data()[0] == '[' && hostText.data()[n - 1] == ']') {
        String inner = hostText.mid(1, n - 2);
        if (inner.findFirstOf("[]") != String::npos) return;
        set(Ipv6, inner, port);
        return;
    }
    if (hostText.findFirstOf("[]") != String::npos) return;
    int32_t kind = classify(hostText);
    const uint32_t colon = hostText.find(':');
    if (kind != Localhost6 && colon != String::npos) {
        // Two colons or more can only be an IPv6 literal; one is a port part.
        if (hostText.find(':', colon + 1) == String::npos) return;
        kind = Ipv6;
    }
    set(kind, hostText, port);
}

void SocketAddress::set(int32_t kind, const String& host, const String& port) {
    m_kind = kind;
    m_host = host;
    m_port = port;
    m_extra = String();
}

void SocketAddress::setFromSystem(const sys::SystemAddress& address) {
    sys::AddressText description;
    if (!sys::describeAddress(address, description) || description.family == 0) {
        clear();
        m_kind = ConversionFailed;
        return;
    }
    if (description.family == 4 || description.mapped) {
        set(description.family == 4 ? Ipv4 : Ipv6, description.host, description.port);
        return;
    }
    parse("["_s + description.host + "]:" + description.port);
    if (m_kind != Ipv6) {
        clear();
        m_kind = ConversionFailed;
    }
}

String SocketAddress::text() const {
    String text;
    switch (m_kind) {
        case 1: case 3: case 4: case 7: case 8: case 13:
            text = m_host + ":" + m_port;
            break;
        case 2: case 5: case 9: case 10: case 11: case 12:
            text = "["_s + m_host + "]:" + m_port;
            break;
        default:
            return "<invalid address>"_s;
    }
    if (m_extra.length() > 0) text = text + ":" + m_extra;
    return text;
}

// ---- Counters

SocketCounters& SocketCounters::instance() {
    static SocketCounters s_counters;
    return s_counters;
}

// ---- Socket

Socket::Socket() : m_selector(*this) { SocketCounters::instance().objects.fetch_add(1, std::memory_order_relaxed); }

Socket::~Socket() {
    if (isValid()) {
        log(LogTrace, "Socket", "~Socket", "the socket is still valid!");
        close();
    }
    SocketCounters::instance().objects.fetch_sub(1, std::memory_order_relaxed);
}

void Socket::setType(int type) {
    TRIVANE_ASSERT(m_socket == -1);
    m_type = type;
}

bool Socket::lookup(const SocketAddress& address, int type, bool passive, sys::AddressInfo& out) {
    if (address.host().length() == 0) {
        log(LogError, "Socket", "DNSLookup", "ip is empty");
        return false;
    }
    if (address.port().length() == 0) {
        log(LogError, "Socket", "DNSLookup", "port is empty");
        return false;
    }
    const int rc = sys::lookupAddress(address.host(), address.port(), type, passive, out);
    if (rc != 0) {
        log(LogError, "Socket", "DNSLookup", "getaddrinfo() "_s + sys::lookupErrorText(rc));
        return false;
    }
    return true;
}

void Socket::open(sys::SocketHandle descriptor, int type) {
    {
        Locker<Mutex> hold(m_state);
        m_openType = type;
        m_descriptor.store(descriptor, std::memory_order_release);
        m_socket.store(descriptor, std::memory_order_release);
    }
    changeCount(type, 1);
}

void Socket::release() {
    const sys::SocketHandle descriptor = m_descriptor.exchange(sys::invalidSocket, std::memory_order_acq_rel);
    if (descriptor == sys::invalidSocket) return;
    sys::socketClose(descriptor);
    changeCount(m_openType, -1);
}

void Socket::close() {
    Locker<Mutex> hold(m_state);
    if (m_socket.exchange(sys::invalidSocket, std::memory_order_acq_rel) == sys::invalidSocket) return;
    if (m_busy > 0) {
        // Wakes the waiting call; it closes the descriptor when it ends.
        sys::socketInterrupt(m_descriptor.load(std::memory_order_acquire));
        return;
    }
    release();
}

sys::SocketHandle Socket::enter() {
    Locker<Mutex> hold(m_state);
    if (!isValid()) TRIVANE_THROW(ESocket);
    ++m_busy;
    return m_descriptor.load(std::memory_order_acquire);
}

bool Socket::leave() {
    Locker<Mutex> hold(m_state);
    --m_busy;
    if (isValid()) return true;
    if (m_busy == 0) release();
    return false;
}

void Socket::applyRecvTimeout() {
    if (m_recvTimeout != 0 && sys::socketSetRecvTimeout(descriptor(), m_recvTimeout) != 0)
        log(LogTrace, "Socket", "recvtimeout", "Error");
}

void Socket::applySendTimeout() {
    if (m_sendTimeout != 0 && sys::socketSetSendTimeout(descriptor(), m_sendTimeout) != 0)
        log(LogTrace, "Socket", "recvtimeout", "Error");
}

void Socket::applyNoDelay() {
    if (sys::socketSetNoDelay(descriptor(), m_noDelay) != 0)
        log(LogTrace, "Socket", "tcpnodelay", "Cannot set TCP_NODELAY");
}

void Socket::applyOptions() {
    applyRecvTimeout();
    applySendTimeout();
    if (m_noDelay) applyNoDelay();
    if (m_broadcast) sys::socketSetBroadcast(descriptor(), true);
}

void Socket::setRecvTimeout(uint32_t ms) {
    m_recvTimeout = ms;
    if (isValid()) applyRecvTimeout();
}

void Socket::setSendTimeout(uint32_t ms) {
    m_sendTimeout = ms;
    if (isValid()) applySendTimeout();
}

void Socket::setNoDelay(bool flag) {
    if (!m_noDelay && !flag) return;
    m_noDelay = flag;
    if (isValid()) applyNoDelay();
}

void Socket::setBroadcast(bool flag) {
    if (!m_broadcast && !flag) return;
    m_broadcast = flag;
    if (isValid()) sys::socketSetBroadcast(descriptor(), flag);
}

void Socket::setAbortiveClose() {
    if (isValid()) sys::socketSetLingerZero(descriptor());
}

void Socket::setBlocking() {
    TRIVANE_ASSERT(m_socket != -1);
    if (sys::socketSetBlocking(descriptor(), true) != 0) raiseSocketError(sys::lastSocketError());
}

void Socket::setNonBlocking() {
    TRIVANE_ASSERT(m_socket != -1);
    if (sys::socketSetBlocking(descriptor(), false) != 0) raiseSocketError(sys::lastSocketError());
}

int64_t Socket::systemRecvTimeout() const { return isValid() ? sys::socketRecvTimeout(descriptor()) : -1; }
int64_t Socket::systemSendTimeout() const { return isValid() ? sys::socketSendTimeout(descriptor()) : -1; }
int Socket::systemNoDelay() const { return isValid() ? sys::socketNoDelay(descriptor()) : -1; }

void Socket::bind(const SocketAddress& address, bool reuseAddress) {
    sys::AddressInfo info;
    if (!lookup(address, m_type, true, info)) TRIVANE_THROW(ESocketLookupFailed);
    const sys::SocketHandle s = sys::socketOpen(info.family, info.type, info.protocol);
    if (s == sys::invalidSocket) {
        const int error = sys::lastSocketError();
        log(LogTrace, "Socket", "bind", "cannot create socket");
        raiseSocketError(error);
    }
    open(s, m_type);
    sys::socketSetReuseAddress(s, reuseAddress);
    applyOptions();
    if (sys::socketBind(s, info.address) != 0) {
        const int error = sys::lastSocketError();
        close();
        raiseSocketError(error);
    }
}

void Socket::listen(int backlog) {
    TRIVANE_ASSERT(m_socket != -1);
    if (sys::socketListen(descriptor(), backlog) != 0) {
        const int error = sys::lastSocketError();
        log(LogTrace, "Socket", "listen", "cannot listen to the socket: "_s + localAddress().text());
        raiseSocketError(error);
    }
}

void Socket::accept(Socket& newSocket, uint32_t timeoutMs, IMutex& lock) {
    SelectFlags flags;
    flags.readable = true;
    flags.error = true;
    wait(flags, timeoutMs, lock);
    if (!flags.readable) return;
    const sys::SocketHandle s = enter();
    sys::SocketHandle accepted;
    int error;
    {
        ReleasedLock released(lock);
        accepted = sys::socketAccept(s);
        error = accepted == sys::invalidSocket ? sys::lastSocketError() : 0;
    }
    if (!leave()) {
        if (accepted != sys::invalidSocket) sys::socketClose(accepted);
        TRIVANE_THROW(ESocket);
    }
    if (accepted == sys::invalidSocket) {
        log(LogError, "Socket", "accept", "bad accept for: "_s + localAddress().text());
        raiseSocketError(error);
    }
    newSocket.close();
    newSocket.m_type = m_type;
    newSocket.open(accepted, m_type);
}

void Socket::connect(const SocketAddress& address, uint32_t timeoutMs, IMutex& lock) {
    sys::AddressInfo info;
    if (!lookup(address, m_type, false, info)) TRIVANE_THROW(ESocketLookupFailed);
    const sys::SocketHandle created = sys::socketOpen(info.family, info.type, info.protocol);
    if (created == sys::invalidSocket) {
        const int error = sys::lastSocketError();
        log(LogTrace, "Socket", "connect", "cannot create socket");
        raiseSocketError(error);
    }
    open(created, m_type);
    applyOptions();
    const bool timed = timeoutMs > 0;
    if (timed) setNonBlocking();

    const sys::SocketHandle s = enter();
    int rc, error;
    {
        ReleasedLock released(lock);
        rc = sys::socketConnect(s, info.address);
        error = rc != 0 ? sys::lastSocketError() : 0;
    }
    if (!leave()) TRIVANE_THROW(ESocket);
    if (rc == 0) {
        if (timed) setBlocking();
        return;
    }
    // Without a time-out the failed call itself says what went wrong.
    if (!timed || (error != 10035 && error != 10036)) {
        if (timed) setBlocking();
        close();
        raiseSocketError(error);
    }

    SelectFlags flags;
    // Linux shows a failed connect as writable, Windows in the error set:
    // either ends the wait, and the pending error tells which it was.
    flags.writable = true;
    flags.error = true;
    enter();
    m_selector.prepare(flags);
    {
        ReleasedLock released(lock);
        rc = m_selector.wait(flags, timeoutMs);
        error = rc < 0 ? sys::lastSocketError() : 0;
    }
    if (!leave()) TRIVANE_THROW(ESocket);
    if (rc > 0) m_selector.result(flags);
    if (rc <= 0 || !(flags.writable || flags.error)) {
        log(LogTrace, "Socket", "connect", "error during select or socket not writable, rc="_s + String::fromInt(rc));
        setBlocking();
        close();
        // A connect still pending when the time is up would block.
        raiseSocketError(rc < 0 ? error : 10035);
    }
    int pending = 0;
    if (sys::socketPendingError(s, pending) != 0) {
        log(LogTrace, "Socket", "connect", "unable to read connect result");
        setBlocking();
        close();
        TRIVANE_THROW(ESocket);
    }
    setBlocking();
    if (pending != 0) {
        log(LogTrace, "Socket", "connect", "unable to connect to server");
        close();
        TRIVANE_THROW_CODE(ESocketConnectionReset, pending);
    }
}

template <class Call>
int Socket::transfer(IMutex& lock, const char* function, bool sending, Call call) {
    const sys::SocketHandle s = enter();
    int rc, error;
    {
        ReleasedLock released(lock);
        rc = call(s);
        error = rc < 0 ? sys::lastSocketError() : 0;
    }
    if (!leave()) TRIVANE_THROW(ESocket);
    if (rc < 0) raiseSocketError(error);
    if (rc == 0) {
        // A zero-byte transfer means the peer has gone.
        log(LogTrace, "Socket", function, "Connection reset by peer");
        close();
        if (sending) TRIVANE_THROW(ESocketNullByteSent);
        TRIVANE_THROW(ESocketNullByteRecv);
    }
    return rc;
}

int Socket::recv(void* buf, int len, IMutex& lock) {
    TRIVANE_ASSERT(buf != 0);
    TRIVANE_ASSERT(len > 0);
    return transfer(lock, "recv", false, [&](sys::SocketHandle s) { return sys::socketRecv(s, buf, len); });
}

int Socket::send(const void* data, int len, IMutex& lock) {
    TRIVANE_ASSERT(data != 0);
    TRIVANE_ASSERT(len > 0);
    return transfer(lock, "send", true, [&](sys::SocketHandle s) { return sys::socketSend(s, data, len); });
}

int Socket::recvfrom(void* buf, int len, SocketAddress& fromAddress, IMutex& lock) {
    TRIVANE_ASSERT(buf != 0);
    TRIVANE_ASSERT(len > 0);
    sys::SystemAddress from;
    const int rc = transfer(lock, "recvfrom", false,
                            [&](sys::SocketHandle s) { return sys::socketRecvFrom(s, buf, len, from); });
    fromAddress.setFromSystem(from);
    return rc;
}

int Socket::sendto(const void* data, int len, const SocketAddress& toAddress, IMutex& lock) {
    TRIVANE_ASSERT(data != 0);
    TRIVANE_ASSERT(len > 0);
    sys::AddressInfo info;
    if (!lookup(toAddress, m_type, false, info)) TRIVANE_THROW(ESocketLookupFailed);
    return transfer(lock, "sendto", true,
                    [&](sys::SocketHandle s) { return sys::socketSendTo(s, data, len, info.address); });
}

int Socket::wait(SelectFlags& flags, uint32_t timeoutMs, IMutex& lock) {
    enter();
    m_selector.prepare(flags);
    int rc, error;
    {
        ReleasedLock released(lock);
        rc = m_selector.wait(flags, timeoutMs);
        error = rc < 0 ? sys::lastSocketError() : 0;
    }
    if (!leave()) TRIVANE_THROW(ESocket);
    if (rc == -1) {
        log(LogTrace, "Socket", "select", "poll error");
        raiseSocketError(error);
    }
    if (rc > 0) {
        m_selector.result(flags);
    } else {
        flags = SelectFlags();
    }
    return rc;
}

int Socket::shutdown(int how) {
    if (!isValid()) return -1;
    return sys::socketShutdown(descriptor(), how);
}

SocketAddress Socket::remoteAddress() const {
    SocketAddress address;
    sys::SystemAddress raw;
    if (!isValid() || sys::socketPeerName(descriptor(), raw) != 0) {
        address.set(SocketAddress::ConversionFailed, String(), String());
        return address;
    }
    address.setFromSystem(raw);
    return address;
}

SocketAddress Socket::localAddress() const {
    SocketAddress address;
    sys::SystemAddress raw;
    if (!isValid() || sys::socketLocalName(descriptor(), raw) != 0) {
        address.set(SocketAddress::ConversionFailed, String(), String());
        return address;
    }
    address.setFromSystem(raw);
    return address;
}

}  // namespace trivane
