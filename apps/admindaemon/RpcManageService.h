// The "manageService" method: an elevated caller has one of the suite's own
// services started or stopped through the service control manager.
#pragma once

#include "base/gcobject.h"
#include "base/string.h"
#include "xmlrpc/server.h"

#include <cstdint>

namespace trivane {

class RpcManageService final : public gc::ObjectDelete, public xmlrpc::ServerMethod {
public:
    // The longest service name or command the method takes (its fixed
    // fields hold 79 characters and a NUL).
    static constexpr uint32_t maxTextLength = 79;

    RpcManageService() : xmlrpc::ServerMethod("manageService"_s) {}
    const char* className() const noexcept override { return "RpcManageService"; }

    // Parameters: service name, command ("start" or "stop"). "bad
    // configuration" for a caller that is not elevated, "bad parameter" for
    // a name that is not the suite's; otherwise the empty value, whatever
    // the outcome (which is logged).
    xmlrpc::Value execute(const xmlrpc::Value& params, IO* stream) override;
    xmlrpc::Value execute(const xmlrpc::Value& params) override;

    // Whether `name` is one of the services the method may manage.
    static bool isManaged(const String& name);

private:
    static void DoStartSvc(const String& serviceName);
    static void DoStopSvc(const String& serviceName);
};

}  // namespace trivane
