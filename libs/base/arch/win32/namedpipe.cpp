// Named pipes on Windows: message-mode instances waiting with overlapped
// ConnectNamedPipe, overlapped reads and writes whose waits honour the
// stream's time-outs, and the client's identity through impersonation.
#include "base/arch/namedpipe.h"

#include "base/arch/win32/pipesecurity.h"

#include <windows.h>

#include <vector>

namespace trivane::sys {

namespace {

constexpr DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
// Remote clients are refused: the daemon serves the desktop it runs on only.
constexpr DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
constexpr DWORD bufferSize = 10240;

// One end of a connection. `stop` is set by pipeShutdown; every wait of the
// owner includes it, so a shutdown is never missed between two calls.
struct Pipe {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;
};

Pipe* pipeOf(PipeHandle pipe) { return reinterpret_cast<Pipe*>(pipe); }

bool failed(PipeError& error, uint32_t line, DWORD code) {
    error.code = code != 0 ? code : ERROR_GEN_FAILURE;
    error.line = line;
    return false;
}

HANDLE newEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

// A handle of our own around a connected pipe handle; the pipe handle is
// closed when that fails.
PipeHandle adopt(HANDLE handle, PipeError& error) {
    HANDLE stop = newEvent();
    if (!stop) {
        failed(error, 19, GetLastError());
        CloseHandle(handle);
        return invalidPipe;
    }
    auto* pipe = new Pipe;
    pipe->handle = handle;
    pipe->stop = stop;
    error = PipeError();
    return reinterpret_cast<PipeHandle>(pipe);
}

bool isStopped(const Pipe* pipe) { return WaitForSingleObject(pipe->stop, 0) == WAIT_OBJECT_0; }

DWORD waitTime(uint32_t timeoutMs) { return timeoutMs == 0 ? INFINITE : timeoutMs; }

// How an overlapped read or write ended. In every case the operation is
// over afterwards (cancelled when it had not ended), so its record may go.
enum class Ended { done, timedOut, stopped, waitFailed, failed };

struct Outcome {
    Ended ended = Ended::done;
    DWORD count = 0;
    DWORD code = 0;
};

Outcome finish(Pipe* pipe, OVERLAPPED& overlapped, uint32_t timeoutMs) {
    Outcome out;
    HANDLE events[2] = {overlapped.hEvent, pipe->stop};
    const DWORD waited = WaitForMultipleObjects(2, events, FALSE, waitTime(timeoutMs));
    if (waited == WAIT_TIMEOUT) out.ended = Ended::timedOut;
    else if (waited == WAIT_OBJECT_0 + 1) out.ended = Ended::stopped;
    else if (waited != WAIT_OBJECT_0) {
        out.ended = Ended::waitFailed;
        out.code = GetLastError();
    }
    if (out.ended != Ended::done) CancelIo(pipe->handle);
    // Waits for a cancelled call to end; what it moved before still counts.
    if (!GetOverlappedResult(pipe->handle, &overlapped, &out.count, TRUE)) {
        const DWORD result = GetLastError();
        if (result == ERROR_OPERATION_ABORTED || result == ERROR_IO_INCOMPLETE) {
            out.count = 0;
        } else if (result != ERROR_MORE_DATA && out.ended != Ended::waitFailed) {
            // ERROR_MORE_DATA: the rest of the message waits for the next read.
            out.ended = Ended::failed;
            out.code = result;
        }
    }
    return out;
}

}  // namespace

// ---- client ends

PipeHandle pipeConnect(const String& name, PipeError& error) {
    if (name.find('\0') != String::npos) {
        failed(error, 330, errorInvalidName);
        return invalidPipe;
    }
    String path = "\\\\.\\pipe\\"_s + name;
    // Identification only: the server may learn who we are, not act as us.
    HANDLE handle = CreateFileA(path.cStr(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failed(error, 330, GetLastError());
        return invalidPipe;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
    return adopt(handle, error);
}

int32_t pipeRead(PipeHandle handle, void* buffer, uint32_t count, uint32_t timeoutMs, PipeError& error, bool wait) {
    Pipe* pipe = pipeOf(handle);
    if (isStopped(pipe)) return failed(error, 200, errorBrokenPipe), -1;
    if (!wait) {
        // Only what has arrived: a read of a message that is not there would wait.
        DWORD available = 0;
        if (!PeekNamedPipe(pipe->handle, nullptr, 0, nullptr, &available, nullptr))
            return failed(error, 184, GetLastError()), -1;
        if (available == 0) return 0;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = newEvent();
    if (!overlapped.hEvent) return failed(error, 19, GetLastError()), -1;
    if (!ReadFile(pipe->handle, buffer, count, nullptr, &overlapped)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING && code != ERROR_MORE_DATA) {
            CloseHandle(overlapped.hEvent);
            return failed(error, 184, code), -1;
        }
    }
    const Outcome out = finish(pipe, overlapped, timeoutMs);
    CloseHandle(overlapped.hEvent);
    if (out.ended == Ended::waitFailed) return failed(error, 189, out.code), -1;
    if (out.ended == Ended::failed) return failed(error, 200, out.code), -1;
    // Bytes that arrived with the shutdown are delivered; the next read fails.
    if (out.ended == Ended::stopped && out.count == 0) return failed(error, 200, errorBrokenPipe), -1;
    return static_cast<int32_t>(out.count);
}

int32_t pipeWrite(PipeHandle handle, const void* buffer, uint32_t count, uint32_t timeoutMs, PipeError& error) {
    Pipe* pipe = pipeOf(handle);
    if (isStopped(pipe)) return failed(error, 121, errorNoData), -1;
    OVERLAPPED overlapped{};
    overlapped.hEvent = newEvent();
    if (!overlapped.hEvent) return failed(error, 19, GetLastError()), -1;
    if (!WriteFile(pipe->handle, buffer, count, nullptr, &overlapped)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) {
            CloseHandle(overlapped.hEvent);
            return failed(error, 121, code), -1;
        }
    }
    const Outcome out = finish(pipe, overlapped, timeoutMs);
    CloseHandle(overlapped.hEvent);
    if (out.ended == Ended::waitFailed) return failed(error, 136, out.code), -1;
    if (out.ended == Ended::failed) return failed(error, 142, out.code), -1;
    if (out.ended == Ended::stopped && out.count == 0) return failed(error, 142, errorNoData), -1;
    return static_cast<int32_t>(out.count);
}

void pipeShutdown(PipeHandle handle) { SetEvent(pipeOf(handle)->stop); }

void pipeClose(PipeHandle handle) {
    Pipe* pipe = pipeOf(handle);
    CloseHandle(pipe->handle);
    CloseHandle(pipe->stop);
    delete pipe;
}

// ---- the listening end

struct PipeListener {
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        OVERLAPPED overlapped{};
    };
    String path;
    SECURITY_ATTRIBUTES attributes{};
    bool secured = false;
    std::vector<Instance> instances;
    // The slot the next wait looks at first.
    size_t next = 0;
};

namespace {

// Ends the instance's connection wait and closes it.
void closeInstance(PipeListener::Instance& instance) {
    if (instance.pipe != INVALID_HANDLE_VALUE) {
        CancelIoEx(instance.pipe, &instance.overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(instance.pipe, &instance.overlapped, &ignored, TRUE);
        CloseHandle(instance.pipe);
        instance.pipe = INVALID_HANDLE_VALUE;
    }
    if (instance.overlapped.hEvent) CloseHandle(instance.overlapped.hEvent);
    instance.overlapped = OVERLAPPED{};
}

// Creates the instance and starts its wait for a client; `first` claims the
// name, failing when any other server has it.
bool armInstance(PipeListener& listener, PipeListener::Instance& instance, bool first, uint32_t createLine,
                 uint32_t connectLine, PipeError& error) {
    const DWORD flags = openMode | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    instance.pipe = CreateNamedPipeA(listener.path.cStr(), flags, pipeMode, PIPE_UNLIMITED_INSTANCES, bufferSize,
                                     bufferSize, 0, listener.secured ? &listener.attributes : nullptr);
    if (instance.pipe == INVALID_HANDLE_VALUE) return failed(error, createLine, GetLastError());
    instance.overlapped = OVERLAPPED{};
    instance.overlapped.hEvent = newEvent();
    if (!instance.overlapped.hEvent) {
        failed(error, 19, GetLastError());
        closeInstance(instance);
        return false;
    }
    if (!ConnectNamedPipe(instance.pipe, &instance.overlapped)) {
        const DWORD code = GetLastError();
        // A client that came between creation and this call is already there.
        if (code == ERROR_PIPE_CONNECTED) SetEvent(instance.overlapped.hEvent);
        else if (code != ERROR_IO_PENDING) {
            failed(error, connectLine, code);
            closeInstance(instance);
            return false;
        }
    }
    return true;
}

}  // namespace

PipeListener* pipeListen(const String& name, int instances, const SecurityDescriptor* descriptor, PipeError& error) {
    if (name.find('\0') != String::npos) return failed(error, 392, errorInvalidName), nullptr;
    auto* listener = new PipeListener;
    listener->path = "\\\\.\\pipe\\"_s + name;
    if (descriptor) {
        listener->attributes.nLength = sizeof listener->attributes;
        listener->attributes.lpSecurityDescriptor = nativeDescriptor(descriptor);
        listener->attributes.bInheritHandle = FALSE;
        listener->secured = true;
    }
    listener->instances.resize(instances < 1 ? 1 : static_cast<size_t>(instances));
    for (size_t i = 0; i < listener->instances.size(); ++i) {
        if (!armInstance(*listener, listener->instances[i], i == 0, 392, 412, error)) {
            pipeUnlisten(listener);
            return nullptr;
        }
    }
    error = PipeError();
    return listener;
}

void pipeUnlisten(PipeListener* listener) {
    if (!listener) return;
    for (PipeListener::Instance& instance : listener->instances) closeInstance(instance);
    delete listener;
}

PipeHandle pipeListenerHandle(const PipeListener& listener) {
    for (const PipeListener::Instance& instance : listener.instances)
        if (instance.pipe != INVALID_HANDLE_VALUE) return reinterpret_cast<PipeHandle>(instance.pipe);
    return invalidPipe;
}

PipeHandle pipeAccept(PipeListener& listener, uint32_t timeoutMs, PipeError& error) {
    // A wait reports the first of the signalled events it is given, so the
    // order turns after every accept: under a steady stream of clients a
    // client on a later instance would otherwise wait for ever.
    // A slot whose replacement could not be made is tried again here, so a
    // passing shortage of resources does not lose an instance for good.
    std::vector<HANDLE> events;
    std::vector<size_t> slots;
    const size_t count = listener.instances.size();
    for (size_t k = 0; k < count; ++k) {
        const size_t i = (listener.next + k) % count;
        PipeListener::Instance& instance = listener.instances[i];
        if (instance.pipe == INVALID_HANDLE_VALUE && !armInstance(listener, instance, false, 440, 457, error))
            continue;
        events.push_back(instance.overlapped.hEvent);
        slots.push_back(i);
    }
    if (events.empty()) return invalidPipe;  // `error` holds the last failure
    const DWORD waited =
        WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, waitTime(timeoutMs));
    if (waited == WAIT_TIMEOUT) {
        error = PipeError();
        return invalidPipe;
    }
    if (waited >= WAIT_OBJECT_0 + events.size()) return failed(error, 430, GetLastError()), invalidPipe;
    const size_t slot = slots[waited - WAIT_OBJECT_0];
    listener.next = (slot + 1) % count;
    PipeListener::Instance& instance = listener.instances[slot];
    HANDLE connected = instance.pipe;
    CloseHandle(instance.overlapped.hEvent);
    instance.pipe = INVALID_HANDLE_VALUE;
    instance.overlapped = OVERLAPPED{};
    // The client is handed over even when its replacement cannot be made
    // now: the next accept makes it.
    PipeError replacement;
    armInstance(listener, instance, false, 440, 457, replacement);
    return adopt(connected, error);
}

// ---- the client's identity

namespace {

// The client's token, taken by impersonating it; null on failure.
HANDLE clientToken(Pipe* pipe, PipeError& error) {
    if (!ImpersonateNamedPipeClient(pipe->handle)) return failed(error, 232, GetLastError()), nullptr;
    HANDLE token = nullptr;
    const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    const DWORD code = GetLastError();
    RevertToSelf();
    if (!opened) return failed(error, 240, code), nullptr;
    return token;
}

// The size of a token's information, false when the probe failed otherwise
// than by asking for a buffer.
bool probeSize(HANDLE token, TOKEN_INFORMATION_CLASS kind, DWORD& size, bool& none) {
    size = 0;
    none = GetTokenInformation(token, kind, nullptr, 0, &size) != 0;
    if (none) return true;
    const DWORD code = GetLastError();
    return code == ERROR_INSUFFICIENT_BUFFER || code == ERROR_BAD_LENGTH;
}

}  // namespace

bool pipeClientUserName(PipeHandle handle, String& user, PipeError& error) {
    HANDLE token = clientToken(pipeOf(handle), error);
    if (!token) return false;
    DWORD size = 0;
    bool none = false;
    if (!probeSize(token, TokenUser, size, none)) {
        const DWORD code = GetLastError();
        CloseHandle(token);
        return failed(error, 277, code);
    }
    if (none) {
        CloseHandle(token);
        user = String();
        return true;
    }
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const DWORD code = GetLastError();
        CloseHandle(token);
        return failed(error, 262, code);
    }
    CloseHandle(token);
    char name[256];
    char domain[256];
    DWORD nameLength = sizeof name;
    DWORD domainLength = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, name, &nameLength, domain,
                           &domainLength, &use))
        return failed(error, 272, GetLastError());
    user = String(name).clone() + "@" + String(domain);
    return true;
}

bool pipeClientElevation(PipeHandle handle, int& type, PipeError& error) {
    HANDLE token = clientToken(pipeOf(handle), error);
    if (!token) return false;
    DWORD size = 0;
    bool none = false;
    if (!probeSize(token, TokenElevationType, size, none)) {
        const DWORD code = GetLastError();
        CloseHandle(token);
        return failed(error, 305, code);
    }
    type = 1;
    if (!none) {
        std::vector<unsigned char> buffer(size < sizeof(TOKEN_ELEVATION_TYPE) ? sizeof(TOKEN_ELEVATION_TYPE) : size);
        if (!GetTokenInformation(token, TokenElevationType, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
            const DWORD code = GetLastError();
            CloseHandle(token);
            return failed(error, 299, code);
        }
        type = static_cast<int>(*reinterpret_cast<TOKEN_ELEVATION_TYPE*>(buffer.data()));
    }
    CloseHandle(token);
    return true;
}

}  // namespace trivane::sys
