// The service control manager on Linux: a directory of service files, a run
// record per service, and a dispatcher that turns SIGTERM into the stop
// control.
//
// Beside "<key>.service" (written by createService, or by hand) the database
// keeps "<key>.run" while a service has run: the process id and start time of
// its process, the states it reported, and whether the stop control was sent.
// Every access to a run record holds an exclusive flock on it.
#include "base/servicecontrol.h"

#include "base/commandline.h"
#include "base/mutex.h"

#include "base/arch/posix/syserror.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace trivane::scm {

namespace {

constexpr const char* s_defaultDirectory = "/var/lib/trivane/scm";
constexpr uint32_t s_maximumNameLength = 256;
// What a service winding down after the stop control announces: long enough
// for a daemon's work interval and tear-down.
constexpr uint32_t s_stopWaitHint = 2000;
constexpr uint32_t s_errorProcessAborted = 1067;
constexpr uint32_t s_errorServiceCannotAcceptControl = 1061;
constexpr uint32_t s_errorServiceMarkedForDelete = 1072;

thread_local uint32_t t_lastError = 0;

bool fail(uint32_t error) {
    t_lastError = error;
    return false;
}

bool succeed() {
    t_lastError = 0;
    return true;
}

// The Windows number of a file or process call's errno.
uint32_t errorOf(int err) {
    // A link where a real file or directory belongs is refused as access denied.
    return err == ELOOP ? errorAccessDenied : static_cast<uint32_t>(sys::windowsError(err));
}

bool failErrno() { return fail(errorOf(errno)); }

String databaseDirectory() {
    const char* value = std::getenv("TRIVANE_SCM_DIR");
    String path = value && *value ? String(value) : String(s_defaultDirectory);
    if (path.data()[0] != '/') {
        // The services run in "/": hand them an absolute path.
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) path = String(cwd) + "/" + path;
    }
    return path;
}

// What the database trusts: a real file or directory of root or of this
// process's user that neither group nor others may write.
bool isTrusted(const struct stat& st, bool directory) {
    const bool kindOk = directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
    return kindOk && (st.st_uid == 0 || st.st_uid == geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool makeDirectories(const String& path) {
    String partial;
    uint32_t pos = 1;
    while (pos <= path.length()) {
        uint32_t slash = path.find('/', pos);
        if (slash == String::npos) slash = path.length();
        partial = path.mid(0, slash);
        if (mkdir(partial.cStr(), 0755) != 0 && errno != EEXIST) return false;
        pos = slash + 1;
    }
    return true;
}

// Service names: what Windows accepts, and nothing that could leave the
// database directory or break a key=value line.
bool isValidName(const String& name) {
    if (name.isEmpty() || name.length() > s_maximumNameLength) return false;
    for (uint32_t i = 0; i < name.length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name.data()[i]);
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    }
    return true;
}

bool holdsLineBreak(const String& text) { return text.findFirstOf("\r\n") != String::npos; }

String lowerAscii(const String& text) {
    String lower = text.clone();
    for (uint32_t i = 0; i < lower.length(); ++i) {
        const char c = lower.charAt(i);
        if (c >= 'A' && c <= 'Z') lower.setCharAt(i, static_cast<char>(c - 'A' + 'a'));
    }
    return lower;
}

bool equalsIgnoreCase(const String& a, const String& b) { return lowerAscii(a) == lowerAscii(b); }

// key=value lines.
struct Fields {
    String text;
    String get(const char* key) const {
        const uint32_t keyLength = static_cast<uint32_t>(std::strlen(key));
        uint32_t pos = 0;
        while (pos < text.length()) {
            uint32_t end = text.find('\n', pos);
            if (end == String::npos) end = text.length();
            String line = text.mid(pos, end - pos);
            if (line.length() > keyLength && line.data()[keyLength] == '=' && line.mid(0, keyLength).equals(key, keyLength))
                return line.mid(keyLength + 1).trim();
            pos = end + 1;
        }
        return String();
    }
};

bool readAll(int fd, String& text) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, static_cast<uint32_t>(n));
    }
}

