// Directories and files that the process alone can write, below a place
// every local user can write to (the temporary directory).
#pragma once

#include "base/string.h"

#include <cstdint>

namespace trivane {

// The separator of paths handed to the system: '/' on POSIX, '\' on Windows.
char nativePathSeparator() noexcept;

// An open directory, checked on the way down. Everything done in it is done
// relative to the open directory, so replacing a directory on its path by a
// link after the check redirects nothing. One thread at a time.
class SecureDirectory {
public:
    SecureDirectory() = default;
    ~SecureDirectory() { close(); }
    SecureDirectory(const SecureDirectory&) = delete;
    SecureDirectory& operator=(const SecureDirectory&) = delete;

    // Opens `base` (trusted as given), then each component of `relative`
    // ('/' or '\' between them) below it, creating the missing ones private
    // to this process's user. Each component, found or made, must be a real
    // directory (not a link), owned by this process's user and not writable
    // by group or others. Returns 0; 5 for a component that fails the check;
    // 123 for an empty, "." or ".." component; or the error of the failing
    // call. Nothing is deleted or written before every check has passed.
    uint32_t open(const String& base, const String& relative);
    bool isOpen() const noexcept { return m_handle >= 0; }
    // `base` and the components joined by the native separator, ending with one.
    const String& path() const noexcept { return m_path; }
    void close() noexcept;

    // Creates or truncates the regular file `name` (no separator) in the
    // directory, readable and writable by this process's user only, without
    // following a link, and writes every byte of `content`. Returns 0, or the
    // error of the call that failed (an incomplete write is a failure).
    // `opened`, when given, tells whether the file was opened: a failure
    // after that has left it truncated.
    uint32_t writeFile(const String& name, const String& content, bool* opened = nullptr);
    // Removes the entry `name` (not a directory). Returns 0 or the error.
    uint32_t removeFile(const String& name);

private:
    intptr_t m_handle = -1;
    String m_path;
};

// Creates or truncates the file at `path` as SecureDirectory::writeFile does
// (0600, no link followed in the last component, every byte written).
uint32_t writePrivateFile(const String& path, const String& content, bool* opened = nullptr);

}  // namespace trivane
