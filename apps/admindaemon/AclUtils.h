// The named pipe's protection: everybody may open the pipe for reading and
// writing, only the daemon's own account may create instances of its name.
#pragma once

#include "base/gcobject.h"
#include "base/memory.h"
#include "base/pipesecurity.h"

namespace trivane {

// A shared holder of one security identifier's bytes.
class SecurityId final : public gc::ObjectDelete {
public:
    explicit SecurityId(const Memory& bytes) : m_bytes(bytes) {}
    const char* className() const noexcept override { return "SecurityId"; }
    const Memory& bytes() const noexcept { return m_bytes; }

private:
    Memory m_bytes;
};

// Every operation throws trivane::Exception (file "AclUtils") with the
// system's error code when a system call fails.
class AclUtils {
public:
    static constexpr uint32_t everyoneAccess = 0x0012019B;     // read and write, no new instances
    static constexpr uint32_t processUserAccess = 0x0012019F;  // read, write and new instances

    static gc::Pointer<SecurityId> getProcessUserSid();
    static gc::Pointer<SecurityId> getEveryoneSid();
    // Builds the two-entry DACL (everyone, then the process user) and a
    // descriptor holding it. Neither is ever freed: both stay valid for the
    // life of the process.
    static void buildSecurityDescriptor(gc::Pointer<SecurityId> processUser, gc::Pointer<SecurityId> everyone,
                                        sys::SecurityDescriptor*& descriptor, sys::Acl*& acl);
};

}  // namespace trivane
