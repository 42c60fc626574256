#include "base/errors.h"

#include "base/arch/posix/syserror.h"
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

struct MapCase {
    int err;
    int winsock;
};

TEST(SocketErrorTest, ErrnoValuesMapToTheWinsockNumbers) {
    const MapCase cases[] = {
        {0, 0},
        {EINTR, 10004},
        {EACCES, 10013},
        {EINVAL, 10022},
        {EMFILE, 10024},
        {EAGAIN, 10035},
        {EINPROGRESS, 10036},
        {ENOTSOCK, 10038},
        {EADDRINUSE, 10048},
        {EADDRNOTAVAIL, 10049},
        {ECONNABORTED, 10053},
        {ECONNRESET, 10054},
        {ENOTCONN, 10057},
        {EPIPE, 10058},
        {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061},
        {EHOSTUNREACH, 10065},
        {ENOENT, sys::unmappedErrorBit | ENOENT},
    };
    for (const MapCase& c : cases) EXPECT_EQ(sys::windowsSocketError(c.err), c.winsock) << c.err;
}

TEST(SocketErrorTest, FileErrnoValuesMapToTheWin32Numbers) {
    const MapCase cases[] = {
        {ENOENT, 2},
        {EACCES, 5},
        {EBADF, 6},
        {EEXIST, 80},
        {EINVAL, 87},
        {EPIPE, 109},
        {ECHILD, sys::unmappedErrorBit | ECHILD},
    };
    for (const MapCase& c : cases) EXPECT_EQ(sys::windowsError(c.err), c.winsock) << c.err;
}

}  // namespace
