// The errno tables of the Linux platform layer: every system error a log or
// an exception carries is given its Windows number.
#include "base/arch/posix/syserror.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace trivane {
namespace {

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
}  // namespace trivane
