#include "base/io.h"

#include "base/socketio.h"
#include "logcapture.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

IMutex& noLock() { return NoMutex::instance(); }

// A stream that hands out its script one chunk per read (an empty chunk is
// a read that times out) and records what is written, up to `writeLimit`
// bytes per write (0: the write stalls).
class ScriptedIO : public IO {
public:
    const char* className() const noexcept override { return "ScriptedIO"; }
    using IO::read;
    using IO::write;

    int32_t read(void* buffer, uint32_t count, IMutex&) override {
        if (script.empty()) return 0;
        std::string& chunk = script.front();
        const uint32_t n = count < chunk.size() ? count : static_cast<uint32_t>(chunk.size());
        chunk.copy(static_cast<char*>(buffer), n);
        chunk.erase(0, n);
        if (chunk.empty()) script.pop_front();
        return static_cast<int32_t>(n);
    }
    Memory read(uint32_t maximum, IMutex& mutex) override {
        Memory bytes;
        const int32_t n = read(bytes.reserve(maximum), maximum, mutex);
        bytes.setLength(static_cast<uint32_t>(n));
        return bytes;
    }
    int32_t write(const void* buffer, uint32_t count, IMutex&) override {
        const uint32_t n = count < writeLimit ? count : writeLimit;
        written.append(static_cast<const char*>(buffer), n);
        return static_cast<int32_t>(n);
    }
    bool isValid() override { return true; }

    std::string unread() const {
        std::string all;
        for (const std::string& chunk : script) all += chunk;
        return all;
    }

    std::deque<std::string> script;
    std::string written;
    uint32_t writeLimit = 3;
};

// A layer that forwards everything to its next stream.
class Layer : public IO {
public:
    const char* className() const noexcept override { return "Layer"; }
    void setNext(const gc::Pointer<IO>& next) override { m_next = next; }
    gc::Pointer<IO> next() const override {
        if (!m_next) TRIVANE_THROW(ENextIO);
        return m_next;
    }
    gc::Pointer<IO> next() override {
        if (!m_next) TRIVANE_THROW(ENextIO);
        return m_next;
    }
    bool hasNext() const override { return static_cast<bool>(m_next); }
    void dropNext() override { m_next.reset(); }

private:
    gc::Pointer<IO> m_next;
};

void expectIOException(const std::function<void()>& call, uint32_t line) {
    try {
        call();
        FAIL() << "no exception";
    } catch (const IOException& e) {
        EXPECT_EQ(str(e.message()), "IOException");
        EXPECT_EQ(str(e.file()), "io");
        EXPECT_EQ(e.line(), line);
    }
}

TEST(IOTest, ReadUntilStopsRightAfterTheBlankLine) {
    // Chunks that split the delimiter in every way a reader could overrun it.
    const std::deque<std::string> scripts[] = {
        {"Host: a\r\nX: \r\r\n\r\nBODY"},
        {"Host: a\r\n", "\r", "\nBODY"},
        {"\r\n\r\nBODY"},
        {"a\r\n\r\r\n\r\nBODY"},
    };
    for (const std::deque<std::string>& script : scripts) {
        ScriptedIO s;
        s.script = script;
        std::string whole;
        for (const std::string& chunk : script) whole += chunk;
        SCOPED_TRACE(whole);
        String out;
        EXPECT_TRUE(s.readUntil(out, "\r\n\r\n"_s, 1000, noLock()));
        EXPECT_EQ(str(out), whole.substr(0, whole.size() - 4));
        EXPECT_EQ(s.unread(), "BODY");
    }
}

TEST(IOTest, ReadUntilReturnsFalseAtItsMaximum) {
    ScriptedIO s;
    s.script = {"abcdefghij\r\n\r\n"};
    String out;
    EXPECT_FALSE(s.readUntil(out, "\r\n\r\n"_s, 6, noLock()));
    EXPECT_EQ(str(out), "abcdef");
    EXPECT_EQ(s.unread(), "ghij\r\n\r\n");
}

