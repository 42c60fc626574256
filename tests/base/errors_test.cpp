#include "base/errors.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

struct RaiseCase {
    int code;
    const char* name;
};

const RaiseCase s_raiseCases[] = {
    {10004, "ESocketIntr"},
    {10013, "ESocketAccess"},
    {10014, "ESocketFault"},
    {10022, "ESocketInvalid"},
    {10035, "ESocketWouldBlock"},
    {10036, "ESocketInProgress"},
    {10038, "ESocketNotSock"},
    {10040, "ESocketMsgSize"},
    {10045, "ESocketOpNotSupported"},
    {10048, "ESocketAddressInUse"},
    {10049, "ESocketAddressNotAvailable"},
    {10050, "ESocketNetDown"},
    {10052, "ESocketNetReset"},
    {10053, "ESocketConnectionAborted"},
    {10054, "ESocketConnectionReset"},
    {10055, "ESocketNoBufs"},
    {10057, "ESocketNotConnected"},
    {10058, "ESocketShutDown"},
    {10065, "ESocketHostUnreachable"},
    {10093, "ESocketNotInitialised"},
    {10101, "ESocketDisconnection"},
};

TEST(SocketErrorTest, EachRegisteredCodeRaisesItsClassWithTheCode) {
    test::LogCapture logs;
    for (const RaiseCase& c : s_raiseCases) {
        SCOPED_TRACE(c.code);
        try {
            raiseSocketError(c.code);
        } catch (const ESocket& e) {
            EXPECT_EQ(str(e.message()), c.name);
            EXPECT_EQ(str(e.file()), "errors");
            EXPECT_EQ(e.code(), c.code);
            EXPECT_NE(str(e.text()).find(":errors:"), std::string::npos);
            EXPECT_EQ(str(e.text()).substr(str(e.text()).size() - 7), "(" + std::to_string(c.code) + ")");
        }
    }
    EXPECT_EQ(logs.lines("not registered"), 0);
}

TEST(SocketErrorTest, TheClassesAreCatchableByTheirOwnType) {
    EXPECT_THROW(raiseSocketError(10054), ESocketConnectionReset);
    EXPECT_THROW(raiseSocketError(10035), ESocketWouldBlock);
    EXPECT_THROW(raiseSocketError(10035), IOException);
}

TEST(SocketErrorTest, AnUnregisteredCodeIsLoggedAndRaisedAsESocket) {
    test::LogCapture logs;
    try {
        raiseSocketError(10061);
        FAIL();
    } catch (const ESocket& e) {
        EXPECT_EQ(str(e.message()), "ESocket");
        EXPECT_EQ(e.code(), 10061);
    }
    EXPECT_EQ(logs.lines("TRACE Socket.raise error not registered: 10061"), 1);
}

TEST(SocketErrorDeathTest, RunningOutOfDescriptorsAbortsTheProcess) {
    EXPECT_DEATH(raiseSocketError(10024), "");
}

}  // namespace
