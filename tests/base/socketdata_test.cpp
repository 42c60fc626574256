#include "base/selectconfig.h"
#include "base/socket2.h"
#include "base/socketdata.h"
#include "logcapture.h"
#include "support/platform.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

// A flat configuration: each key holds one text value.
class FlatReader : public IConfReader {
public:
    explicit FlatReader(std::map<std::string, std::string> values) : m_values(std::move(values)) {}
    bool hasMember(const String& name) override { return m_values.count(str(name)) != 0; }
    IConfReader& member(const String& name) override {
        m_value = m_values.at(str(name));
        return *this;
    }
    uint32_t memberCount(const String& name) override { return hasMember(name) ? 1 : 0; }
    IConfReader& member(const String& name, uint32_t) override { return member(name); }
    int32_t readInt() override {
        if (m_value.empty() || m_value.find_first_not_of("0123456789") != std::string::npos)
            TRIVANE_THROW(EConfBadValue);
        return std::stoi(m_value);
    }
    bool readBool() override { return m_value == "1"; }
    String readString() override { return String(m_value.c_str()).clone(); }

private:
    std::map<std::string, std::string> m_values;
    std::string m_value;
};

class FlatWriter : public IConfWriter {
public:
    IConfWriter& member(const String& name) override {
        m_key = str(name);
        return *this;
    }
    void writeInt(int32_t value) override { values[m_key] = std::to_string(value); }
    void writeBool(bool value) override { values[m_key] = value ? "1" : "0"; }
    void writeString(const String& value) override { values[m_key] = str(value); }
    std::map<std::string, std::string> values;

private:
    std::string m_key;
};

TEST(SocketDataTest, TheDefaults) {
    const SocketData& d = SocketData::defaults();
    EXPECT_EQ(d.m_recvTimeout, 90000u);
    EXPECT_EQ(d.m_sendTimeout, 90000u);
    EXPECT_TRUE(d.m_noDelay);
    EXPECT_EQ(d.m_selectMethod.value(), SelectMethod::Auto);
}

TEST(SocketDataTest, ReadingSkipsAbsentKeysAndLogsBadValues) {
    SocketData d;
    FlatReader reader({{"recv-timeout", "1500"}, {"send-timeout", "soon"}, {"selectmethod", "Poll"}});
    test::LogCapture logs;
    d.loadConf(reader);
    EXPECT_EQ(d.m_recvTimeout, 1500u);
    EXPECT_EQ(d.m_sendTimeout, 90000u);
    EXPECT_TRUE(d.m_noDelay);
    EXPECT_EQ(d.m_selectMethod.value(), SelectMethod::Poll);
    EXPECT_EQ(logs.lines("TRACE Exception.catch EConfBadValue:"), 1);
}

TEST(SocketDataTest, WritingAndReadingBack) {
    SocketData d;
    d.m_recvTimeout = 10;
    d.m_noDelay = false;
    d.m_selectMethod.setValue(SelectMethod::Select);
    FlatWriter writer;
    d.saveConf(writer);
    EXPECT_EQ(writer.values, (std::map<std::string, std::string>{
                                 {"recv-timeout", "10"}, {"send-timeout", "90000"}, {"nodelay", "0"}, {"selectmethod", "select"}}));
    SocketData back;
    FlatReader reader(writer.values);
    back.loadConf(reader);
    EXPECT_EQ(back.m_recvTimeout, 10u);
    EXPECT_FALSE(back.m_noDelay);
    EXPECT_EQ(back.m_selectMethod.value(), SelectMethod::Select);
}

TEST(SelectMethodTest, TextsAreReadWithoutRegardToCase) {
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {{"SELECT", 1}, {"poll", 2}, {"Auto", 0}, {"epoll", 2}, {"", 2}};
    SelectMethod method(SelectMethod::Poll);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        method.setValue(SelectMethod::Poll);
        test::LogCapture logs;
        method.setText(String(c.text));
        EXPECT_EQ(method.value(), c.value);
        const bool bad = c.value == 2 && std::string(c.text) != "poll";
        EXPECT_EQ(logs.lines(std::string("ERROR SelectMethod.write Bad config: ") + c.text), bad ? 1 : 0);
    }
}

TEST(SelectConfigTest, AutoResolvesOnceToPollWhereSupported) {
    for (bool supported : {true, false}) {
        SelectConfig config(supported);
        test::LogCapture logs;
        EXPECT_EQ(config.current(), supported ? SelectMethod::Poll : SelectMethod::Select);
        EXPECT_EQ(config.current(), supported ? SelectMethod::Poll : SelectMethod::Select);
        EXPECT_EQ(logs.lines(supported ? "TRACE SelectConfig.autoconf poll() is supported on this platform, using poll()"
                                       : "TRACE SelectConfig.autoconf poll() is not supported on this platform, using select()"),
                  1);
    }
}

TEST(SelectConfigTest, AnExplicitMethodIsKeptAndABadOneThrows) {
    SelectConfig config(true);
    config.setMethod(SelectMethod::Select);
    EXPECT_EQ(config.current(), SelectMethod::Select);
    config.setMethod(7);
    test::LogCapture logs;
    try {
        config.current();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(str(e.message()), "Exception");
        EXPECT_EQ(str(e.file()), "selectconfig");
    }
    EXPECT_EQ(logs.lines("ERROR SelectConfig.getConf Bug, unknown config"), 1);
}

// The only test of this program that creates sockets: under CTest it runs
// in a process of its own, so its first socket is the process's first.
TEST(SelectConfigTest, TheFirstSocketLogsTheChoiceAndLaterOnesDoNot) {
    test::LogCapture logs;
    {
        Socket first;
        Socket second;
    }
    Socket third;
    // Winsock's select() takes any socket; Linux's only small descriptors.
    if (test::windowsTarget) {
        EXPECT_EQ(logs.lines("TRACE SelectConfig.autoconf poll() is not supported on this platform, using select()"), 1);
        EXPECT_EQ(SelectConfig::instance().current(), SelectMethod::Select);
    } else {
        EXPECT_EQ(logs.lines("TRACE SelectConfig.autoconf poll() is supported on this platform, using poll()"), 1);
        EXPECT_EQ(SelectConfig::instance().current(), SelectMethod::Poll);
    }
}

}  // namespace