bool writeAll(int fd, const String& text) {
    uint32_t done = 0;
    while (done < text.length()) {
        const ssize_t n = write(fd, text.data() + done, text.length() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

// Opens a trusted regular file of the database for reading; false with the error set.
bool readTrustedFile(int dirFd, const String& fileName, Fields& fields) {
    String name = fileName;
    const int fd = openat(dirFd, name.cStr(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? fail(errorServiceDoesNotExist) : failErrno();
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && isTrusted(st, false);
    if (!ok) {
        close(fd);
        return fail(errorAccessDenied);
    }
    ok = readAll(fd, fields.text);
    close(fd);
    return ok ? succeed() : failErrno();
}

String serviceKey(const String& name) { return lowerAscii(name); }

// Start time of a live process in clock ticks since boot; 0 when there is no
// such process or it has already ended (a zombie).
uint64_t processStartTime(pid_t pid) {
    if (pid <= 0) return 0;
    // Formatted by hand: this also runs in a child between fork and exec.
    char path[32] = "/proc/";
    char digits[16];
    int count = 0;
    for (unsigned value = static_cast<unsigned>(pid); value != 0; value /= 10) digits[count++] = static_cast<char>('0' + value % 10);
    int at = 6;
    while (count > 0) path[at++] = digits[--count];
    std::memcpy(path + at, "/stat", 6);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buffer[1024];
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (n <= 0) return 0;
    buffer[n] = 0;
    // The command name may hold blanks and parentheses: fields follow the last ')'.
    const char* p = std::strrchr(buffer, ')');
    if (!p || p[1] != ' ') return 0;
    p += 2;
    const char state = *p;
    if (state == 'Z' || state == 'X' || state == 'x') return 0;
    // Field 3 is the state; the start time is field 22.
    for (int field = 3; field < 22 && *p; ++p) {
        if (*p == ' ') ++field;
    }
    return std::strtoull(p, nullptr, 10);
}

// The run record of one service, read and written under its lock.
struct RunRecord {
    pid_t pid = 0;
    uint64_t startTime = 0;
    bool reported = false;
    ServiceStatus status;
    bool stopSent = false;

    bool isAlive() const { return pid > 0 && startTime != 0 && processStartTime(pid) == startTime; }

    void parse(const Fields& fields) {
        pid = static_cast<pid_t>(fields.get("pid").toInt());
        startTime = static_cast<uint64_t>(fields.get("start").toInt64());
        const String state = fields.get("state");
        reported = !state.isEmpty();
        status.currentState = static_cast<uint32_t>(state.toInt());
        status.controlsAccepted = static_cast<uint32_t>(fields.get("controls").toInt());
        status.win32ExitCode = static_cast<uint32_t>(fields.get("exitcode").toInt64());
        status.serviceSpecificExitCode = static_cast<uint32_t>(fields.get("specificexitcode").toInt64());
        status.checkPoint = static_cast<uint32_t>(fields.get("checkpoint").toInt64());
        status.waitHint = static_cast<uint32_t>(fields.get("waithint").toInt64());
        stopSent = fields.get("stop") == "1"_s;
    }

    String format() const {
        String text = "pid=" + String::fromInt(pid) + "\nstart=" + String::fromUInt64(startTime) + "\n";
        if (reported) {
            text = text + "state=" + String::fromUInt(status.currentState) +
                   "\ncontrols=" + String::fromUInt(status.controlsAccepted) +
                   "\nexitcode=" + String::fromUInt(status.win32ExitCode) +
                   "\nspecificexitcode=" + String::fromUInt(status.serviceSpecificExitCode) +
                   "\ncheckpoint=" + String::fromUInt(status.checkPoint) +
                   "\nwaithint=" + String::fromUInt(status.waitHint) + "\n";
        }
        if (stopSent) text = text + "stop=1\n";
        return text;
    }

    // The status this record gives to a query.
    ServiceStatusProcess view() const {
        ServiceStatusProcess out;
        out.serviceType = typeOwnProcess;
        if (!isAlive()) {
            out.currentState = stateStopped;
            if (reported && status.currentState == stateStopped) {
                out.win32ExitCode = status.win32ExitCode;
                out.serviceSpecificExitCode = status.serviceSpecificExitCode;
            } else if (pid > 0 && !stopSent) {
                out.win32ExitCode = s_errorProcessAborted;
            }
            return out;
        }
        out.processId = static_cast<uint32_t>(pid);
        if (stopSent || (reported && status.currentState == stateStopped)) {
            out.currentState = stateStopPending;
            out.checkPoint = reported ? status.checkPoint : 0;
            out.waitHint = s_stopWaitHint;
        } else if (reported) {
            static_cast<ServiceStatus&>(out) = status;
            out.serviceType = typeOwnProcess;
        } else {
            out.currentState = stateRunning;
            out.controlsAccepted = acceptStop;
        }
        return out;
    }
};

// A locked run record; the lock goes with the object.
class LockedRecord {
public:
    LockedRecord() = default;
    ~LockedRecord() {
        if (m_fd >= 0) close(m_fd);  // closing releases the flock
    }
    LockedRecord(const LockedRecord&) = delete;
    LockedRecord& operator=(const LockedRecord&) = delete;

    // False with the error set. Without `create` a missing record reads as
    // empty (and cannot be saved).
    bool open(int dirFd, const String& key, bool create) {
        String name = key + ".run";
        m_fd = openat(dirFd, name.cStr(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (create ? O_CREAT : 0), 0600);
        if (m_fd < 0 && !create && errno == ENOENT) return true;
        if (m_fd < 0) return failErrno();
        struct stat st;
        if (fstat(m_fd, &st) != 0 || !isTrusted(st, false)) return fail(errorAccessDenied);
        while (flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) return failErrno();
        }
        Fields fields;
        if (!readAll(m_fd, fields.text)) return failErrno();
        record.parse(fields);
        return true;
    }

    bool save() {
        if (m_fd < 0) return fail(errorInvalidHandle);
        const String text = record.format();
        if (ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0 || !writeAll(m_fd, text)) return failErrno();
        return true;
    }

    RunRecord record;

private:
    int m_fd = -1;
};

}  // namespace

uint32_t lastError() noexcept { return t_lastError; }

struct ManagerImpl {
    int dirFd = -1;
    uint32_t access = 0;
    String directory;
};

struct ServiceImpl {
    int dirFd = -1;
    uint32_t access = 0;
    String directory;
    String key;
    String name;
};

// ---- ServiceManager

ServiceManager::~ServiceManager() { close(); }

void ServiceManager::close() noexcept {
    if (!m_impl) return;
    ::close(m_impl->dirFd);
    delete m_impl;
    m_impl = nullptr;
}

bool ServiceManager::open(uint32_t access) {
    close();
    String directory = databaseDirectory();
    if ((access & managerCreateService) != 0 && !makeDirectories(directory)) return failErrno();
    const int fd = ::open(directory.cStr(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return fail(errorDatabaseDoesNotExist);
        return errno == ELOOP || errno == ENOTDIR ? fail(errorAccessDenied) : failErrno();
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !isTrusted(st, true)) {
        ::close(fd);
        return fail(errorAccessDenied);
    }
    m_impl = new ManagerImpl{fd, access, directory};
    return succeed();
}

namespace {

// Whether `displayName` is already another service's name or display name.
bool displayNameTaken(int dirFd, const String& name, const String& displayName) {
    const int listFd = dup(dirFd);
    if (listFd < 0) return false;
    DIR* dir = fdopendir(listFd);
    if (!dir) {
        close(listFd);
        return false;
    }
    rewinddir(dir);
    const String suffix = ".service"_s;
    bool taken = false;
    while (struct dirent* entry = readdir(dir)) {
        const String file(entry->d_name);
        if (file.length() <= suffix.length() || !(file.mid(file.length() - suffix.length()) == suffix)) continue;
        Fields fields;
        if (!readTrustedFile(dirFd, file, fields)) continue;
        String other = fields.get("name");
        if (other.isEmpty()) other = file.mid(0, file.length() - suffix.length());
        String otherDisplay = fields.get("display");
        if (otherDisplay.isEmpty()) otherDisplay = other;
        if (equalsIgnoreCase(other, name)) continue;
        if (equalsIgnoreCase(other, displayName) || equalsIgnoreCase(otherDisplay, displayName) ||
            equalsIgnoreCase(otherDisplay, name)) {
            taken = true;
            break;
        }
    }
    closedir(dir);
    return taken;
}

}  // namespace

bool ServiceManager::createService(const String& name, const String& displayName, uint32_t access,
                                   uint32_t startType, const String& binaryPath, Service* created) {
    if (!m_impl) return fail(errorInvalidHandle);
    if ((m_impl->access & managerCreateService) == 0) return fail(errorAccessDenied);
    if (!isValidName(name)) return fail(errorInvalidName);
    const String display = displayName.isEmpty() ? name : displayName;
    if (display.length() > s_maximumNameLength || holdsLineBreak(display) || binaryPath.trim().isEmpty() ||
        holdsLineBreak(binaryPath) || startType < startAuto || startType > startDisabled)
        return fail(errorInvalidParameter);

    String fileName = serviceKey(name) + ".service";
    struct stat st;
    if (fstatat(m_impl->dirFd, fileName.cStr(), &st, AT_SYMLINK_NOFOLLOW) == 0) return fail(errorServiceExists);
    if (displayNameTaken(m_impl->dirFd, name, display)) return fail(errorDuplicateName);

    // Written aside and linked into place: a reader never sees half a file,
    // and two creators of one name cannot both succeed.
    String tempName = "." + fileName + ".new" + String::fromInt(getpid());
    const int fd = openat(m_impl->dirFd, tempName.cStr(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return failErrno();
    const String text = "name=" + name + "\ndisplay=" + display + "\nbinary=" + binaryPath +
                        "\nstart=" + String::fromUInt(startType) + "\n";
    const bool written = fchmod(fd, 0644) == 0 && writeAll(fd, text) && fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    if (!written) {
        unlinkat(m_impl->dirFd, tempName.cStr(), 0);
        return fail(errorOf(writeErrno));
    }
    const int linked = linkat(m_impl->dirFd, tempName.cStr(), m_impl->dirFd, fileName.cStr(), 0);
    const int linkErrno = errno;
    unlinkat(m_impl->dirFd, tempName.cStr(), 0);
    if (linked != 0) return linkErrno == EEXIST ? fail(errorServiceExists) : fail(errorOf(linkErrno));
    if (created && !openService(name, access, *created)) return false;
    return succeed();
}

bool ServiceManager::openService(const String& name, uint32_t access, Service& service) {
    service.close();
    if (!m_impl) return fail(errorInvalidHandle);
    if (!isValidName(name)) return fail(errorInvalidName);
    const String key = serviceKey(name);
    Fields fields;
    if (!readTrustedFile(m_impl->dirFd, key + ".service", fields)) return false;
    const int fd = dup(m_impl->dirFd);
    if (fd < 0) return failErrno();
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    String recorded = fields.get("name");
    service.m_impl = new ServiceImpl{fd, access, m_impl->directory, key, recorded.isEmpty() ? name : recorded};
    return succeed();
}

// ---- Service

void Service::close() noexcept {
    if (!m_impl) return;
    ::close(m_impl->dirFd);
    delete m_impl;
    m_impl = nullptr;
}

bool Service::queryStatus(ServiceStatusProcess& status) {
    if (!m_impl) return fail(errorInvalidHandle);
    if ((m_impl->access & serviceQueryStatus) == 0) return fail(errorAccessDenied);
    LockedRecord locked;
    if (!locked.open(m_impl->dirFd, m_impl->key, false)) return false;
    status = locked.record.view();
    return succeed();
}

namespace {

// Builds what the child needs before forking: after fork only
// async-signal-safe calls are allowed.
struct SpawnPlan {
    Array<String> arguments;
    Array<String> environment;
    char* argv[256] = {};
    Array<char*> envPointers;
    char** envp = nullptr;
    int descriptorLimit = 1024;

    bool prepare(const String& binaryPath, const String& serviceName, const String& directory) {
        arguments = splitCommandLine(binaryPath.trim());
        if (arguments.isEmpty() || arguments[0].isEmpty() || arguments.count() >= 255) return false;
        for (uint32_t i = 0; i < arguments.count(); ++i) argv[i] = const_cast<char*>(arguments.item(i).cStr());
        for (char** e = environ; e && *e; ++e) {
            if (std::strncmp(*e, "TRIVANE_SCM_SERVICE=", 20) == 0 || std::strncmp(*e, "TRIVANE_SCM_DIR=", 16) == 0) continue;
            environment.append(String(*e));
        }
        environment.append("TRIVANE_SCM_SERVICE=" + serviceName);
        environment.append("TRIVANE_SCM_DIR=" + directory);
        return true;
    }

    void finish() {
        for (uint32_t i = 0; i < environment.count(); ++i) envPointers.append(const_cast<char*>(environment.item(i).cStr()));
        envPointers.append(nullptr);
        envp = &envPointers.item(0);
        const long limit = sysconf(_SC_OPEN_MAX);
        descriptorLimit = limit > 0 && limit < 65536 ? static_cast<int>(limit) : 65536;
    }
};

struct SpawnResult {
    pid_t pid;
    uint64_t startTime;
};

// Runs in the grandchild: a new session, default signals, standard streams
// on /dev/null, no inherited descriptor, then the binary.
[[noreturn]] void execService(const SpawnPlan& plan, int errorPipe) {
    setsid();
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2) close(null);
    }
    // Everything else closes at exec (the error pipe is close-on-exec already).
    if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
        for (int fd = 3; fd < plan.descriptorLimit; ++fd)
            if (fd != errorPipe) close(fd);
    }
    if (chdir("/") != 0) {
    }
    execve(plan.argv[0], plan.argv, plan.envp);
    const int err = errno;
    if (write(errorPipe, &err, sizeof err) < 0) {
    }
    _exit(127);
}

// Starts the service process as a grandchild, so that it is nobody's child
// here and never lingers as this process's zombie. Returns the exec errno
// (0 on success) or -1 when the fork failed.
int spawnService(const SpawnPlan& plan, SpawnResult& result) {
    int pidPipe[2], errorPipe[2];
    if (pipe2(pidPipe, O_CLOEXEC) != 0) return -1;
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        close(pidPipe[0]);
        close(pidPipe[1]);
        return -1;
    }
    const pid_t middle = fork();
    if (middle == 0) {
        const pid_t child = fork();
        if (child == 0) execService(plan, errorPipe[1]);
        // The child cannot be reaped before this process exits, so its start
        // time is read while its pid is still its own.
        SpawnResult found{child, child > 0 ? processStartTime(child) : 0};
        if (write(pidPipe[1], &found, sizeof found) < 0) {
        }
        _exit(0);
    }
    close(pidPipe[1]);
    close(errorPipe[1]);
    int err = -1;
    if (middle > 0) {
        SpawnResult found{0, 0};
        const ssize_t n = read(pidPipe[0], &found, sizeof found);
        while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
        }
        if (n == static_cast<ssize_t>(sizeof found) && found.pid > 0) {
            int execErrno = 0;
            ssize_t got;
            while ((got = read(errorPipe[0], &execErrno, sizeof execErrno)) < 0 && errno == EINTR) {
            }
            err = got == static_cast<ssize_t>(sizeof execErrno) ? execErrno : 0;
            result = found;
        }
    }
    close(pidPipe[0]);
    close(errorPipe[0]);
    return err;
}

}  // namespace

bool Service::start() {
    if (!m_impl) return fail(errorInvalidHandle);
    if ((m_impl->access & serviceStart) == 0) return fail(errorAccessDenied);
    Fields fields;
    if (!readTrustedFile(m_impl->dirFd, m_impl->key + ".service", fields)) {
        return lastError() == errorServiceDoesNotExist ? fail(s_errorServiceMarkedForDelete) : false;
    }
    const String start = fields.get("start");
    if (!start.isEmpty() && static_cast<uint32_t>(start.toInt()) == startDisabled) return fail(errorServiceDisabled);

    LockedRecord locked;
    if (!locked.open(m_impl->dirFd, m_impl->key, true)) return false;
    if (locked.record.isAlive()) return fail(errorServiceAlreadyRunning);

    SpawnPlan plan;
    if (!plan.prepare(fields.get("binary"), m_impl->name, m_impl->directory)) return fail(2);
    plan.finish();
    SpawnResult spawned{0, 0};
    const int err = spawnService(plan, spawned);
    if (err < 0) return fail(8);
    if (err > 0) return fail(errorOf(err));

    locked.record = RunRecord();
    locked.record.pid = spawned.pid;
    locked.record.startTime = spawned.startTime;
    if (!locked.save()) return false;
    return succeed();
}

bool Service::control(uint32_t control, ServiceStatus& status) {
    if (!m_impl) return fail(errorInvalidHandle);
    const uint32_t needed = control == controlStop ? serviceStop : control == controlInterrogate ? serviceInterrogate : 0;
    if (needed != 0 && (m_impl->access & needed) == 0) return fail(errorAccessDenied);
    LockedRecord locked;
    if (!locked.open(m_impl->dirFd, m_impl->key, false)) return false;
    RunRecord& record = locked.record;
    if (!record.isAlive()) return fail(errorServiceNotActive);

    if (control == controlInterrogate) {
        status = record.view();
        return succeed();
    }
    if (control != controlStop) return fail(errorInvalidServiceControl);
    if (record.stopSent || (record.reported && record.status.currentState == stateStopped))
        return fail(s_errorServiceCannotAcceptControl);
    if (record.reported && (record.status.controlsAccepted & acceptStop) == 0) return fail(errorInvalidServiceControl);

    // The pidfd pins the process; the start time read after opening it
    // proves the pid was not recycled in between.
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, record.pid, 0));
    if (pidFd < 0) return errno == ESRCH ? fail(errorServiceNotActive) : failErrno();
    bool sent = false;
    int sendErrno = ESRCH;
    if (processStartTime(record.pid) == record.startTime) {
        sent = syscall(SYS_pidfd_send_signal, pidFd, SIGTERM, nullptr, 0) == 0;
        sendErrno = errno;
    }
    ::close(pidFd);
    if (!sent) return sendErrno == ESRCH ? fail(errorServiceNotActive) : fail(errorOf(sendErrno));

    record.stopSent = true;
    if (!locked.save()) return false;
    status = record.view();
    return succeed();
}

