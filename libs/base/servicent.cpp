// The service framework: command line, install and uninstall, service and
// console modes, and the two semaphores between the handlers and the run
// function.
#include "base/servicent.h"

#include "base/commandline.h"
#include "base/console.h"
#include "base/consolecontrol.h"
#include "base/event.h"
#include "base/exception.h"
#include "base/mutex.h"
#include "base/semaphore.h"
#include "base/thread.h"

#include <new>

namespace trivane {

namespace {

constexpr int32_t s_finishedWaitMs = 10000;
constexpr int32_t s_threadsWaitMs = 10000;

const char* s_serviceName = "";
ServiceNT::RunFunction s_runFunction = nullptr;
uint32_t s_startType = scm::startAuto;

// Written by serviceMain and by the control handler, which run on two threads.
Mutex s_statusLock;
scm::ServiceStatus s_status;
scm::StatusHandle s_statusHandle = 0;
// Under the status lock: whether a stop control came, and whether the run
// function and its tear-down are over. The service reads as stopped only
// when both hold, so nothing (the manager's restart, the dispatcher's end
// and with it the process's) acts on a daemon still winding down.
bool s_stopRequested = false;
bool s_launchDone = false;
// How long the manager is told a stop may take: the handler's wait for the
// tear-down and some margin.
constexpr uint32_t s_stopWaitHintMs = 15000;

void reportStopped() {
    s_status.win32ExitCode = 0;
    s_status.currentState = scm::stateStopped;
    s_status.checkPoint = 0;
    s_status.waitHint = 0;
    scm::setServiceStatus(s_statusHandle, s_status);
}

// The semaphores outlive static destruction: a control handler may still
// wait on the finished one while the process ends.
struct Semaphores {
    Semaphore stop{0};
    Semaphore finished{0};
};
alignas(Semaphores) unsigned char s_semaphoreStorage[sizeof(Semaphores)];
Semaphores* const s_semaphores = new (s_semaphoreStorage) Semaphores();

void trace(const char* function, const String& message) { log(LogTrace, "ServiceNT", function, message); }
void trace(const char* function, const char* message) { log(LogTrace, "ServiceNT", function, message); }

bool isOneOf(const String& argument, std::initializer_list<const char*> options) {
    for (const char* option : options)
        if (argument == String(option)) return true;
    return false;
}

// The toolkit's threads end after the run function: the event managers
// "main" then "recycle" are stopped and joined, then every counted thread
// gets `timeoutMs`. False when a counted thread is still running.
bool endToolkitThreads(int32_t timeoutMs) {
    for (EventManager* manager : {EventManager::mainManager(), EventManager::recycleManager()}) {
        if (!manager) continue;
        manager->stop();
        manager->join();
    }
    SynchroThread* threads = SynchroThread::instance();
    return !threads || threads->waitAll(timeoutMs);
}

}  // namespace

void ServiceNT::setServiceName(const char* name) { s_serviceName = name ? name : ""; }

void ServiceNT::setRunFunction(RunFunction run) { s_runFunction = run; }

int ServiceNT::main(int argc, char** argv) {
    const String first = argc >= 2 && argv[1] ? String(argv[1]) : String();
    if (argc >= 2 && isOneOf(first, {"-i", "-im", "-ia"})) {
        trace("main", installService() ? "\n\nservice installed successfully\n" : "\n\nerror installing service\n");
        return 0;
    }
    if (argc >= 2 && first == "-d"_s) {
        trace("main", uninstallService() ? "\n\nservice UnInstalled Successfully\n" : "\n\nerror UnInstalling Service\n");
        return 0;
    }
    if (argc >= 2 && isOneOf(first, {"-t", "-g", "-f", "-v", "-c", "-in"})) {
        setConsoleControlHandler(consoleControlHandler);
        return launch(argc, argv);
    }
    if (!scm::startServiceDispatcher(s_serviceName, serviceMain)) {
        switch (scm::lastError()) {
            case scm::errorInvalidData: trace("main", "can not start service: invalid data!\n"); break;
            case scm::errorServiceAlreadyRunning: trace("main", "can not start service: already running!\n"); break;
            case scm::errorFailedServiceControllerConnect:
                trace("main", "can not start service: the process could not connect to the service controller!\n");
                break;
            default: break;
        }
        trace("main", "can not start service!\n");
    }
    return 0;
}

int ServiceNT::launch(int argc, char** argv) {
    int result = 0;
    try {
        if (s_runFunction) result = s_runFunction(argc, argv);
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        result = 0;
    } catch (...) {
        // Whatever escapes, the tear-down runs and the finished semaphore is
        // released, or the stop handlers would wait out their time-out.
        trace("launch", "the run function ended with an exception outside the Exception family");
        result = 0;
    }
    if (!endToolkitThreads(s_threadsWaitMs)) trace("launch", "all threads are not terminated!");
    s_semaphores->finished.post();
    return result;
}

bool ServiceNT::isRunning() { return !s_semaphores->stop.wait(1); }

void ServiceNT::printError() {
    const char* text = nullptr;
    switch (scm::lastError()) {
        case 5: text = "The handle to the specified service control manager database does not have SC_MANAGER_CREATE_SERVICE access"; break;
        case 6: text = "The handle to the specified service control manager database is invalid"; break;
        case 52: text = "The display name already exists in the service control manager database either as a service name or as another display name"; break;
        case 87: text = "A parameter that was specified is invalid"; break;
        case 123: text = "The specified service name is invalid"; break;
        case 1057: text = "The user account name specified in the lpServiceStartName parameter does not exist"; break;
        case 1059: text = "A circular service dependency was specified"; break;
        case 1065: text = "The specified database does not exist"; break;
        case 1073: text = "The specified service already exists in this database"; break;
        default: return;
    }
    trace("printError", text);
}

bool ServiceNT::installService() {
    // Only the arguments choose the start type: the program's own path may
    // hold "-im" or "-ia" (a directory named "my-images", say).
    const Array<String> arguments = splitCommandLine(processCommandLine());
    String options;
    for (uint32_t i = 1; i < arguments.count(); ++i) options = options + " " + arguments[i];
    if (options.find("-ia") != String::npos) s_startType = scm::startAuto;
    if (options.find("-im") != String::npos) s_startType = scm::startDemand;
    // The module's own path, always quoted: unquoted, a path with a blank
    // would be tried cut at each blank when the service starts.
    return createService(String(s_serviceName), "\""_s + executablePath() + "\"");
}

bool ServiceNT::createService(const String& name, const String& binaryPath) {
    scm::ServiceManager manager;
    if (!manager.open(scm::managerAllAccess)) {
        printError();
        trace("main", "cannot open services manager");
        return false;
    }
    if (!manager.createService(name, name, scm::serviceAllAccess, s_startType, binaryPath)) {
        printError();
        trace("main", "cannot create service: " + name + "in \" " + binaryPath + "\"");
        return false;
    }
    return true;
}

bool ServiceNT::uninstallService() {
    scm::ServiceManager manager;
    scm::Service service;
    if (!manager.open(scm::managerAllAccess) || !manager.openService(String(s_serviceName), scm::serviceAllAccess, service) ||
        !service.remove()) {
        printError();
        return false;
    }
    service.close();
    return true;
}

void ServiceNT::serviceMain(uint32_t argc, char** argv) {
    {
        Locker<Mutex> hold(s_statusLock);
        s_status = scm::ServiceStatus{scm::typeWin32, scm::stateStartPending, scm::acceptStop | scm::acceptSessionChange, 0, 0, 0, 0};
    }
    const scm::StatusHandle handle = scm::registerControlHandler(s_serviceName, serviceControlHandler, nullptr);
    if (handle == 0) return;
    {
        Locker<Mutex> hold(s_statusLock);
        s_statusHandle = handle;
        s_status.currentState = scm::stateRunning;
        s_status.checkPoint = 0;
        s_status.waitHint = 0;
        scm::setServiceStatus(s_statusHandle, s_status);
    }
    launch(static_cast<int>(argc), argv);
    // A run function that returned on its own leaves the service running
    // (serving nothing) until a stop control comes.
    Locker<Mutex> hold(s_statusLock);
    s_launchDone = true;
    if (s_stopRequested) reportStopped();
}

uint32_t ServiceNT::serviceControlHandler(uint32_t control, uint32_t, void*, void*) {
    switch (control) {
        case scm::controlStop: {
            {
                Locker<Mutex> hold(s_statusLock);
                s_stopRequested = true;
                if (s_launchDone) {
                    reportStopped();
                } else {
                    s_status.win32ExitCode = 0;
                    s_status.currentState = scm::stateStopPending;
                    s_status.checkPoint = 1;
                    s_status.waitHint = s_stopWaitHintMs;
                    scm::setServiceStatus(s_statusHandle, s_status);
                }
            }
            s_semaphores->stop.post();
            s_semaphores->finished.wait(s_finishedWaitMs);
            return 0;
        }
        case scm::controlPause: {
            Locker<Mutex> hold(s_statusLock);
            s_status.currentState = scm::statePaused;
            return 0;
        }
        case scm::controlContinue: {
            Locker<Mutex> hold(s_statusLock);
            s_status.currentState = scm::stateRunning;
            return 0;
        }
        case scm::controlInterrogate:
        case scm::controlSessionChange: return 0;
        default: return scm::errorCallNotImplemented;
    }
}

bool ServiceNT::consoleControlHandler(uint32_t) {
    s_semaphores->stop.post();
    s_semaphores->finished.wait(s_finishedWaitMs);
    return true;
}

}  // namespace trivane
