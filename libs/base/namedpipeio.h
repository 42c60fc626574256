// Named-pipe streams: the client and accepted ends, the listening end, and
// the identity of the client behind an accepted end.
#pragma once

#include "base/arch/namedpipe.h"
#include "base/io.h"
#include "base/memory.h"
#include "base/pipesecurity.h"

#include <cstdint>

namespace trivane {

// One end of a pipe connection. Failures throw ENamedPipeIO (file
// "namedpipeio") with the Windows error number; time-outs never throw: reads
// and writes give 0. Used by one thread at a time; another thread may only
// call shutdown(), which wakes a blocked read or write of the owner.
class NamedPipeIO : public IO {
public:
    NamedPipeIO() = default;
    ~NamedPipeIO() override;
    const char* className() const noexcept override { return "NamedPipeIO"; }

    using IO::read;
    using IO::write;

    void setReadTimeout(uint32_t ms) override { m_readTimeout = ms; }
    void setWriteTimeout(uint32_t ms) override { m_writeTimeout = ms; }
    uint32_t readTimeout() const noexcept { return m_readTimeout; }
    uint32_t writeTimeout() const noexcept { return m_writeTimeout; }
    bool isValid() override { return m_handle != sys::invalidPipe; }
    void setNonBlocking() override;
    void setBlocking() override {}
    // Opens the pipe named by the address's host; busy or missing pipes
    // throw at once, without waiting or retrying.
    void connect(const SocketAddress& address, uint32_t timeoutMs, IMutex& mutex, const String& option) override;
    int shutdown(int how) override;
    void close() override;
    Memory read(uint32_t maximum, IMutex& mutex) override;
    int32_t read(void* buffer, uint32_t count, IMutex& mutex) override;
    int32_t write(const Memory& data, IMutex& mutex) override;
    int32_t write(const void* buffer, uint32_t count, IMutex& mutex) override;
    // Waits up to `timeoutMs` (0: no limit) for a byte, kept for the next read.
    bool waitReadable(uint32_t timeoutMs, IMutex& mutex) override;
    // A client end names the local host and, as its port, the pipe.
    void remoteAddress(SocketAddress& out) override;
    intptr_t handle() override { return m_handle; }
    int protocol() override { return ProtocolTcp; }

    // Who the client of an accepted end is: "name@domain".
    String clientUserName();
    // True when the client's token is fully elevated (root on Linux).
    bool isClientElevated();

protected:
    friend class ServerNamedPipeIo;
    explicit NamedPipeIO(sys::PipeHandle handle) : m_handle(handle) {}

    sys::PipeHandle m_handle = sys::invalidPipe;
    Memory m_pushedBack;
    String m_pipeName;
    uint32_t m_writeTimeout = 0;
    uint32_t m_readTimeout = 0;
};

// The listening end of a pipe name. Used only by the thread that accepts.
class ServerNamedPipeIo : public NamedPipeIO {
public:
    ServerNamedPipeIo() = default;
    ~ServerNamedPipeIo() override;
    const char* className() const noexcept override { return "ServerNamedPipeIo"; }

    // Not owned: it must live as long as the pipe may be (re)created.
    void setSecurityAttributes(const sys::SecurityAttributes* attributes);
    // Creates the pipe with room for `instances` clients connecting at once.
    void listen(const String& name, int instances);
    // The host of the address is the name, the backlog the instance count.
    int listen(const SocketAddress& address, bool reuse, int backlog, const String& option) override;
    // A connected client owned by the caller, or null when the time-out
    // (0: no limit) passed.
    gc::Pointer<IO> accept(uint32_t timeoutMs, IMutex& mutex) override;
    // True when a client is there; it is accepted and kept for accept().
    bool waitReadable(uint32_t timeoutMs, IMutex& mutex) override;
    bool isValid() override { return m_listener != nullptr; }
    void close() override;
    intptr_t handle() override { return m_listener ? sys::pipeListenerHandle(*m_listener) : sys::invalidPipe; }

    const String& pipeName() const noexcept { return m_pipeName; }

private:
    gc::Pointer<IO> m_pending;
    bool m_defaultSecurity = true;
    const sys::SecurityAttributes* m_securityAttributes = nullptr;
    sys::PipeListener* m_listener = nullptr;
    String m_pipeName;
};

}  // namespace trivane
