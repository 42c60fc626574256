// Security identifiers and the pipe's security descriptor.
#include "AclUtils.h"

#include "base/exception.h"

namespace trivane {

namespace {

void check(uint32_t error, uint32_t line) {
    if (error != 0) throw Exception(static_cast<int32_t>(error), "trivane::Exception", String(TRIVANE_MODULE_PATH), line);
}

}  // namespace

gc::Pointer<SecurityId> AclUtils::getProcessUserSid() {
    Memory sid;
    check(sys::processUserSid(sid), __LINE__);
    return gc::Pointer<SecurityId>::adopt(new SecurityId(sid));
}

gc::Pointer<SecurityId> AclUtils::getEveryoneSid() {
    Memory sid;
    check(sys::everyoneSid(sid), __LINE__);
    return gc::Pointer<SecurityId>::adopt(new SecurityId(sid));
}

void AclUtils::buildSecurityDescriptor(gc::Pointer<SecurityId> processUser, gc::Pointer<SecurityId> everyone,
                                       sys::SecurityDescriptor*& descriptor, sys::Acl*& acl) {
    const sys::AccessEntry entries[2] = {
        {everyone ? everyone->bytes() : Memory(), everyoneAccess},
        {processUser ? processUser->bytes() : Memory(), processUserAccess},
    };
    check(sys::setEntriesInAcl(entries, 2, acl), __LINE__);
    check(sys::createSecurityDescriptor(acl, descriptor), __LINE__);
    processUser = nullptr;
    everyone = nullptr;
}

}  // namespace trivane
