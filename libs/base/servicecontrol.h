// The service control manager: the database of services and the calls that
// create, open, start, stop, query and delete them, and the calls a service
// process makes to be dispatched and to report its states. Numbers (access
// rights, start types, states, controls, error codes) are the Windows ones.
//
// Every call reports failure by a false (or null) result and leaves the
// Windows error number of the failure in lastError() of the calling thread,
// as the Windows calls leave it in GetLastError(). On Linux the database is a
// directory (TRIVANE_SCM_DIR, default /var/lib/trivane/scm) holding one
// "<name in lower case>.service" text file per service.
#pragma once

#include "base/string.h"

#include <cstdint>

namespace trivane::scm {

// Access rights.
inline constexpr uint32_t managerConnect = 0x0001;
inline constexpr uint32_t managerCreateService = 0x0002;
inline constexpr uint32_t managerAllAccess = 0xF003F;
inline constexpr uint32_t serviceQueryStatus = 0x0004;
inline constexpr uint32_t serviceStart = 0x0010;
inline constexpr uint32_t serviceStop = 0x0020;
inline constexpr uint32_t serviceInterrogate = 0x0080;
inline constexpr uint32_t serviceDelete = 0x10000;
inline constexpr uint32_t serviceAllAccess = 0xF01FF;

// Service types and start types.
inline constexpr uint32_t typeOwnProcess = 0x10;
inline constexpr uint32_t typeWin32 = 0x30;
inline constexpr uint32_t startAuto = 2;
inline constexpr uint32_t startDemand = 3;
inline constexpr uint32_t startDisabled = 4;

// States.
inline constexpr uint32_t stateStopped = 1;
inline constexpr uint32_t stateStartPending = 2;
inline constexpr uint32_t stateStopPending = 3;
inline constexpr uint32_t stateRunning = 4;
inline constexpr uint32_t stateContinuePending = 5;
inline constexpr uint32_t statePausePending = 6;
inline constexpr uint32_t statePaused = 7;

// Controls and the controls a service accepts.
inline constexpr uint32_t controlStop = 1;
inline constexpr uint32_t controlPause = 2;
inline constexpr uint32_t controlContinue = 3;
inline constexpr uint32_t controlInterrogate = 4;
inline constexpr uint32_t controlSessionChange = 14;
inline constexpr uint32_t acceptStop = 0x01;
inline constexpr uint32_t acceptSessionChange = 0x80;

// Error numbers these calls report.
inline constexpr uint32_t errorAccessDenied = 5;              // database or file fails the ownership check
inline constexpr uint32_t errorInvalidHandle = 6;             // a closed manager or service handle
inline constexpr uint32_t errorInvalidData = 13;
inline constexpr uint32_t errorDuplicateName = 52;            // display name taken
inline constexpr uint32_t errorInvalidParameter = 87;
inline constexpr uint32_t errorCallNotImplemented = 120;
inline constexpr uint32_t errorInvalidName = 123;
inline constexpr uint32_t errorInvalidServiceControl = 1052;
inline constexpr uint32_t errorServiceAlreadyRunning = 1056;
inline constexpr uint32_t errorServiceDisabled = 1058;
inline constexpr uint32_t errorServiceDoesNotExist = 1060;
inline constexpr uint32_t errorServiceNotActive = 1062;
inline constexpr uint32_t errorFailedServiceControllerConnect = 1063;
inline constexpr uint32_t errorDatabaseDoesNotExist = 1065;
inline constexpr uint32_t errorServiceExists = 1073;
inline constexpr uint32_t errorServiceNotInExe = 1083;

// SERVICE_STATUS.
struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// SERVICE_STATUS_PROCESS: the status with the service's process id (0 when
// it has no live process).
struct ServiceStatusProcess : ServiceStatus {
    uint32_t processId = 0;
    uint32_t serviceFlags = 0;
};

// The error number of the calling thread's last call below; 0 after success.
uint32_t lastError() noexcept;

struct ServiceImpl;
struct ManagerImpl;

// An open service (SC_HANDLE of OpenServiceA). Used by one thread at a time.
class Service {
public:
    Service() noexcept = default;
    ~Service() { close(); }
    Service(Service&& other) noexcept : m_impl(other.m_impl) { other.m_impl = nullptr; }
    Service& operator=(Service&& other) noexcept {
        if (this != &other) {
            close();
            m_impl = other.m_impl;
            other.m_impl = nullptr;
        }
        return *this;
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    bool isOpen() const noexcept { return m_impl != nullptr; }
    void close() noexcept;

    // QueryServiceStatusEx with SC_STATUS_PROCESS_INFO. A service whose
    // process has died reads as stopped; one whose process never reported
    // reads as running while the process lives; after the stop control, and
    // while a process that reported stopped still lives, stop-pending with a
    // non-zero wait hint.
    bool queryStatus(ServiceStatusProcess& status);
    // StartServiceA without arguments: runs the binary path in a new session
    // with TRIVANE_SCM_SERVICE and TRIVANE_SCM_DIR added to the caller's
    // environment, standard streams on /dev/null, no other descriptor.
    // 1056 while its process lives; the exec error (2, 5, ...) when the binary
    // cannot be run.
    bool start();
    // ControlService. controlStop sends SIGTERM through a pidfd checked
    // against the process's start time, so a recycled pid is never signalled
    // (1062 when no live process); controlInterrogate only reads the status;
    // others give 1052. `status` receives the status after the control.
    bool control(uint32_t control, ServiceStatus& status);
    // DeleteService: removes the service from the database at once; a live
    // process runs on and still reports its states.
    bool remove();

private:
    friend class ServiceManager;
    ServiceImpl* m_impl = nullptr;
};

// An open database (SC_HANDLE of OpenSCManagerA). Used by one thread at a time.
class ServiceManager {
public:
    ServiceManager() noexcept = default;
    ~ServiceManager();
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // OpenSCManagerA(NULL, NULL, access). With managerCreateService a
    // missing database directory is created (mode 0755); without it a missing
    // one is 1065. A directory that is a link, is not owned by root or this
    // process's user, or is writable by group or others is refused with 5.
    bool open(uint32_t access = managerAllAccess);
    bool isOpen() const noexcept { return m_impl != nullptr; }
    void close() noexcept;

