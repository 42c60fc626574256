// Security identifiers and the access-control list that protects a named
// pipe: who may connect, and who may create instances of its name.
//
// On Linux the protection is the socket file's mode and the pipe directory's
// ownership: a user is the identifier S-1-22-1-<uid>, everyone S-1-1-0; an
// entry granting everyone read and write lets everyone connect (the socket is
// mode 0666), the one entry granting the right to create pipe instances names
// the user who owns the pipe directory. Other entries cannot be represented
// and are refused.
#pragma once

#include "base/memory.h"

#include <cstdint>

namespace trivane::sys {

// Access rights of pipe entries.
inline constexpr uint32_t fileReadData = 0x0001;
inline constexpr uint32_t fileWriteData = 0x0002;
inline constexpr uint32_t fileCreatePipeInstance = 0x0004;
inline constexpr uint32_t fileGenericRead = 0x00120089;
inline constexpr uint32_t fileGenericWrite = 0x00120116;

// An ACL and a security descriptor. Both live until the process ends: a
// server may create pipe instances with them at any time.
struct Acl;
struct SecurityDescriptor;

// SECURITY_ATTRIBUTES, as handed to a pipe server's listen.
struct SecurityAttributes {
    uint32_t length = 12;
    const SecurityDescriptor* securityDescriptor = nullptr;
    bool inheritHandle = false;
};

// One EXPLICIT_ACCESS entry: SET_ACCESS, no inheritance, trustee as SID.
struct AccessEntry {
    Memory trustee;
    uint32_t accessMask = 0;
};

// Each returns 0 or the Windows error number of the failure.
// A copy of the SID of the process's token user (the effective uid on Linux).
uint32_t processUserSid(Memory& sid);
// The well-known SID of everyone, S-1-1-0.
uint32_t everyoneSid(Memory& sid);
// SetEntriesInAclA with no previous ACL: 87 for an entry it cannot represent.
uint32_t setEntriesInAcl(const AccessEntry* entries, uint32_t count, Acl*& acl);
// A descriptor of revision 1 with `acl` as its DACL, present and not defaulted.
uint32_t createSecurityDescriptor(Acl* acl, SecurityDescriptor*& descriptor);

// Whether the descriptor lets everyone connect; the uid allowed to create
// instances (-1 when none is named). For tests and the pipe layer.
bool everyoneMayConnect(const SecurityDescriptor* descriptor);
int64_t pipeCreator(const SecurityDescriptor* descriptor);

}  // namespace trivane::sys
