// The admin daemon's run function: trace file, server, methods, pipe
// protection, the work loop and the tear-down.
#include "service.h"

#include "AclUtils.h"
#include "AdminDaemonDatas.h"
#include "RpcManageService.h"
#include "RpcStartVpn.h"
#include "RpcStopVpn.h"
#include "base/arch/host.h"
#include "base/clock.h"
#include "base/console.h"
#include "base/datetime.h"
#include "base/exception.h"
#include "base/securedir.h"
#include "base/servicent.h"
#include "xmlrpc/namedpipeserver.h"

#include <memory>

namespace trivane {

namespace {

constexpr uint32_t workBudgetMs = 2000;

// Points the console's file levels at a new trace file in the checked log
// directory. A directory another user could have planted or can write to
// is refused: the daemon then runs on without a trace file.
void openTraceFile() {
    const char separator = nativePathSeparator();
    const String s(&separator, 1);
    const String temp = sys::temporaryDirectory();
    const String relative = "Velnor"_s + s + "AdminDaemon" + s + "Logs";
    SecureDirectory directory;
    const uint32_t error = directory.open(temp, relative);
    if (error != 0) {
        log(LogTrace, "service", "service",
            "log directory refused, no trace file is written: "_s + temp + relative + " (error " +
                String::fromUInt(error) + ")");
        return;
    }
    const String path = directory.path() + "admindaemon_trace_" + DateTime().compactText() + ".txt";
    Console* console = Console::instance();
    for (int level : {LogTrace, LogError, LogWarning, LogAssert}) console->setOutput(level, path);
}

// After a work call that threw, the rest of its budget is waited out (a
// lasting failure would otherwise spin and fill the trace file), watching
// for a stop request meanwhile. False when a stop was requested.
bool waitOutBudget(uint64_t startedMs) {
    for (;;) {
        const uint64_t elapsed = steadyMilliseconds() - startedMs;
        if (elapsed >= workBudgetMs) return true;
        const uint64_t left = workBudgetMs - elapsed;
        sleepMilliseconds(static_cast<uint32_t>(left < 100 ? left : 100));
        if (!ServiceNT::isRunning()) return false;
    }
}

}  // namespace

int service(int, char**) {
    openTraceFile();
    Console::instance()->infoSystem(true);

    // Declared in the order of their release, last first: the server (which
    // ends its connections) goes before the methods they may still run, and
    // the shared VPN state (which ends the stop threads and the recorded
    // VPN) goes last.
    AdminDaemonDatas datas;
    gc::Pointer<RpcStartVpn> startVpn(new RpcStartVpn(&datas));
    gc::Pointer<RpcStopVpn> stopVpn(new RpcStopVpn(&datas));
    gc::Pointer<RpcManageService> manageService(new RpcManageService());
    auto server = std::make_unique<xmlrpc::NamedPipeServer>();
    server->addMethod(startVpn.get());
    server->addMethod(stopVpn.get());
    server->addMethod(manageService.get());

    sys::SecurityDescriptor* descriptor = nullptr;
    sys::Acl* acl = nullptr;
    {
        gc::Pointer<SecurityId> processUser = AclUtils::getProcessUserSid();
        gc::Pointer<SecurityId> everyone = AclUtils::getEveryoneSid();
        AclUtils::buildSecurityDescriptor(processUser, everyone, descriptor, acl);
    }
    // The server may create the pipe again at any time: the attributes live
    // as long as the server.
    const sys::SecurityAttributes attributes{12, descriptor, false};
    server->listen("gate_admin_daemon"_s, 3, &attributes);

    bool running = ServiceNT::isRunning();
    while (running) {
        const uint64_t started = steadyMilliseconds();
        try {
            server->work(workBudgetMs);
        } catch (const Exception& e) {
            TRIVANE_LOG_CAUGHT(e);
            if (!waitOutBudget(started)) break;
        }
        running = ServiceNT::isRunning();
    }
    server.reset();
    return 1;
}

}  // namespace trivane
