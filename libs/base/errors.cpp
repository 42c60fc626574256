// The error table of sockets.
#include "base/errors.h"

#include "base/console.h"

#include <cstdlib>

namespace trivane {

void raiseSocketError(int code) {
    switch (code) {
        case 10004: TRIVANE_THROW_CODE(ESocketIntr, code);
        case 10013: TRIVANE_THROW_CODE(ESocketAccess, code);
        case 10014: TRIVANE_THROW_CODE(ESocketFault, code);
        case 10022: TRIVANE_THROW_CODE(ESocketInvalid, code);
        case 10024:
            log(LogTrace, "Socket", "raise", "EMFILE error received, no more sockets available. Aborting.");
            std::abort();
        case 10035: TRIVANE_THROW_CODE(ESocketWouldBlock, code);
        case 10036: TRIVANE_THROW_CODE(ESocketInProgress, code);
        case 10038: TRIVANE_THROW_CODE(ESocketNotSock, code);
        case 10040: TRIVANE_THROW_CODE(ESocketMsgSize, code);
        case 10045: TRIVANE_THROW_CODE(ESocketOpNotSupported, code);
        case 10048: TRIVANE_THROW_CODE(ESocketAddressInUse, code);
        case 10049: TRIVANE_THROW_CODE(ESocketAddressNotAvailable, code);
        case 10050: TRIVANE_THROW_CODE(ESocketNetDown, code);
        case 10052: TRIVANE_THROW_CODE(ESocketNetReset, code);
        case 10053: TRIVANE_THROW_CODE(ESocketConnectionAborted, code);
        case 10054: TRIVANE_THROW_CODE(ESocketConnectionReset, code);
        case 10055: TRIVANE_THROW_CODE(ESocketNoBufs, code);
        case 10057: TRIVANE_THROW_CODE(ESocketNotConnected, code);
        case 10058: TRIVANE_THROW_CODE(ESocketShutDown, code);
        case 10065: TRIVANE_THROW_CODE(ESocketHostUnreachable, code);
        case 10093: TRIVANE_THROW_CODE(ESocketNotInitialised, code);
        case 10101: TRIVANE_THROW_CODE(ESocketDisconnection, code);
        default:
            log(LogTrace, "Socket", "raise", "error not registered: "_s + String::fromInt(code));
            TRIVANE_THROW_CODE(ESocket, code);
    }
}

}  // namespace trivane
