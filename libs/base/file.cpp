// Files and well-known directories over the platform layer.
#include "base/file.h"

#include "base/commandline.h"

#include "base/arch/file.h"
#include "base/arch/host.h"
#include "base/console.h"
#include "base/exception.h"

namespace trivane {

File::~File() { close(); }

bool File::open(const String& path, int flags) {
    close();
    if ((flags & (Read | Write | Keep)) == Write) flags |= Create;
    const bool read = flags & Read, write = flags & Write;
    sys::Disposition disposition = sys::Disposition::OpenExisting;
    if (flags & Create) disposition = sys::Disposition::CreateAlways;
    else if (write) disposition = sys::Disposition::OpenAlways;
    const String name = sys::nativePath(path);
    uint32_t error = 0;
    const sys::FileHandle handle = sys::fileOpen(name, read, write, disposition, error);
    if (handle == sys::invalidFile) return false;
    m_handle = handle;
    m_mode = write ? Writing : Reading;
    m_name = name;
    return true;
}

void File::close() {
    if (m_mode == Closed) return;
    sys::fileClose(m_handle);
    m_handle = sys::invalidFile;
    m_mode = Closed;
}

void File::write(const void* bytes, uint32_t count) {
    if (m_mode != Writing || count == 0) return;
    uint32_t error = 0;
    if (!sys::fileWrite(m_handle, bytes, count, error)) {
        log(LogTrace, "File", "write", "can not write file, error: "_s + String::fromUInt(error));
        TRIVANE_THROW(EFile);
    }
}

void File::read(void* buffer, uint32_t count) {
    if (m_mode != Reading || count == 0) return;
    if (sys::fileRead(m_handle, buffer, count) != count) TRIVANE_THROW(EFile);
}

uint32_t File::readCount() {
    const uint32_t count = readUInt32();
    if (count > maximumCount) TRIVANE_THROW(EFile);
    return count;
}

Memory File::readMemory(uint32_t count) {
    Memory m;
    char* bytes = m.reserve(count + 1);
    read(bytes, count);
    bytes[count] = 0;
    m.setLength(count);
    return m;
}

int64_t File::position() const { return m_mode == Closed ? -1 : sys::filePosition(m_handle); }

int64_t File::remaining() const {
    if (m_mode == Closed) return 0;
    const int64_t left = sys::fileSize(m_handle) - sys::filePosition(m_handle);
    return left > 0 ? left : 0;
}

void File::seek(int64_t offset) {
    if (m_mode != Closed && !sys::fileSeek(m_handle, offset)) TRIVANE_THROW(EFile);
}

void File::createDirectories(const String& path) {
    StringTokenizer tokens("/\\"_s, sys::nativePath(path));
    String prefix;
    bool any = false, created = false;
    while (tokens.hasMore()) {
        prefix.append(tokens.next());
        created = sys::makeDirectory(prefix);
        any = true;
        prefix.append('/');
    }
    if (any && !created) TRIVANE_THROW(EFile);
}

bool File::isDirectory(const String& path) { return sys::isDirectory(sys::nativePath(path)); }

void File::remove(const String& path) {
    if (!sys::removeFile(sys::nativePath(path))) TRIVANE_THROW(EFile);
}

// The directory results are copies: a later query never changes a string a
// caller already holds.
String File::getCurrentDirectory() {
    String path;
    sys::currentDirectory(path);
    return path;
}

String File::getUserProfileDirectory() {
    String path;
    if (sys::profileDirectory(path)) return path;
    log(LogTrace, "File", "getUserProfileDirectory", "can not retrieve user profile folder");
    return getCurrentDirectory();
}

String File::getUserApplicationDataDirectory() {
    String path;
    if (sys::applicationDataDirectory(path)) return path;
    log(LogTrace, "File", "getUserApplicationDataDirectory", "can not retrieve user application data folder");
    return getCurrentDirectory();
}

String File::getCommandLinePath() { return commandLinePath(processCommandLine()); }

String File::commandLinePath(const String& commandLine) {
    String path = commandLine;
    if (!path.isEmpty() && path.charAt(0) == '"') {
        const uint32_t close = path.find('"', 1);
        path = close == String::npos ? path.mid(1) : path.mid(1, close - 1);
    }
    return path.trim();
}

namespace {

String directoryPart(const String& path, bool skipLast) {
    const String copy = path.replace('\\', '/').remove('"');
    uint32_t slash = String::npos;
    if (!skipLast) slash = copy.rfind('/');
    else if (copy.length() >= 2) slash = copy.rfind('/', copy.length() - 2);
    return slash == String::npos ? path : copy.mid(0, slash + 1);
}

}  // namespace

String File::getDirectory(const String& path) { return directoryPart(path, false); }

String File::getParentDirectory(const String& directory) { return directoryPart(directory, true); }

}  // namespace trivane
