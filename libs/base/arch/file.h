// The platform's files and directories. Paths are in the system's own form
// (see nativePath); failures give Windows error numbers.
#pragma once

#include "base/string.h"

#include <cstdint>
#include <cstdio>

namespace trivane::sys {

using FileHandle = intptr_t;
constexpr FileHandle invalidFile = -1;

// The path with the separators the system expects.
String nativePath(const String& path);

enum class Disposition { OpenExisting, OpenAlways, CreateAlways };

// Never follows a symbolic link in the last component; files created are
// private to their owner.
FileHandle fileOpen(const String& path, bool read, bool write, Disposition disposition, uint32_t& error) noexcept;
void fileClose(FileHandle file) noexcept;
// Writes everything or fails; false with the error number on failure.
bool fileWrite(FileHandle file, const void* bytes, uint32_t count, uint32_t& error) noexcept;
// Bytes read, fewer than asked at the end of the file or on an error.
uint32_t fileRead(FileHandle file, void* buffer, uint32_t count) noexcept;
int64_t filePosition(FileHandle file) noexcept;
int64_t fileSize(FileHandle file) noexcept;
bool fileSeek(FileHandle file, int64_t offset) noexcept;

// A log file, created or truncated, private to its owner, not reached
// through a symbolic link; every write goes to its end. Null on failure.
std::FILE* openLogStream(const String& path) noexcept;

// A directory private to its owner.
bool makeDirectory(const String& path) noexcept;
bool isDirectory(const String& path) noexcept;
bool removeFile(const String& path) noexcept;

}  // namespace trivane::sys
