// The socket exception family and the table that raises them by error number.
#pragma once

#include "base/exception.h"

namespace trivane {

TRIVANE_DECLARE_EXCEPTION(ESocketIntr, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketAccess, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketFault, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketInvalid, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketWouldBlock, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketInProgress, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketNotSock, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketMsgSize, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketOpNotSupported, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketAddressInUse, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketAddressNotAvailable, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketNetDown, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketNetReset, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketConnectionAborted, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketConnectionReset, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketNoBufs, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketNotConnected, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketShutDown, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketHostUnreachable, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketNotInitialised, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketDisconnection, ESocket);
// A zero-byte transfer: the peer has gone and the socket is closed.
TRIVANE_DECLARE_EXCEPTION(ESocketNullByteRecv, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketNullByteSent, ESocket);
TRIVANE_DECLARE_EXCEPTION(ESocketLookupFailed, ESocket);

// Throws the class of the table for a Winsock error number, with that code.
// 10024 (no descriptor left) aborts the process after its log line.
[[noreturn]] void raiseSocketError(int code);

}  // namespace trivane