TEST(IOTest, ReadLineDropsCarriageReturnsAndStopsAtTheLineFeed) {
    struct Case {
        const char* input;
        const char* line;
        const char* rest;
    } cases[] = {
        {"a\r\n", "a", ""},
        {"a\nb", "a", "b"},
        {"\n", "", ""},
        {"x\ry\r\nz", "xy", "z"},
        {"abc\n", "abc", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        ScriptedIO s;
        s.script = {c.input};
        String out = "old"_s;
        s.readLine(out, 3, noLock());
        EXPECT_EQ(str(out), c.line);
        EXPECT_EQ(s.unread(), c.rest);
    }
}

TEST(IOTest, ReadLineLongerThanItsMaximumThrows) {
    ScriptedIO s;
    s.script = {"abcd\n"};
    String out;
    test::LogCapture logs;
    expectIOException([&] { s.readLine(out, 3, noLock()); }, 261);
    EXPECT_EQ(logs.lines("problem when read data"), 0);
}

TEST(IOTest, ReadFullyOnATimedOutReadLogsOnceAndThrows) {
    ScriptedIO s;
    s.script = {"ab", "", "cd"};
    char buffer[4];
    test::LogCapture logs;
    expectIOException([&] { s.readFully(buffer, 4, noLock()); }, 140);
    EXPECT_EQ(logs.lines("TRACE IO.read problem when read data"), 1);
    EXPECT_EQ(std::string(buffer, 2), "ab");
}

TEST(IOTest, ReadFullyAssemblesChunksAndReadsNothingForZero) {
    ScriptedIO s;
    s.script = {"a", "bc", "def"};
    char buffer[6];
    EXPECT_EQ(s.readFully(buffer, 0, noLock()), 0u);
    EXPECT_EQ(s.readFully(buffer, 6, noLock()), 6u);
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
}

TEST(IOTest, ReadStringAppendsAndThrowsWhenTheStreamStalls) {
    ScriptedIO s;
    s.script = {"ab", "cd", ""};
    String out = ">"_s;
    s.readString(out, 3, noLock());
    EXPECT_EQ(str(out), ">abc");
    test::LogCapture logs;
    expectIOException([&] { s.readString(out, 2, noLock()); }, 158);
    EXPECT_EQ(logs.lines("TRACE IO.read problem when read data"), 1);
}

TEST(IOTest, ReadUntilByteKeepsTheDelimiterOrGivesUpAtTheCount) {
    ScriptedIO s;
    s.script = {"key=value;rest"};
    String out;
    EXPECT_TRUE(s.readUntilByte(out, '=', 10, noLock()));
    EXPECT_EQ(str(out), "key=");
    String more;
    EXPECT_FALSE(s.readUntilByte(more, ';', 3, noLock()));
    EXPECT_EQ(str(more), "val");
}

TEST(IOTest, WriteAllRepeatsShortWritesAndThrowsOnAStall) {
    ScriptedIO s;
    EXPECT_EQ(s.writeAll("0123456789", 10, noLock()), 10u);
    EXPECT_EQ(s.written, "0123456789");
    s.writeAll(Memory("xy"_s), noLock());
    EXPECT_EQ(s.written, "0123456789xy");
    EXPECT_EQ(s.writeAll("", 0, noLock()), 0u);
    s.writeLimit = 0;
    test::LogCapture logs;
    expectIOException([&] { s.writeAll("z", 1, noLock()); }, 175);
    EXPECT_EQ(logs.lines("TRACE IO.write problem when writing data"), 1);
}

TEST(IOTest, AStreamWithoutANextLayerThrowsForWhatItDoesNotImplement) {
    gc::Pointer<IO> plain(new ScriptedIO());
    expectIOException([&] { plain->accept(10, noLock()); }, 204);
    expectIOException([&] { plain->connect(SocketAddress("localhost:1"_s), 10, noLock(), String()); }, 204);
    expectIOException([&] { plain->protocol(); }, 204);
    expectIOException([&] { static_cast<const IO&>(*plain).next(); }, 208);
    expectIOException([&] { plain->setNext(nullptr); }, 200);
    // Operations with a fallback give it.
    EXPECT_FALSE(plain->hasNext());
    EXPECT_FALSE(plain->tlsLayer());
    EXPECT_EQ(plain->handle(), -1);
    EXPECT_EQ(plain->shutdown(2), 0);
    EXPECT_FALSE(plain->isOldVelnorPki());
    SocketAddress address("a:1"_s);
    plain->remoteAddress(address);
    EXPECT_EQ(address.kind(), 0);
    String attribute = "x"_s;
    plain->getAttribute(attribute, "CN"_s);
    EXPECT_EQ(str(attribute), "");
}

TEST(IOTest, ALayerForwardsToItsNextStream) {
    gc::Pointer<ScriptedIO> bottom(new ScriptedIO());
    bottom->script = {"line\r\n"};
    gc::Pointer<IO> layer(new Layer());
    EXPECT_FALSE(layer->isValid());
    EXPECT_THROW(layer->read(nullptr, 1, noLock()), ENextIO);
    layer->setNext(bottom);
    EXPECT_TRUE(layer->isValid());
    EXPECT_TRUE(layer->canRead());
    String line;
    layer->readLine(line, 100, noLock());
    EXPECT_EQ(str(line), "line");
    layer->writeAll(Memory("out"_s), noLock());
    EXPECT_EQ(bottom->written, "out");
    layer->dropNext();
    EXPECT_FALSE(layer->hasNext());
    EXPECT_EQ(bottom->refCount(), 1);
}

IO* createScripted() { return new ScriptedIO(); }

TEST(IOTest, TheCreatorTableMakesTcpStreamsAndRefusesEmptyEntries) {
    EXPECT_STREQ(createIO(IOServerSide, ProtocolTcp)->className(), "SocketIO");
    EXPECT_STREQ(createIO(IOClientSide, ProtocolTcp)->className(), "SocketIO");
    expectIOException([] { createIO(0, 3); }, 400);
    expectIOException([] { createIO(2, 0); }, 400);
}

TEST(IOTest, LayersRegisterReplaceAndUnregisterPerSide) {
    registerLayer("test"_s, createSocketIO, IOClientSide);
    registerLayer("test"_s, createScripted, IOClientSide);
    EXPECT_EQ(findLayer("test"_s, IOClientSide), &createScripted);
    EXPECT_EQ(findLayer("test"_s, IOServerSide), nullptr);
    expectIOException([] { unregisterLayer("test"_s, IOServerSide); }, 376);
    unregisterLayer("test"_s, IOClientSide);
    EXPECT_EQ(findLayer("test"_s, IOClientSide), nullptr);
    expectIOException([] { unregisterLayer("test"_s, IOClientSide); }, 376);
}

TEST(IOTest, ProtocolNames) {
    struct Fixed : ScriptedIO {
        explicit Fixed(int code) : m_code(code) {}
        int protocol() override { return m_code; }
        int m_code;
    };
    const char* names[] = {"TCP", "UDP", "ICMP", ""};
    for (int code = 0; code < 4; ++code) {
        Fixed stream(code);
        EXPECT_EQ(str(protocolName(stream)), names[code]);
    }
}

}  // namespace