bool Service::remove() {
    if (!m_impl) return fail(errorInvalidHandle);
    if ((m_impl->access & serviceDelete) == 0) return fail(errorAccessDenied);
    String fileName = m_impl->key + ".service";
    if (unlinkat(m_impl->dirFd, fileName.cStr(), 0) != 0)
        return errno == ENOENT ? fail(s_errorServiceMarkedForDelete) : failErrno();
    LockedRecord locked;
    if (locked.open(m_impl->dirFd, m_impl->key, false) && !locked.record.isAlive()) {
        String runName = m_impl->key + ".run";
        unlinkat(m_impl->dirFd, runName.cStr(), 0);
    }
    return succeed();
}

// ---- The service process's side

namespace {

struct Dispatcher {
    Mutex lock;
    bool started = false;
    String serviceName;
    String key;
    int dirFd = -1;
    std::atomic<ControlHandler> handler{nullptr};
    std::atomic<void*> context{nullptr};
    std::atomic<bool> stopReported{false};
    std::atomic<bool> mainReturned{false};
    bool stopPending = false;  // a stop that came before the handler; dispatcher thread only
    int wakeFd = -1;
    ServiceMainFunction serviceMain = nullptr;
    char* argv[2] = {};
};

Dispatcher& dispatcher() {
    // Never destroyed: the service thread may outlive main().
    static Dispatcher* instance = new Dispatcher();
    return *instance;
}

void wake(Dispatcher& d) {
    const uint64_t one = 1;
    if (write(d.wakeFd, &one, sizeof one) < 0) {
    }
}

void* serviceThread(void*) {
    Dispatcher& d = dispatcher();
    d.serviceMain(1, d.argv);
    d.mainReturned = true;
    wake(d);
    return nullptr;
}

// Whether the run record names this very process: a process the database
// did not start is not a service, whatever its environment says.
bool startedByDatabase(int dirFd, const String& key) {
    LockedRecord locked;
    if (!locked.open(dirFd, key, false)) return false;
    return locked.record.pid == getpid() && locked.record.startTime == processStartTime(getpid());
}

}  // namespace

