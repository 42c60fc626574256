// The standard faults that methods, the server and the client return. Each
// is built before the statics of any file that includes this header and is
// shared read-only by all threads.
#pragma once

#include "xmlrpc/value.h"

namespace trivane::xmlrpc {

inline const Value faultUnknownMethod{1, "unknown method name"_s};
inline const Value faultNetworkTimeout{2, "network timeout"_s};
inline const Value faultBadParameter{3, "bad parameter"_s};
inline const Value faultBadConfiguration{4, "bad configuration"_s};
inline const Value faultNotFound{5, "not found"_s};
inline const Value faultInternalError{6, "internal error"_s};
inline const Value faultNoGateway{7, "no gateway"_s};
inline const Value faultGatewayNotConnected{8, "gateway not connected"_s};

}  // namespace trivane::xmlrpc
