// Named-pipe streams over the platform's pipes.
#include "base/namedpipeio.h"

#include <cstring>

namespace trivane {

namespace {

[[noreturn]] void fail(uint32_t line, uint32_t code = 0) {
    throw ENamedPipeIO(static_cast<int32_t>(code), "ENamedPipeIO"_s, "namedpipeio"_s, line);
}

// The platform's line where it tells its steps apart, else the operation's.
[[noreturn]] void fail(uint32_t line, const sys::PipeError& error) {
    fail(error.line != 0 ? error.line : line, error.code);
}

}  // namespace

// ---- NamedPipeIO

NamedPipeIO::~NamedPipeIO() { NamedPipeIO::close(); }

void NamedPipeIO::setNonBlocking() { throw ENotImplemented("ENotImplemented"_s, "namedpipeio"_s, 76); }

void NamedPipeIO::connect(const SocketAddress& address, uint32_t, IMutex&, const String&) {
    close();
    sys::PipeError error;
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
    sys::PipeError error;
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
    sys::PipeError error;
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
    sys::PipeError error;
    const int32_t n = sys::pipeRead(m_handle, m_pushedBack.reserve(keep), keep, timeoutMs, error);
    if (n < 0) fail(200, error);
    m_pushedBack.setLength(static_cast<uint32_t>(n));
    return n > 0;
}

String NamedPipeIO::clientUserName() {
    if (m_handle == sys::invalidPipe) fail(232, sys::errorInvalidHandle);
    String user;
    sys::PipeError error;
    if (!sys::pipeClientUserName(m_handle, user, error)) fail(232, error);
    return user;
}

bool NamedPipeIO::isClientElevated() {
    if (m_handle == sys::invalidPipe) fail(232, sys::errorInvalidHandle);
    int type = 0;
    sys::PipeError error;
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
    sys::PipeError error;
    m_listener = sys::pipeListen(name, instances, descriptor, error);
    if (!m_listener) fail(392, error);
}

int ServerNamedPipeIo::listen(const SocketAddress& address, bool, int backlog, const String&) {
    listen(address.host(), backlog);
    return 0;
}

gc::Pointer<IO> ServerNamedPipeIo::accept(uint32_t timeoutMs, IMutex&) {
    if (m_pending) return std::move(m_pending);
    if (!isValid()) fail(430, sys::errorInvalidHandle);
    sys::PipeError error;
    const sys::PipeHandle client = sys::pipeAccept(*m_listener, timeoutMs, error);
    if (client != sys::invalidPipe) return gc::Pointer<IO>(new NamedPipeIO(client));
    if (error.code != 0) fail(430, error);
    return nullptr;
}

bool ServerNamedPipeIo::waitReadable(uint32_t timeoutMs, IMutex& mutex) {
    if (m_pending) return true;
    m_pending = accept(timeoutMs, mutex);
    return static_cast<bool>(m_pending);
}

void ServerNamedPipeIo::close() {
    m_pending = nullptr;
    sys::pipeUnlisten(m_listener);
    m_listener = nullptr;
}

}  // namespace trivane
