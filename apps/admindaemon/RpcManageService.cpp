// The "manageService" method and its two service-control procedures.
#include "RpcManageService.h"

#include "base/clock.h"
#include "base/console.h"
#include "base/exception.h"
#include "base/namedpipeio.h"
#include "base/servicecontrol.h"
#include "xmlrpc/faults.h"

namespace trivane {

namespace {

void trace(const char* function, const String& message) { log(LogTrace, "RpcManageService", function, message); }

void traceError(const char* function, const char* prefix) {
    trace(function, String(prefix) + String::fromUInt(scm::lastError()) + ")");
}

// One tenth of the wait hint, kept between 1 and 10 seconds.
uint32_t pollInterval(uint32_t waitHint) {
    const uint32_t tenth = waitHint / 10;
    return tenth < 1000 ? 1000 : (tenth > 10000 ? 10000 : tenth);
}

enum class WaitEnd { Left, TimedOut, QueryFailed };

// Waits while the service stays in `pending`, as long as its check point
// keeps moving within its wait hint.
WaitEnd waitWhilePending(scm::Service& service, scm::ServiceStatusProcess& status, uint32_t pending) {
    uint64_t start = steadyMilliseconds();
    uint32_t checkPoint = status.checkPoint;
    while (status.currentState == pending) {
        sleepMilliseconds(pollInterval(status.waitHint));
        if (!service.queryStatus(status)) return WaitEnd::QueryFailed;
        if (status.checkPoint > checkPoint) {
            start = steadyMilliseconds();
            checkPoint = status.checkPoint;
        } else if (steadyMilliseconds() - start > status.waitHint) {
            return status.currentState == pending ? WaitEnd::TimedOut : WaitEnd::Left;
        }
    }
    return WaitEnd::Left;
}

}  // namespace

bool RpcManageService::isManaged(const String& name) {
    static constexpr char gateway[] = "velnor gateway";
    static constexpr char agent[] = "velnor agent";
    if (name.length() > maxTextLength) return false;
    return name.matchesIgnoreCaseAt(gateway, sizeof gateway - 1, 0) || name.equalsIgnoreCase(agent, sizeof agent - 1);
}

xmlrpc::Value RpcManageService::execute(const xmlrpc::Value&) { return xmlrpc::faultBadConfiguration; }

xmlrpc::Value RpcManageService::execute(const xmlrpc::Value& params, IO* stream) {
    auto* pipe = dynamic_cast<NamedPipeIO*>(stream);
    if (!pipe || !pipe->isClientElevated()) {
        trace("execute", "Unauthorized ManageService"_s);
        return xmlrpc::faultBadConfiguration;
    }
    const String serviceName = params.get(0).asString();
    String command;
    try {
        command = params.get(1).asString();
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        command = String();
    }
    trace("execute", serviceName + " command:" + command);
    if (!isManaged(serviceName)) {
        trace("execute", "unmanaged service:"_s + serviceName);
        return xmlrpc::faultBadParameter;
    }
    static constexpr char start[] = "start";
    static constexpr char stop[] = "stop";
    if (command.equalsIgnoreCase(start, sizeof start - 1))
        DoStartSvc(serviceName);
    else if (command.equalsIgnoreCase(stop, sizeof stop - 1))
        DoStopSvc(serviceName);
    else
        trace("execute", "unsupported command:"_s + command);
    return xmlrpc::Value();
}

void RpcManageService::DoStartSvc(const String& serviceName) {
    const char* const function = "DoStartSvc";
    scm::ServiceManager manager;
    if (!manager.open(scm::managerAllAccess)) return traceError(function, "OpenSCManager failed (");
    scm::Service service;
    if (!manager.openService(serviceName, scm::serviceAllAccess, service))
        return traceError(function, "OpenService failed (");
    scm::ServiceStatusProcess status;
    if (!service.queryStatus(status)) return traceError(function, "QueryServiceStatusEx failed (");
    if (status.currentState == scm::stateStopPending) {
        switch (waitWhilePending(service, status, scm::stateStopPending)) {
            case WaitEnd::QueryFailed: return traceError(function, "QueryServiceStatusEx failed (");
            case WaitEnd::TimedOut: return trace(function, "Timeout waiting for service to stop"_s);
            case WaitEnd::Left: break;
        }
    } else if (status.currentState != scm::stateStopped) {
        return trace(function, "Cannot start the service because it is already running"_s);
    }
    if (!service.start()) return traceError(function, "StartService failed (");
    trace(function, "Service start pending..."_s);
    if (!service.queryStatus(status)) return traceError(function, "QueryServiceStatusEx failed (");
    if (waitWhilePending(service, status, scm::stateStartPending) == WaitEnd::QueryFailed)
        traceError(function, "QueryServiceStatusEx failed (");
    trace(function, status.currentState == scm::stateRunning ? "Service started successfully"_s : "Service not started"_s);
}

void RpcManageService::DoStopSvc(const String& serviceName) {
    const char* const function = "DoStopSvc";
    static constexpr uint64_t limitMs = 30000;
    const uint64_t start = steadyMilliseconds();
    scm::ServiceManager manager;
    if (!manager.open(scm::managerAllAccess)) return traceError(function, "OpenSCManager failed (");
    scm::Service service;
    if (!manager.openService(serviceName, 0x2C, service)) return traceError(function, "OpenService failed (");
    scm::ServiceStatusProcess status;
    if (!service.queryStatus(status)) return traceError(function, "QueryServiceStatusEx failed (");
    if (status.currentState == scm::stateStopped) return trace(function, "Service is already stopped"_s);
    while (status.currentState == scm::stateStopPending) {
        trace(function, "Service stop pending..."_s);
        sleepMilliseconds(pollInterval(status.waitHint));
        if (!service.queryStatus(status)) return traceError(function, "QueryServiceStatusEx failed (");
        if (status.currentState == scm::stateStopped) return trace(function, "Service stopped successfully"_s);
        if (steadyMilliseconds() - start > limitMs) return trace(function, "Service stop timed out"_s);
    }
    scm::ServiceStatus controlled;
    if (!service.control(scm::controlStop, controlled)) return traceError(function, "ControlService failed (");
    static_cast<scm::ServiceStatus&>(status) = controlled;
    while (status.currentState != scm::stateStopped) {
        // The hint is the service's own figure: kept within the same bounds
        // as every other wait here.
        sleepMilliseconds(pollInterval(status.waitHint));
        if (!service.queryStatus(status)) return traceError(function, "QueryServiceStatusEx failed (");
        if (status.currentState == scm::stateStopped) break;
        if (steadyMilliseconds() - start > limitMs) return trace(function, "Wait timed out"_s);
    }
    trace(function, "Service stopped successfully"_s);
}

}  // namespace trivane
