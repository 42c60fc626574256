// The stream interface's own behaviour: forwarding, the blocking helpers and
// the registries.
#include "base/io.h"

#include "base/console.h"
#include "base/dict.h"
#include "base/socketio.h"

#include <cstring>
#include <memory>

namespace trivane {

namespace {

[[noreturn]] void throwIO(uint32_t line) { throw IOException("IOException"_s, "io"_s, line); }

}  // namespace

gc::Pointer<IO> IO::tlsLayer() {
    if (!hasNext()) return nullptr;
    gc::Pointer<IO> n = next();
    return n->tlsLayer();
}

gc::Pointer<IO> IO::tlsLayer() const {
    if (!hasNext()) return nullptr;
    gc::Pointer<IO> n = next();
    return static_cast<const IO&>(*n).tlsLayer();
}

void IO::setReadTimeout(uint32_t ms) {
    if (hasNext()) next()->setReadTimeout(ms);
}

void IO::setWriteTimeout(uint32_t ms) {
    if (hasNext()) next()->setWriteTimeout(ms);
}

bool IO::isValid() { return hasNext() ? next()->isValid() : false; }
bool IO::canRead() { return isValid(); }
bool IO::canWrite() { return isValid(); }
void IO::setNonBlocking() { next()->setNonBlocking(); }
void IO::setBlocking() { next()->setBlocking(); }

void IO::create() {
    if (hasNext()) next()->create();
}

gc::Pointer<IO> IO::accept(uint32_t timeoutMs, IMutex& mutex) { return next()->accept(timeoutMs, mutex); }

void IO::connect(const SocketAddress& address, uint32_t timeoutMs, IMutex& mutex, const String& option) {
    next()->connect(address, timeoutMs, mutex, option);
}

int IO::listen(const SocketAddress& address, bool reuse, int backlog, const String& option) {
    return next()->listen(address, reuse, backlog, option);
}

int IO::shutdown(int how) { return hasNext() ? next()->shutdown(how) : 0; }

void IO::close() {
    if (hasNext()) next()->close();
}

void IO::setAbortiveClose() {
    if (hasNext()) next()->setAbortiveClose();
}

Memory IO::read(uint32_t maximum, IMutex& mutex) { return next()->read(maximum, mutex); }
int32_t IO::read(void* buffer, uint32_t count, IMutex& mutex) { return next()->read(buffer, count, mutex); }
int32_t IO::write(const Memory& data, IMutex& mutex) { return next()->write(data, mutex); }
int32_t IO::write(const void* buffer, uint32_t count, IMutex& mutex) { return next()->write(buffer, count, mutex); }

uint32_t IO::readFully(void* buffer, uint32_t count, IMutex& mutex) {
    char* bytes = static_cast<char*>(buffer);
    for (uint32_t done = 0; done < count;) {
        const int32_t n = read(bytes + done, count - done, mutex);
        if (n < 1) {
            log(LogTrace, "IO", "read", "problem when read data");
            throwIO(140);
        }
        done += static_cast<uint32_t>(n);
    }
    return count;
}

void IO::readString(String& out, uint32_t count, IMutex& mutex) {
    for (uint32_t done = 0; done < count;) {
        const Memory piece = read(count - done, mutex);
        if (piece.length() == 0) {
            log(LogTrace, "IO", "read", "problem when read data");
            throwIO(158);
        }
        out.append(piece.data(), piece.length());
        done += piece.length();
    }
}

void IO::readLine(String& out, uint32_t maximum, IMutex& mutex) {
    out = String();
    for (;;) {
        char c;
        readFully(&c, 1, mutex);
        if (c == '\r') continue;
        if (c == '\n') return;
        // A line of exactly `maximum` bytes is accepted; one byte more is not.
        if (out.length() >= maximum) throwIO(261);
        out.append(c);
    }
}

bool IO::readUntilByte(String& out, char delimiter, uint32_t maximum, IMutex& mutex) {
    for (uint32_t i = 0; i < maximum; ++i) {
        char c;
        readFully(&c, 1, mutex);
        out.append(c);
        if (c == delimiter) return true;
    }
    return false;
}

bool IO::readUntil(String& out, const String& delimiter, uint32_t maximum, IMutex& mutex) {
    const uint32_t size = delimiter.length();
    TRIVANE_ASSERT(size != 0);
    // The last bytes read: enough to see the delimiter and a partial one.
    const std::unique_ptr<char[]> window(new char[2 * size]);
    uint32_t filled = 0;
    uint32_t wanted = size;
    while (out.length() < maximum) {
        const uint32_t size2 = wanted < maximum - out.length() ? wanted : maximum - out.length();
        TRIVANE_ASSERT(size2 != 0);
        const uint32_t keep = filled < 2 * size - size2 ? filled : 2 * size - size2;
        std::memmove(window.get(), window.get() + filled - keep, keep);
        filled = keep;
        readFully(window.get() + filled, size2, mutex);
        out.append(window.get() + filled, size2);
        filled += size2;
        if (filled >= size && std::memcmp(window.get() + filled - size, delimiter.data(), size) == 0) return true;
        // The delimiter can complete no sooner than after the longest tail
        // that begins it, so reading the rest never goes past it.
        uint32_t tail = filled < size - 1 ? filled : size - 1;
        while (tail > 0 && std::memcmp(window.get() + filled - tail, delimiter.data(), tail) != 0) --tail;
        wanted = size - tail;
    }
    return false;
}

void IO::writeAll(const Memory& data, IMutex& mutex) { writeAll(data.data(), data.length(), mutex); }

uint32_t IO::writeAll(const void* buffer, uint32_t count, IMutex& mutex) {
    const char* bytes = static_cast<const char*>(buffer);
    for (uint32_t done = 0; done < count;) {
        const int32_t n = write(bytes + done, count - done, mutex);
        if (n < 1) {
            log(LogTrace, "IO", "write", "problem when writing data");
            throwIO(175);
        }
        done += static_cast<uint32_t>(n);
    }
    return count;
}

void IO::setNext(const gc::Pointer<IO>&) { throwIO(200); }
gc::Pointer<IO> IO::next() { throwIO(204); }
gc::Pointer<IO> IO::next() const { throwIO(208); }
bool IO::hasNext() const { return false; }
void IO::dropNext() {}

bool IO::waitReadable(uint32_t timeoutMs, IMutex& mutex) { return next()->waitReadable(timeoutMs, mutex); }
bool IO::handshake(uint32_t timeoutMs, bool flag) { return next()->handshake(timeoutMs, flag); }

void IO::remoteAddress(SocketAddress& out) {
    if (hasNext()) next()->remoteAddress(out);
    else out = SocketAddress();
}

void IO::localAddress(SocketAddress& out) {
    if (hasNext()) next()->localAddress(out);
    else out = SocketAddress();
}

void IO::getAttribute(String& out, const String& attribute) {
    if (hasNext()) next()->getAttribute(out, attribute);
    else out = String();
}

bool IO::isOldVelnorPki() { return hasNext() ? next()->isOldVelnorPki() : false; }
intptr_t IO::handle() { return hasNext() ? next()->handle() : -1; }
int IO::protocol() { return next()->protocol(); }

// ---- Registries

namespace {

constexpr int s_sides = 2;
constexpr int s_protocols = 4;

// Constant-initialised, so that it is complete before any static object
// creates a stream.
constexpr IOCreator s_creators[s_sides][s_protocols] = {
    {createSocketIO, nullptr, nullptr, nullptr},
    {createSocketIO, nullptr, nullptr, nullptr},
};

using LayerDict = StringDict<IOCreator, InternalMutex>;

LayerDict& layers(int side) {
    static LayerDict s_layers[s_sides];
    TRIVANE_ASSERT(side >= 0 && side < s_sides);
    return s_layers[side];
}

}  // namespace

gc::Pointer<IO> createIO(int side, int protocol) {
    const IOCreator creator =
        side >= 0 && side < s_sides && protocol >= 0 && protocol < s_protocols ? s_creators[side][protocol] : nullptr;
    if (!creator) throwIO(400);
    return gc::Pointer<IO>(creator());
}

void registerLayer(const String& name, IOCreator creator, int side) { layers(side).item(name) = creator; }

void unregisterLayer(const String& name, int side) {
    if (!layers(side).remove(name)) throwIO(376);
}

IOCreator findLayer(const String& name, int side) {
    LayerDict& dict = layers(side);
    return dict.contains(name) ? dict.get(name) : nullptr;
}

String protocolName(IO& stream) {
    switch (stream.protocol()) {
        case ProtocolTcp: return "TCP"_s;
        case ProtocolUdp: return "UDP"_s;
        case ProtocolIcmp: return "ICMP"_s;
        default: return String();
    }
}

}  // namespace trivane
