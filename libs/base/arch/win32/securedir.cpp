// Checked directories and private files on Windows. Every directory on the
// way is held open without sharing deletion, so none can be renamed or
// replaced (by a junction, say) while the SecureDirectory is open.
#include "base/securedir.h"

#include "base/arch/win32/private.h"

#include <windows.h>
#include <aclapi.h>

#include <vector>

namespace trivane {

namespace {

constexpr uint32_t errorAccessDenied = 5;
constexpr uint32_t errorInvalidName = 123;

bool isValidName(const String& name) {
    return !name.isEmpty() && !(name == "."_s) && !(name == ".."_s) && name.find('/') == String::npos &&
           name.find('\\') == String::npos && name.find('\0') == String::npos && name.find(':') == String::npos;
}

struct Held {
    std::vector<HANDLE> directories;
    ~Held() {
        for (HANDLE h : directories) CloseHandle(h);
    }
};

Held* held(intptr_t handle) { return reinterpret_cast<Held*>(handle); }

// The accounts that may own and change a directory the process trusts: the
// system, the administrators and the process's own user.
bool isTrusted(PSID sid, PSID user) {
    if (!sid || !IsValidSid(sid)) return false;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return true;
    // The owner of the object itself.
    if (IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) return true;
    return user && EqualSid(sid, user);
}

std::vector<unsigned char> processUser() {
    std::vector<unsigned char> buffer;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size ? size : 1);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) buffer.clear();
    CloseHandle(token);
    return buffer;
}

bool isPrivateDirectory(HANDLE directory) { return sys::onlyTrustedMayChange(directory, true); }

HANDLE openDirectory(const String& path) {
    String name = path.clone();
    return CreateFileA(name.cStr(), READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

uint32_t writeAt(const String& path, const String& content, bool* opened) {
    if (opened) *opened = false;
    String name = path.clone();
    HANDLE file = CreateFileA(name.cStr(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC, 0, sys::ownerOnlyAttributes(),
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        const uint32_t error = GetLastError();
        CloseHandle(file);
        return error;
    }
    // A link, a junction or a directory is not a file of ours.
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        return errorAccessDenied;
    }
    if (opened) *opened = true;
    uint32_t error = 0;
    // A file made earlier with other rights gets the private ones.
    if (sys::ownerOnlyAttributes()) {
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        GetSecurityDescriptorDacl(sys::ownerOnlyAttributes()->lpSecurityDescriptor, &present, &dacl, &defaulted);
        error = SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr);
    }
    if (error == 0 && (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file)))
        error = GetLastError();
    const char* next = content.data();
    uint32_t left = content.length();
    while (error == 0 && left > 0) {
        DWORD written = 0;
        if (!WriteFile(file, next, left, &written, nullptr)) error = GetLastError();
        else if (written == 0) error = ERROR_WRITE_FAULT;
        next += written;
        left -= written;
    }
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    return error;
}

}  // namespace

namespace sys {

bool onlyTrustedMayChange(HANDLE object, bool directory) noexcept {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(object, &info)) return false;
    const bool isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory != directory || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::vector<unsigned char> userToken = processUser();
    PSID user = userToken.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(userToken.data())->User.Sid;
    // No access list at all grants everyone everything.
    bool ok = isTrusted(owner, user) && dacl != nullptr;
    const DWORD changes = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                          WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; ok && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            ok = false;
            break;
        }
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        if ((ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0) continue;
        if ((ace->Mask & changes) != 0 && !isTrusted(const_cast<DWORD*>(&ace->SidStart), user)) ok = false;
    }
    LocalFree(descriptor);
    return ok;
}


}  // namespace sys

char nativePathSeparator() noexcept { return '\\'; }

uint32_t SecureDirectory::open(const String& base, const String& relative) {
    close();
    if (base.isEmpty() || base.find('\0') != String::npos) return errorInvalidName;
    auto* directories = new Held;
    HANDLE top = openDirectory(base);
    if (top == INVALID_HANDLE_VALUE) {
        const uint32_t error = GetLastError();
        delete directories;
        return error;
    }
    directories->directories.push_back(top);

    String path = base.replace('/', '\\');
    if (path.charAt(path.length() - 1) != '\\') path = path + "\\";
    StringTokenizer components("/\\"_s, relative);
    while (components.hasMore()) {
        const String name = components.next();
        if (!isValidName(name)) {
            delete directories;
            return errorInvalidName;
        }
        const String child = path + name;
        String childName = child.clone();
        // Another process may make it first: its directory is then checked
        // as any found one.
        if (!CreateDirectoryA(childName.cStr(), sys::ownerOnlyAttributes()) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            const uint32_t error = GetLastError();
            delete directories;
            return error;
        }
        HANDLE h = openDirectory(child);
        if (h == INVALID_HANDLE_VALUE) {
            const uint32_t error = GetLastError();
            delete directories;
            return error == ERROR_DIRECTORY ? errorAccessDenied : error;
        }
        directories->directories.push_back(h);
        if (!isPrivateDirectory(h)) {
            delete directories;
            return errorAccessDenied;
        }
        path = child + "\\";
    }
    m_handle = reinterpret_cast<intptr_t>(directories);
    m_path = path;
    return 0;
}

void SecureDirectory::close() noexcept {
    if (m_handle >= 0) delete held(m_handle);
    m_handle = -1;
    m_path = String();
}

uint32_t SecureDirectory::writeFile(const String& name, const String& content, bool* opened) {
    if (opened) *opened = false;
    if (!isOpen()) return 6;
    if (!isValidName(name)) return errorInvalidName;
    return writeAt(m_path + name, content, opened);
}

uint32_t SecureDirectory::removeFile(const String& name) {
    if (!isOpen()) return 6;
    if (!isValidName(name)) return errorInvalidName;
    String file = String(m_path + name).clone();
    return DeleteFileA(file.cStr()) ? 0 : GetLastError();
}

uint32_t writePrivateFile(const String& path, const String& content, bool* opened) {
    if (opened) *opened = false;
    if (path.isEmpty() || path.find('\0') != String::npos) return errorInvalidName;
    const String native = path.replace('/', '\\');
    const uint32_t slash = native.rfind('\\');
    const String name = slash == String::npos ? native : native.mid(slash + 1);
    if (!isValidName(name)) return errorInvalidName;
    return writeAt(native, content, opened);
}

}  // namespace trivane
