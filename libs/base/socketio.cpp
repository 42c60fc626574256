// The TCP stream.
#include "base/socketio.h"

#include "base/socketdata.h"

#include <climits>

namespace trivane {

IO* createSocketIO() { return new SocketIO(); }

SocketIO::~SocketIO() { m_socket.close(); }

void SocketIO::create() {
    if (!m_socket.isValid()) m_socket.setType(Socket::Tcp);
}

void SocketIO::applyDefaults() {
    const SocketData& defaults = SocketData::defaults();
    m_socket.setRecvTimeout(defaults.m_recvTimeout);
    m_socket.setSendTimeout(defaults.m_sendTimeout);
    m_socket.setNoDelay(defaults.m_noDelay);
}

gc::Pointer<IO> SocketIO::accept(uint32_t timeoutMs, IMutex& mutex) {
    gc::Pointer<SocketIO> stream(new SocketIO());
    m_socket.accept(stream->m_socket, timeoutMs, mutex);
    if (!stream->isValid()) return nullptr;
    stream->applyDefaults();
    return stream;
}

void SocketIO::connect(const SocketAddress& address, uint32_t timeoutMs, IMutex& mutex, const String&) {
    m_socket.connect(address, timeoutMs, mutex);
}

int SocketIO::listen(const SocketAddress& address, bool reuse, int backlog, const String&) {
    m_socket.bind(address, reuse);
    applyDefaults();
    m_socket.listen(backlog);
    return 0;
}

Memory SocketIO::read(uint32_t maximum, IMutex& mutex) {
    Memory buffer;
    if (maximum == 0) return buffer;
    const int32_t count = read(buffer.reserve(maximum), maximum, mutex);
    buffer.setLength(static_cast<uint32_t>(count));
    return buffer;
}

int32_t SocketIO::read(void* buffer, uint32_t count, IMutex& mutex) {
    const int len = count > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
    return m_socket.recv(buffer, len, mutex);
}

int32_t SocketIO::write(const void* buffer, uint32_t count, IMutex& mutex) {
    const int len = count > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
    return m_socket.send(buffer, len, mutex);
}

bool SocketIO::waitReadable(uint32_t timeoutMs, IMutex& mutex) {
    SelectFlags flags;
    flags.readable = true;
    flags.error = true;
    m_socket.wait(flags, timeoutMs, mutex);
    if (flags.readable) return true;
    if (flags.error) TRIVANE_THROW(ESocketIO);
    return false;
}

}  // namespace trivane