bool startServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
    Dispatcher& d = dispatcher();
    {
        Locker<Mutex> hold(d.lock);
        if (d.started) return fail(errorServiceAlreadyRunning);
        const char* name = std::getenv("TRIVANE_SCM_SERVICE");
        if (!serviceName || !serviceMain || !name || !*name) return fail(errorFailedServiceControllerConnect);
        String directory = databaseDirectory();
        const int fd = ::open(directory.cStr(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0 || !isTrusted(st, true) || !startedByDatabase(fd, serviceKey(String(name)))) {
            if (fd >= 0) ::close(fd);
            return fail(errorFailedServiceControllerConnect);
        }
        d.started = true;
        d.dirFd = fd;
        d.serviceName = String(name);
        d.key = serviceKey(d.serviceName);
        d.serviceMain = serviceMain;
        d.argv[0] = const_cast<char*>(d.serviceName.cStr());
    }

    sigset_t stopSignal;
    sigemptyset(&stopSignal);
    sigaddset(&stopSignal, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignal, nullptr);
    const int signalFd = signalfd(-1, &stopSignal, SFD_CLOEXEC);
    d.wakeFd = eventfd(0, EFD_CLOEXEC);
    pthread_t thread;
    if (signalFd < 0 || d.wakeFd < 0 || pthread_create(&thread, nullptr, serviceThread, nullptr) != 0) {
        const int err = errno;
        if (signalFd >= 0) ::close(signalFd);
        return fail(errorOf(err));
    }
    pthread_setname_np(thread, "servicemain");

    while (!d.stopReported) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {d.wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) d.stopPending = true;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            if (read(d.wakeFd, &count, sizeof count) < 0) {
            }
        }
        // A stop that arrives before the service main registered its handler
        // waits for it; with no handler to come, the stop ends the dispatch.
        if (d.stopPending) {
            if (ControlHandler handler = d.handler.load()) {
                d.stopPending = false;
                handler(controlStop, 0, nullptr, d.context.load());
            } else if (d.mainReturned) {
                break;
            }
        }
    }
    ::close(signalFd);
    // A service main that has finished is joined; one still busy is left
    // to end with the process, as the service controller would.
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 1;
    if (pthread_timedjoin_np(thread, nullptr, &deadline) != 0) pthread_detach(thread);
    return succeed();
}

