// Files: bytes and binary-encoded values in and out of one file, and the
// static path operations and well-known directories.
#pragma once

#include "base/serialize.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

// Paths may use '/' or '\'; each is turned into the system's separator.
// Failures throw EFile, except open(), which answers false. One thread at a
// time uses a File.
class File : public IArchive {
public:
    enum Flags : int { Read = 1, Write = 2, Keep = 8, Create = 16 };
    enum Mode : int { Closed = 0, Writing = 1, Reading = 2 };
    // The longest String or byte block read back.
    static constexpr uint32_t maximumCount = 0x100000;

    File() = default;
    ~File() override;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Write alone creates or truncates; Write with Read or Keep opens or
    // creates without truncating; Read alone needs an existing file. A
    // symbolic link is not followed; a new file is private to its owner.
    bool open(const String& path, int flags);
    void close();
    int mode() const noexcept { return m_mode; }
    const String& name() const noexcept { return m_name; }

    // Does nothing unless the file is open for writing.
    void write(const void* bytes, uint32_t count) override;
    // Does nothing unless the file is open for reading; a short read throws.
    void read(void* buffer, uint32_t count) override;
    using IReader::readMemory;
    // `count` bytes followed by a NUL that the length leaves out.
    Memory readMemory(uint32_t count);

    // -1 when closed.
    int64_t position() const;
    // 0 when closed.
    int64_t remaining() const;
    void seek(int64_t offset);

    // Creates each missing directory of the path (private to its owner);
    // throws when the last one cannot be created, also when it exists.
    static void createDirectories(const String& path);
    static bool isDirectory(const String& path);
    static void remove(const String& path);
    static String getCurrentDirectory();
    static String getUserProfileDirectory();
    static String getUserApplicationDataDirectory();
    // The program part of the process command line.
    static String getCommandLinePath();
    static String commandLinePath(const String& commandLine);
    // Up to and including the last '/', with '\' read as '/' and quotes
    // removed; a path without separator comes back unchanged.
    static String getDirectory(const String& path);
    // The same, skipping a separator at the very end.
    static String getParentDirectory(const String& directory);

protected:
    // Counts above maximumCount throw before any byte is read.
    uint32_t readCount() override;

private:
    String m_name;
    int m_mode = Closed;
    intptr_t m_handle = -1;
};

}  // namespace trivane
