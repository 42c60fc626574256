#include "base/io.h"
#include "base/socket2.h"
#include "base/socketio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

enum class Call { Read, WaitReadable, Accept };

// A stream closed by another thread while its owner waits in a blocking
// call: the owner wakes with ESocket, and it is the owner that gives the
// descriptor back. The owner's lock is free while it waits.
TEST(SocketThreadTest, ACloseFromAnotherThreadWakesTheBlockedOwner) {
    for (Call call : {Call::Read, Call::WaitReadable, Call::Accept}) {
        SCOPED_TRACE(static_cast<int>(call));
        gc::Pointer<SocketIO> server(new SocketIO());
        server->listen(SocketAddress("127.0.0.1:0"_s), true, 5, String());
        SocketAddress address;
        server->localAddress(address);
        gc::Pointer<SocketIO> client(new SocketIO());
        client->connect(address, 2000, NoMutex::instance(), String());
        gc::Pointer<IO> accepted = server->accept(2000, NoMutex::instance());
        ASSERT_TRUE(accepted);
        gc::Pointer<IO> waiting = call == Call::Accept ? gc::Pointer<IO>(server) : accepted;
        Socket& socket = static_cast<SocketIO&>(*waiting).socket();

        Mutex ownerLock;
        std::atomic<bool> holding{false};
        auto owner = std::async(std::launch::async, [&]() -> std::string {
            Locker<Mutex> hold(ownerLock);
            holding = true;
            try {
                char byte;
                if (call == Call::Read) waiting->read(&byte, 1, ownerLock);
                if (call == Call::WaitReadable) waiting->waitReadable(60000, ownerLock);
                if (call == Call::Accept) waiting->accept(60000, ownerLock);
                return "returned";
            } catch (const Exception& e) {
                return str(e.message());
            }
        });
        while (!holding) std::this_thread::yield();
        // Taking the owner's lock means the owner released it inside the call.
        ownerLock.lock();
        ownerLock.unlock();

        waiting->close();
        EXPECT_FALSE(waiting->isValid());
        if (owner.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            client->writeAll(Memory("x"_s), NoMutex::instance());
            SocketIO unblock;
            unblock.connect(address, 2000, NoMutex::instance(), String());
            ADD_FAILURE() << "the owner was not woken";
        }
        EXPECT_EQ(owner.get(), "ESocket");
        EXPECT_EQ(socket.descriptor(), sys::invalidSocket);
    }
}

TEST(SocketThreadTest, ACloseBeforeTheCallMakesTheCallThrow) {
    gc::Pointer<SocketIO> server(new SocketIO());
    server->listen(SocketAddress("[::1]:0"_s), true, 5, String());
    std::thread([&] { server->close(); }).join();
    EXPECT_THROW(server->accept(10, NoMutex::instance()), ESocket);
    EXPECT_EQ(server->socket().descriptor(), sys::invalidSocket);
}

}  // namespace
