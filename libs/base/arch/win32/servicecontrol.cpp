// The service control manager of Windows: each call is the system's own,
// its failure the system's error number.
#include "base/servicecontrol.h"

#include <windows.h>

namespace trivane::scm {

namespace {

thread_local uint32_t t_lastError = 0;

bool fail() {
    t_lastError = GetLastError();
    return false;
}
bool succeed() {
    t_lastError = 0;
    return true;
}

void copyStatus(const SERVICE_STATUS& from, ServiceStatus& to) {
    to.serviceType = from.dwServiceType;
    to.currentState = from.dwCurrentState;
    to.controlsAccepted = from.dwControlsAccepted;
    to.win32ExitCode = from.dwWin32ExitCode;
    to.serviceSpecificExitCode = from.dwServiceSpecificExitCode;
    to.checkPoint = from.dwCheckPoint;
    to.waitHint = from.dwWaitHint;
}

}  // namespace

struct ServiceImpl {
    SC_HANDLE handle;
};
struct ManagerImpl {
    SC_HANDLE handle;
};

uint32_t lastError() noexcept { return t_lastError; }

void Service::close() noexcept {
    if (!m_impl) return;
    CloseServiceHandle(m_impl->handle);
    delete m_impl;
    m_impl = nullptr;
}

bool Service::queryStatus(ServiceStatusProcess& status) {
    if (!m_impl) {
        t_lastError = errorInvalidHandle;
        return false;
    }
    SERVICE_STATUS_PROCESS native{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(m_impl->handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&native),
                              sizeof native, &needed))
        return fail();
    status.serviceType = native.dwServiceType;
    status.currentState = native.dwCurrentState;
    status.controlsAccepted = native.dwControlsAccepted;
    status.win32ExitCode = native.dwWin32ExitCode;
    status.serviceSpecificExitCode = native.dwServiceSpecificExitCode;
    status.checkPoint = native.dwCheckPoint;
    status.waitHint = native.dwWaitHint;
    status.processId = native.dwProcessId;
    status.serviceFlags = native.dwServiceFlags;
    return succeed();
}

bool Service::start() {
    if (!m_impl) {
        t_lastError = errorInvalidHandle;
        return false;
    }
    return StartServiceA(m_impl->handle, 0, nullptr) ? succeed() : fail();
}

bool Service::control(uint32_t control, ServiceStatus& status) {
    if (!m_impl) {
        t_lastError = errorInvalidHandle;
        return false;
    }
    SERVICE_STATUS native{};
    const BOOL done = ControlService(m_impl->handle, control, &native);
    // The status is filled in for some failures too (a service that cannot
    // take the control now).
    copyStatus(native, status);
    return done ? succeed() : fail();
}

bool Service::remove() {
    if (!m_impl) {
        t_lastError = errorInvalidHandle;
        return false;
    }
    return DeleteService(m_impl->handle) ? succeed() : fail();
}

ServiceManager::~ServiceManager() { close(); }

void ServiceManager::close() noexcept {
    if (!m_impl) return;
    CloseServiceHandle(m_impl->handle);
    delete m_impl;
    m_impl = nullptr;
}

bool ServiceManager::open(uint32_t access) {
    close();
    SC_HANDLE handle = OpenSCManagerA(nullptr, nullptr, access);
    if (!handle) return fail();
    m_impl = new ManagerImpl{handle};
    return succeed();
}

bool ServiceManager::createService(const String& name, const String& displayName, uint32_t access,
                                   uint32_t startType, const String& binaryPath, Service* created) {
    if (!m_impl) {
        t_lastError = errorInvalidHandle;
        return false;
    }
    String serviceName = name.clone(), display = displayName.clone(), path = binaryPath.clone();
    SC_HANDLE handle = CreateServiceA(m_impl->handle, serviceName.cStr(), display.cStr(), access,
                                      SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL, path.cStr(),
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!handle) return fail();
    if (created) {
        created->close();
        created->m_impl = new ServiceImpl{handle};
    } else {
        CloseServiceHandle(handle);
    }
    return succeed();
}

bool ServiceManager::openService(const String& name, uint32_t access, Service& service) {
    if (!m_impl) {
        t_lastError = errorInvalidHandle;
        return false;
    }
    String serviceName = name.clone();
    SC_HANDLE handle = OpenServiceA(m_impl->handle, serviceName.cStr(), access);
    if (!handle) return fail();
    service.close();
    service.m_impl = new ServiceImpl{handle};
    return succeed();
}

bool startServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
    SERVICE_TABLE_ENTRYA table[] = {
        {const_cast<char*>(serviceName), reinterpret_cast<LPSERVICE_MAIN_FUNCTIONA>(serviceMain)},
        {nullptr, nullptr},
    };
    return StartServiceCtrlDispatcherA(table) ? succeed() : fail();
}

StatusHandle registerControlHandler(const char* serviceName, ControlHandler handler, void* context) {
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(
        serviceName, reinterpret_cast<LPHANDLER_FUNCTION_EX>(handler), context);
    if (!handle) {
        fail();
        return 0;
    }
    succeed();
    return reinterpret_cast<StatusHandle>(handle);
}

bool setServiceStatus(StatusHandle handle, const ServiceStatus& status) {
    SERVICE_STATUS native{};
    native.dwServiceType = status.serviceType;
    native.dwCurrentState = status.currentState;
    native.dwControlsAccepted = status.controlsAccepted;
    native.dwWin32ExitCode = status.win32ExitCode;
    native.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    native.dwCheckPoint = status.checkPoint;
    native.dwWaitHint = status.waitHint;
    return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &native) ? succeed() : fail();
}

}  // namespace trivane::scm
