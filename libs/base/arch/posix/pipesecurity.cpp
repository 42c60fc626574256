// Pipe protection on Linux: SIDs for uids, an ACL reduced to what a socket
// mode and a directory owner can express, and the pipe directory checks.
#include "base/arch/posix/pipesecurity.h"

#include "base/arch/posix/syserror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace trivane::sys {

struct Acl {
    bool everyoneMayConnect = false;
    int64_t creator = -1;
    Acl* next = nullptr;
};

struct SecurityDescriptor {
    uint8_t revision = 1;
    const Acl* dacl = nullptr;
    SecurityDescriptor* next = nullptr;
};

namespace {

constexpr uint32_t s_errorInvalidParameter = 87;
constexpr uint32_t s_errorAccessDenied = 5;
constexpr uint32_t s_errorInvalidSid = 1337;

// Every ACL and descriptor ever built stays reachable from here.
Acl* s_acls = nullptr;
SecurityDescriptor* s_descriptors = nullptr;

// Binary SID: revision 1, sub-authority count, 6-byte big-endian authority,
// 32-bit little-endian sub-authorities.
Memory makeSid(uint8_t authority, std::initializer_list<uint32_t> subAuthorities) {
    Memory sid;
    const char header[8] = {1, static_cast<char>(subAuthorities.size()), 0, 0, 0, 0, 0, static_cast<char>(authority)};
    sid.append(header, 8);
    for (const uint32_t value : subAuthorities) {
        const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                               static_cast<char>(value >> 24)};
        sid.append(bytes, 4);
    }
    return sid;
}

enum class Trustee { Invalid, Everyone, User, Other };

Trustee classify(const Memory& sid, uint32_t& uid) {
    const auto* b = reinterpret_cast<const unsigned char*>(sid.data());
    const uint32_t length = sid.length();
    if (length < 8 || b[0] != 1 || length != 8u + 4u * b[1]) return Trustee::Invalid;
    auto sub = [&](int i) {
        const unsigned char* p = b + 8 + 4 * i;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    };
    const bool authorityHigh = b[2] == 0 && b[3] == 0 && b[4] == 0 && b[5] == 0 && b[6] == 0;
    if (authorityHigh && b[7] == 1 && b[1] == 1 && sub(0) == 0) return Trustee::Everyone;
    if (authorityHigh && b[7] == 22 && b[1] == 2 && sub(0) == 1) {
        uid = sub(1);
        return Trustee::User;
    }
    return Trustee::Other;
}

bool isTrustedDirectory(const struct stat& st) {
    return S_ISDIR(st.st_mode) && (st.st_uid == 0 || st.st_uid == geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

uint32_t errorOf(int err) {
    // A link where a real file or directory belongs is refused as access denied.
    return err == ELOOP ? s_errorAccessDenied : static_cast<uint32_t>(sys::windowsError(err));
}

}  // namespace

uint32_t processUserSid(Memory& sid) {
    sid = makeSid(22, {1, static_cast<uint32_t>(geteuid())});
    return 0;
}

uint32_t everyoneSid(Memory& sid) {
    sid = makeSid(1, {0});
    return 0;
}

uint32_t setEntriesInAcl(const AccessEntry* entries, uint32_t count, Acl*& acl) {
    Acl built;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t uid = 0;
        const Trustee trustee = classify(entries[i].trustee, uid);
        const uint32_t mask = entries[i].accessMask;
        const bool connects = (mask & (fileReadData | fileWriteData)) == (fileReadData | fileWriteData);
        const bool creates = (mask & fileCreatePipeInstance) != 0;
        if (trustee == Trustee::Invalid) return s_errorInvalidSid;
        if (trustee == Trustee::Everyone && !creates) {
            built.everyoneMayConnect = built.everyoneMayConnect || connects;
        } else if (trustee == Trustee::User && creates && (built.creator < 0 || built.creator == uid)) {
            built.creator = uid;
        } else {
            // Everyone creating instances, a second creator, or access for one
            // user other than the creator: no socket mode says that.
            return s_errorInvalidParameter;
        }
    }
    acl = new Acl(built);
    acl->next = s_acls;
    s_acls = acl;
    return 0;
}

uint32_t createSecurityDescriptor(Acl* acl, SecurityDescriptor*& descriptor) {
    descriptor = new SecurityDescriptor();
    descriptor->dacl = acl;
    descriptor->next = s_descriptors;
    s_descriptors = descriptor;
    return 0;
}

bool everyoneMayConnect(const SecurityDescriptor* descriptor) {
    return descriptor && descriptor->dacl && descriptor->dacl->everyoneMayConnect;
}

int64_t pipeCreator(const SecurityDescriptor* descriptor) {
    return descriptor && descriptor->dacl ? descriptor->dacl->creator : -1;
}

String pipeDirectory() {
    const char* value = std::getenv("TRIVANE_PIPE_DIR");
    return value && *value ? String(value) : String("/run/trivane/pipe");
}

int openPipeDirectory(const String& path, uint32_t& error) {
    String directory = path;
    if (directory.isEmpty()) {
        error = 3;
        return -1;
    }
    // Missing parents and the directory itself: 0755 whatever the umask, so
    // that everyone can reach the socket.
    for (uint32_t pos = 1; pos <= directory.length();) {
        uint32_t slash = directory.find('/', pos);
        if (slash == String::npos) slash = directory.length();
        String partial = directory.mid(0, slash);
        if (mkdir(partial.cStr(), 0755) == 0) chmod(partial.cStr(), 0755);
        pos = slash + 1;
    }
    const int fd = open(directory.cStr(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOTDIR ? s_errorAccessDenied : errorOf(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !isTrustedDirectory(st)) {
        close(fd);
        error = s_errorAccessDenied;
        return -1;
    }
    error = 0;
    return fd;
}

String pipeSocketPath(int directoryFd, const String& name) {
    return "/proc/self/fd/" + String::fromInt(directoryFd) + "/" + name;
}

uint32_t protectPipeSocket(int directoryFd, const String& name, const SecurityDescriptor* descriptor) {
    String file = name;
    struct stat st;
    if (fstatat(directoryFd, file.cStr(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errorOf(errno);
    if (!S_ISSOCK(st.st_mode)) return s_errorAccessDenied;
    const mode_t mode = everyoneMayConnect(descriptor) ? 0666 : 0600;
    return fchmodat(directoryFd, file.cStr(), mode, 0) == 0 ? 0 : errorOf(errno);
}

}  // namespace trivane::sys
