// The errno tables for sockets and for files and pipes.
#include "base/arch/posix/syserror.h"

#include <cerrno>

namespace trivane::sys {

namespace {

struct ErrorPair {
    int err;
    int windows;
};

// EAGAIN and EWOULDBLOCK are one value on Linux; both are listed for other
// systems, and the first match wins.
constexpr ErrorPair s_socketErrors[] = {
    {EINTR, 10004},        {EBADF, 10009},         {EACCES, 10013},       {EPERM, 10013},
    {EFAULT, 10014},       {EINVAL, 10022},        {EMFILE, 10024},       {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},       {EINPROGRESS, 10036},   {EALREADY, 10037},     {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},      {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},    {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},     {ECONNABORTED, 10053}, {ECONNRESET, 10054},
    {ENOBUFS, 10055},      {ENOMEM, 10055},        {ENFILE, 10055},       {EISCONN, 10056},
    {ENOTCONN, 10057},     {ESHUTDOWN, 10058},     {EPIPE, 10058},        {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},  {ELOOP, 10062},        {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},  {ENOTEMPTY, 10066},    {EUSERS, 10068},
    {EDQUOT, 10069},       {ESTALE, 10070},        {EREMOTE, 10071},
};

// Files, processes and pipes. The pipe stand-in's own cases (a busy or
// closing pipe) are decided by the pipe layer before it falls back here.
constexpr ErrorPair s_errors[] = {
    {ENOENT, 2},       {ENOTDIR, 3},      {EMFILE, 4},      {ENFILE, 4},        {EACCES, 5},
    {EPERM, 5},        {EISDIR, 5},       {EBADF, 6},       {ENOMEM, 8},        {EXDEV, 17},
    {EROFS, 19},       {ENOSYS, 50},      {EOPNOTSUPP, 50}, {EEXIST, 80},       {EINVAL, 87},
    {EPIPE, 109},      {ECONNRESET, 109}, {ENOSPC, 112},    {EDQUOT, 112},    {ENOTEMPTY, 145},   {EBUSY, 170},
    {ENOEXEC, 193},    {ENAMETOOLONG, 206}, {ECONNREFUSED, 231}, {EAGAIN, 232}, {ENOTCONN, 233},
    {EINTR, 995},      {EIO, 1117},       {ETIMEDOUT, 1460}, {ELOOP, 1921},
};

template <std::size_t N>
int lookUp(const ErrorPair (&table)[N], int err) noexcept {
    if (err == 0) return 0;
    for (const ErrorPair& pair : table)
        if (pair.err == err) return pair.windows;
    return unmappedErrorBit | err;
}

}  // namespace

int windowsSocketError(int err) noexcept { return lookUp(s_socketErrors, err); }
int windowsError(int err) noexcept { return lookUp(s_errors, err); }

}  // namespace trivane::sys