StatusHandle registerControlHandler(const char* serviceName, ControlHandler handler, void* context) {
    Dispatcher& d = dispatcher();
    Locker<Mutex> hold(d.lock);
    if (!d.started) {
        fail(errorFailedServiceControllerConnect);
        return 0;
    }
    if (!serviceName || !equalsIgnoreCase(String(serviceName), d.serviceName)) {
        fail(errorServiceNotInExe);
        return 0;
    }
    d.context = context;
    d.handler = handler;
    wake(d);
    succeed();
    return 1;
}

bool setServiceStatus(StatusHandle handle, const ServiceStatus& status) {
    Dispatcher& d = dispatcher();
    Locker<Mutex> hold(d.lock);
    if (handle != 1 || !d.started) return fail(errorInvalidHandle);
    if (status.currentState < stateStopped || status.currentState > statePaused) return fail(errorInvalidData);
    LockedRecord locked;
    if (!locked.open(d.dirFd, d.key, false)) return false;
    if (locked.record.pid != getpid()) return fail(errorInvalidHandle);
    locked.record.reported = true;
    locked.record.status = status;
    if (!locked.save()) return false;
    if (status.currentState == stateStopped) {
        d.stopReported = true;
        wake(d);
    }
    return succeed();
}

}  // namespace trivane::scm
