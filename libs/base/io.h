// The byte-stream interface every transport implements, its blocking
// helpers, and the registries that create streams and stream layers.
#pragma once

#include "base/gcobject.h"
#include "base/memory.h"
#include "base/mutex.h"
#include "base/socket2.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

// A stream may be a layer over a next stream: what a class does not do
// itself goes to the next one. Every blocking call takes the lock its caller
// holds (NoMutex::instance() for none) and may release it while it waits.
// Time-outs are in milliseconds. Used by one thread at a time.
class IO : public gc::ObjectDelete {
public:
    ~IO() override = default;

    virtual gc::Pointer<IO> tlsLayer();
    virtual gc::Pointer<IO> tlsLayer() const;
    virtual void setReadTimeout(uint32_t ms);
    virtual void setWriteTimeout(uint32_t ms);
    virtual bool isValid();
    virtual bool canRead();
    virtual bool canWrite();
    virtual void setNonBlocking();
    virtual void setBlocking();
    virtual void create();
    // A new stream owned by the caller, or null when the time-out elapsed.
    virtual gc::Pointer<IO> accept(uint32_t timeoutMs, IMutex& mutex);
    virtual void connect(const SocketAddress& address, uint32_t timeoutMs, IMutex& mutex, const String& option);
    virtual int listen(const SocketAddress& address, bool reuse, int backlog, const String& option);
    virtual int shutdown(int how);
    virtual void close();
    virtual void setAbortiveClose();
    virtual Memory read(uint32_t maximum, IMutex& mutex);
    // The bytes read, 0 on time-out or end.
    virtual int32_t read(void* buffer, uint32_t count, IMutex& mutex);
    virtual int32_t write(const Memory& data, IMutex& mutex);
    virtual int32_t write(const void* buffer, uint32_t count, IMutex& mutex);
    // Appends up to `maximum` bytes to out; true once the delimiter (kept) came.
    virtual bool readUntilByte(String& out, char delimiter, uint32_t maximum, IMutex& mutex);
    // Appends to out until it ends with the delimiter, never reading a byte
    // past it; false when out reached `maximum` first.
    virtual bool readUntil(String& out, const String& delimiter, uint32_t maximum, IMutex& mutex);
    virtual void readString(String& out, uint32_t count, IMutex& mutex);
    virtual uint32_t readFully(void* buffer, uint32_t count, IMutex& mutex);
    // One line without its CR and LF; longer than `maximum` throws.
    virtual void readLine(String& out, uint32_t maximum, IMutex& mutex);
    virtual void writeAll(const Memory& data, IMutex& mutex);
    virtual uint32_t writeAll(const void* buffer, uint32_t count, IMutex& mutex);
    virtual void setNext(const gc::Pointer<IO>& next);
    virtual gc::Pointer<IO> next() const;
    virtual gc::Pointer<IO> next();
    virtual bool hasNext() const;
    virtual void dropNext();
    virtual bool waitReadable(uint32_t timeoutMs, IMutex& mutex);
    virtual bool handshake(uint32_t timeoutMs, bool flag);
    virtual void remoteAddress(SocketAddress& out);
    virtual void localAddress(SocketAddress& out);
    virtual void getAttribute(String& out, const String& attribute);
    virtual bool isOldVelnorPki();
    virtual intptr_t handle();
    virtual int protocol();
};

enum : int { IOServerSide = 0, IOClientSide = 1 };
enum : int { ProtocolTcp = 0, ProtocolUdp = 1, ProtocolIcmp = 2 };

using IOCreator = IO* (*)();

// A new stream of that side and protocol code (0 to 3); an empty entry
// throws IOException.
gc::Pointer<IO> createIO(int side, int protocol);

// The layer creators of one side, by name ("ssl").
void registerLayer(const String& name, IOCreator creator, int side);
// An absent name throws IOException.
void unregisterLayer(const String& name, int side);
// The creator of that name, or null.
IOCreator findLayer(const String& name, int side);

// "TCP", "UDP", "ICMP", or empty for another code.
String protocolName(IO& stream);

}  // namespace trivane
