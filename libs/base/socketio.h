// The TCP stream: one Socket behind the stream interface.
#pragma once

#include "base/io.h"
#include "base/socket2.h"

namespace trivane {

// Listening and accepted streams get the process-wide socket defaults
// (SocketData::defaults()). Closing from another thread while the owner
// waits in a read wakes the owner, which then throws ESocket.
class SocketIO : public IO {
public:
    SocketIO() = default;
    ~SocketIO() override;
    const char* className() const noexcept override { return "SocketIO"; }

    using IO::read;
    using IO::write;

    void setReadTimeout(uint32_t ms) override { m_socket.setRecvTimeout(ms); }
    void setWriteTimeout(uint32_t ms) override { m_socket.setSendTimeout(ms); }
    bool isValid() override { return m_socket.isValid(); }
    void setNonBlocking() override { m_socket.setNonBlocking(); }
    void setBlocking() override { m_socket.setBlocking(); }
    void create() override;
    gc::Pointer<IO> accept(uint32_t timeoutMs, IMutex& mutex) override;
    // The option text is not used.
    void connect(const SocketAddress& address, uint32_t timeoutMs, IMutex& mutex, const String& option) override;
    int listen(const SocketAddress& address, bool reuse, int backlog, const String& option) override;
    int shutdown(int how) override { return m_socket.shutdown(how); }
    void close() override { m_socket.close(); }
    void setAbortiveClose() override { m_socket.setAbortiveClose(); }
    Memory read(uint32_t maximum, IMutex& mutex) override;
    int32_t read(void* buffer, uint32_t count, IMutex& mutex) override;
    int32_t write(const void* buffer, uint32_t count, IMutex& mutex) override;
    bool waitReadable(uint32_t timeoutMs, IMutex& mutex) override;
    bool handshake(uint32_t, bool) override { return true; }
    void remoteAddress(SocketAddress& out) override { out = m_socket.remoteAddress(); }
    void localAddress(SocketAddress& out) override { out = m_socket.localAddress(); }
    intptr_t handle() override { return m_socket.handle(); }
    int protocol() override { return ProtocolTcp; }

    Socket& socket() noexcept { return m_socket; }

private:
    void applyDefaults();

    Socket m_socket;
};

// The creator of the stream table's TCP entries.
IO* createSocketIO();

}  // namespace trivane
