// Security identifiers, access lists and security descriptors of Windows,
// for the protection of named pipes.
#include "base/arch/win32/pipesecurity.h"

#include <windows.h>
#include <aclapi.h>

#include <vector>

namespace trivane::sys {

// Built once and never freed: a server may create pipe instances with them
// at any time until the process ends.
struct Acl {
    PACL native = nullptr;
};

struct SecurityDescriptor {
    SECURITY_DESCRIPTOR native;
    const Acl* dacl = nullptr;
};

namespace {

uint32_t copySid(PSID sid, Memory& out) {
    if (!sid || !IsValidSid(sid)) return ERROR_INVALID_SID;
    out = Memory(static_cast<const char*>(sid), GetLengthSid(sid));
    return 0;
}

bool everyoneEntry(const ACCESS_ALLOWED_ACE* ace) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return false;
    const bool same = EqualSid(const_cast<DWORD*>(&ace->SidStart), everyone) != 0;
    FreeSid(everyone);
    return same;
}

}  // namespace

uint32_t processUserSid(Memory& sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return GetLastError();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    uint32_t error = 0;
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        error = GetLastError();
    } else {
        error = copySid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, sid);
    }
    CloseHandle(token);
    return error;
}

uint32_t everyoneSid(Memory& sid) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return GetLastError();
    const uint32_t error = copySid(everyone, sid);
    FreeSid(everyone);
    return error;
}

uint32_t setEntriesInAcl(const AccessEntry* entries, uint32_t count, Acl*& acl) {
    std::vector<EXPLICIT_ACCESS_A> explicitEntries(count);
    std::vector<Memory> sids(count);
    for (uint32_t i = 0; i < count; ++i) {
        sids[i] = entries[i].trustee;
        if (sids[i].length() < 8 || !IsValidSid(sids[i].writableData())) return ERROR_INVALID_PARAMETER;
        EXPLICIT_ACCESS_A& e = explicitEntries[i];
        e.grfAccessPermissions = entries[i].accessMask;
        e.grfAccessMode = SET_ACCESS;
        e.grfInheritance = NO_INHERITANCE;
        e.Trustee.pMultipleTrustee = nullptr;
        e.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
        e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        e.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
        e.Trustee.ptstrName = static_cast<LPSTR>(static_cast<void*>(sids[i].writableData()));
    }
    PACL native = nullptr;
    const DWORD rc = SetEntriesInAclA(count, explicitEntries.data(), nullptr, &native);
    if (rc != ERROR_SUCCESS) return rc;
    acl = new Acl{native};
    return 0;
}

uint32_t createSecurityDescriptor(Acl* acl, SecurityDescriptor*& descriptor) {
    auto* built = new SecurityDescriptor;
    if (!InitializeSecurityDescriptor(&built->native, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&built->native, TRUE, acl ? acl->native : nullptr, FALSE)) {
        const uint32_t error = GetLastError();
        delete built;
        return error;
    }
    built->dacl = acl;
    descriptor = built;
    return 0;
}

bool everyoneMayConnect(const SecurityDescriptor* descriptor) {
    if (!descriptor || !descriptor->dacl || !descriptor->dacl->native) return false;
    const PACL acl = descriptor->dacl->native;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(acl, i, &entry)) return false;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        const DWORD readWrite = FILE_READ_DATA | FILE_WRITE_DATA;
        if ((ace->Mask & readWrite) == readWrite && everyoneEntry(ace)) return true;
    }
    return false;
}

PSECURITY_DESCRIPTOR nativeDescriptor(const SecurityDescriptor* descriptor) noexcept {
    return descriptor ? const_cast<SECURITY_DESCRIPTOR*>(&descriptor->native) : nullptr;
}

// Windows names no uid: the access list itself says who may create
// instances.
int64_t pipeCreator(const SecurityDescriptor*) { return -1; }

}  // namespace trivane::sys