    // CreateServiceA for an own-process service with normal error control
    // and no account: 1073 when the name exists, 52 when the display name is
    // another service's name or display name, 123 for an invalid name.
    // `created`, when given, receives the new service opened with `access`.
    bool createService(const String& name, const String& displayName, uint32_t access, uint32_t startType,
                       const String& binaryPath, Service* created = nullptr);
    // OpenServiceA: 1060 when the database has no such service (names
    // compare without regard to ASCII case).
    bool openService(const String& name, uint32_t access, Service& service);

private:
    ManagerImpl* m_impl = nullptr;
};

// The service process's side.
using ServiceMainFunction = void (*)(uint32_t argc, char** argv);
using ControlHandler = uint32_t (*)(uint32_t control, uint32_t eventType, void* eventData, void* context);
using StatusHandle = uintptr_t;

// StartServiceCtrlDispatcherA with one service: runs `serviceMain` on a
// thread of its own and delivers the controls to the registered handler on
// the calling thread; returns true once the service has reported stopped.
// Fails with 1063 in a process the database did not start, 1056 when a
// dispatcher already runs. Call it before starting other threads: the stop
// control (SIGTERM) is blocked in the calling thread, and threads started
// afterwards inherit that.
bool startServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain);
// RegisterServiceCtrlHandlerExA: 0 on failure (1083 when `serviceName` is not
// the dispatched service, 1063 without a dispatcher).
StatusHandle registerControlHandler(const char* serviceName, ControlHandler handler, void* context);
// SetServiceStatus.
bool setServiceStatus(StatusHandle handle, const ServiceStatus& status);

}  // namespace trivane::scm
