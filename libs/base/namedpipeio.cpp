// Named-pipe streams over the platform's pipes.
#include "base/namedpipeio.h"

#include <cstring>

namespace trivane {

namespace {

[[noreturn]] void fail(uint32_t line, uint32_t code = 0) {
    throw ENamedPipeIO(static_cast<int32_t>(code), "ENamedPipeIO"_s, "namedpipeio"_s, line);
}

}  // namespace

// ---- NamedPipeIO

NamedPipeIO::~NamedPipeIO() { NamedPipeIO::close(); }

void NamedPipeIO::setNonBlocking() { throw ENotImplemented("ENotImplemented"_s, "namedpipeio"_s, 76); }

void NamedPipeIO::connect(const SocketAddress& address, uint32_t, IMutex&, const String&) {
    close();
    uint32_t error = 0;
    const sys::PipeHandle handle = sys::pipeConnect(address.host(), error);
    if (handle == sys::invalidPipe) fail(330, error);
    m_handle = handle;
    m_pipeName = address.host();
}

void NamedPipeIO::remoteAddress(SocketAddress& out) {
    if (m_pipeName.isEmpty()) out = SocketAddress();
    else out.set(SocketAddress::HostName, "localhost"_s, m_pipeName);
}

int NamedPipeIO::shutdown(int) {
    if (m_handle != sys::invalidPipe) sys::pipeShutdown(m_handle);
    return 0;
}

void NamedPipeIO::close() {
    if (m_handle != sys::invalidPipe) {
        sys::pipeClose(m_handle);
        m_handle = sys::invalidPipe;
    }
    m_pushedBack.clear();
}

Memory NamedPipeIO::read(uint32_t maximum, IMutex& mutex) {
    Memory buffer;
    if (maximum == 0) return buffer;
    const int32_t count = read(buffer.reserve(maximum), maximum, mutex);
    buffer.setLength(static_cast<uint32_t>(count));
    return buffer;
}

int32_t NamedPipeIO::read(void* buffer, uint32_t count, IMutex&) {
    if (m_handle == sys::invalidPipe) fail(163);
    uint32_t served = 0;
    if (!m_pushedBack.isEmpty()) {
        served = m_pushedBack.length() < count ? m_pushedBack.length() : count;
        std::memcpy(buffer, m_pushedBack.data(), served);
        m_pushedBack = Memory(m_pushedBack.data() + served, m_pushedBack.length() - served);
        if (served == count) return static_cast<int32_t>(served);
    }
    // With bytes already served, only what has arrived besides is added.
    uint32_t error = 0;
    const int32_t n = sys::pipeRead(m_handle, static_cast<char*>(buffer) + served, count - served, m_readTimeout,
                                    error, served == 0);
    if (n < 0) {
        // Bytes already served are delivered; the failure shows on the next read.
        if (served > 0) return static_cast<int32_t>(served);
        fail(200, error);
    }
    return static_cast<int32_t>(served) + n;
}

int32_t NamedPipeIO::write(const Memory& data, IMutex& mutex) { return write(data.data(), data.length(), mutex); }

int32_t NamedPipeIO::write(const void* buffer, uint32_t count, IMutex&) {
    if (m_handle == sys::invalidPipe) fail(112);
    uint32_t error = 0;
    const int32_t n = sys::pipeWrite(m_handle, buffer, count, m_writeTimeout, error);
    if (n < 0) fail(121, error);
    return n;
}

bool NamedPipeIO::waitReadable(uint32_t timeoutMs, IMutex&) {
    if (!m_pushedBack.isEmpty()) return true;
    if (m_handle == sys::invalidPipe) fail(163);
    // What has arrived with the first byte is kept too: the next read then
    // needs no second call.
    constexpr uint32_t keep = 4096;
    uint32_t error = 0;
    const int32_t n = sys::pipeRead(m_handle, m_pushedBack.reserve(keep), keep, timeoutMs, error);
    if (n < 0) fail(200, error);
    m_pushedBack.setLength(static_cast<uint32_t>(n));
    return n > 0;
}

String NamedPipeIO::clientUserName() {
    uint32_t uid = 0;
    uint32_t error = 0;
    if (m_handle == sys::invalidPipe || !sys::pipeClientUid(m_handle, uid, error)) fail(232, error ? error : 6);
    String name;
    String domain;
    if (!sys::accountName(uid, name, domain, error)) fail(272, error);
    return name + "@" + domain;
}

bool NamedPipeIO::isClientElevated() {
    int type = 0;
    uint32_t error = 0;
    if (m_handle == sys::invalidPipe) fail(232, 6);
    if (!sys::pipeClientElevation(m_handle, type, error)) fail(299, error);
    return type == 2;
}

// ---- ServerNamedPipeIo

ServerNamedPipeIo::~ServerNamedPipeIo() { ServerNamedPipeIo::close(); }

void ServerNamedPipeIo::setSecurityAttributes(const sys::SecurityAttributes* attributes) {
    m_securityAttributes = attributes;
    m_defaultSecurity = false;
}

void ServerNamedPipeIo::listen(const String& name, int instances) {
    close();
    m_pipeName = "\\\\.\\pipe\\"_s + name;
    const sys::SecurityDescriptor* descriptor =
        m_defaultSecurity || !m_securityAttributes ? nullptr : m_securityAttributes->securityDescriptor;
    uint32_t error = 0;
    if (!sys::pipeListen(name, instances, descriptor, m_listener, error)) fail(392, error);
}

int ServerNamedPipeIo::listen(const SocketAddress& address, bool, int backlog, const String&) {
    listen(address.host(), backlog);
    return 0;
}

gc::Pointer<IO> ServerNamedPipeIo::accept(uint32_t timeoutMs, IMutex&) {
    if (m_pending) return std::move(m_pending);
    if (!isValid()) fail(430, 6);
    uint32_t error = 0;
    for (;;) {
        // A client already waiting is taken without a wait.
        const sys::PipeHandle client = sys::pipeAccept(m_listener.handle, error);
        if (client != sys::invalidPipe) return gc::Pointer<IO>(new NamedPipeIO(client));
        if (error != 0) fail(440, error);
        const int ready = sys::pipeWaitClient(m_listener.handle, timeoutMs, error);
        if (ready < 0) fail(430, error);
        if (ready == 0) return nullptr;
    }
}

bool ServerNamedPipeIo::waitReadable(uint32_t timeoutMs, IMutex& mutex) {
    if (m_pending) return true;
    m_pending = accept(timeoutMs, mutex);
    return static_cast<bool>(m_pending);
}

void ServerNamedPipeIo::close() {
    m_pending = nullptr;
    sys::pipeUnlisten(m_listener);
}

}  // namespace trivane
