// Composing and writing log lines, and the host description.
#include "base/console.h"

#include "base/arch/clock.h"
#include "base/arch/file.h"
#include "base/arch/host.h"
#include "base/clock.h"
#include "base/file.h"
#include "base/thread.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <string_view>

namespace trivane {

namespace {

const char* const s_levelNames[Console::levels] = {"TRACE", "DEBUG", "ERROR", "ASSERT", "WARNING"};

bool isStandard(std::FILE* stream) { return stream == stdout || stream == stderr; }

String wrap(const char* text) { return String(text, static_cast<uint32_t>(std::strlen(text))); }

// "dd-mm-yy HH:MM:SS" of a second, kept per thread: lines come in bursts
// within one second, and the local-time conversion is the dearest part.
struct SecondStamp {
    int64_t second = -1;
    char text[26] = {};
};
thread_local SecondStamp t_stamp;

const char* secondStamp(int64_t second) {
    if (t_stamp.second != second) {
        const sys::LocalTime t = sys::localTime(second);
        std::snprintf(t_stamp.text, sizeof t_stamp.text, "%02d-%02d-%02d %02d:%02d:%02d", t.day, t.month,
                      t.year % 100, t.hour, t.minute, t.second);
        t_stamp.second = second;
    }
    return t_stamp.text;
}

}  // namespace

Console::Console() {
    for (int level = 0; level < levels; ++level) {
        m_outputs[level].stream = stdout;
        m_outputs[level].target = "stdout"_s;
        m_outputs[level].levelName = wrap(s_levelNames[level]);
    }
}

Console::~Console() {
    for (Output& output : m_outputs) closeStream(output);
}

void Console::closeStream(Output& output) {
    if (output.stream && !isStandard(output.stream)) std::fclose(output.stream);
    output.stream = nullptr;
}

void Console::setOutput(int level, const String& target) {
    if (level < 0 || level >= levels) return;
    std::FILE* stream = nullptr;
    if (target == "stdout"_s) {
        stream = stdout;
    } else if (target == "stderr"_s) {
        stream = stderr;
    } else if (!(target == "null"_s)) {
        // In append mode the system puts each write at the end of the
        // file, after the lines of the other levels' streams on it.
        stream = sys::openLogStream(sys::nativePath(target));
    }
    Locker<Mutex> hold(m_writeLock);
    closeStream(m_outputs[level]);
    m_outputs[level].stream = stream;
    m_outputs[level].target = target;
}

String Console::timeStamp(uint64_t wallMilliseconds) {
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%s.%d", secondStamp(static_cast<int64_t>(wallMilliseconds / 1000)),
                                static_cast<int>(wallMilliseconds % 1000));
    return n > 0 ? String(text) : String();
}

namespace {

// Copies the pieces one after the other into a buffer sized beforehand.
struct LineWriter {
    char* next;
    void put(std::string_view text) {
        std::memcpy(next, text.data(), text.size());
        next += text.size();
    }
    void put(char c) { *next++ = c; }
};

}  // namespace

void Console::write(int level, const String& module, const String& function, const String& message) {
    if (level < 0 || level >= levels) return;
    Output& output = m_outputs[level];
    const std::string_view label = Thread::currentThreadLabel();
    const bool hasFunction = function.length() > 0 && function.data()[0] != 0;
    const uint64_t now = currentMilliseconds();
    const std::string_view stamp = secondStamp(static_cast<int64_t>(now / 1000));
    char milliseconds[8];
    const int digits = std::snprintf(milliseconds, sizeof milliseconds, "%d", static_cast<int>(now % 1000));

    // One buffer holds the file's line, "stamp.ms text\n"; its tail from
    // the milliseconds on is the line for standard output. Lines that fit
    // use storage of the thread's own, which needs no destructor: logging
    // goes on while the process's static objects are torn down.
    const std::size_t length = stamp.size() + 1 + static_cast<std::size_t>(digits) + 2 + label.size() + 2 +
                               output.levelName.length() + 1 + module.length() + 2 + function.length() + 1 +
                               message.length() + 1;
    thread_local char t_line[1024];
    std::unique_ptr<char[]> large;
    char* line = t_line;
    if (length > sizeof t_line) {
        large.reset(new char[length]);
        line = large.get();
    }
    LineWriter w{line};
    w.put(stamp);
    w.put('.');
    const std::size_t shortLine = static_cast<std::size_t>(w.next - line);
    w.put(std::string_view(milliseconds, static_cast<std::size_t>(digits)));
    w.put(" [");
    w.put(label);
    w.put("] ");
    w.put(output.levelName.view());
    w.put(' ');
    w.put(module.view());
    if (hasFunction) {
        w.put('.');
        w.put(function.view());
        w.put(' ');
    } else {
        w.put(": ");
    }
    w.put(message.view());
    w.put('\n');
    const std::size_t used = static_cast<std::size_t>(w.next - line);

    {
        // A failed write (a full disk, a closed pipe) is dropped; the next
        // line tries again. The lock keeps one line's write and flush whole.
        Locker<Mutex> hold(m_writeLock);
        if (std::FILE* stream = output.stream) {
            std::fwrite(line, 1, used, stream);
            std::fflush(stream);
            if (std::ferror(stream)) std::clearerr(stream);
        }
    }
    // The debugger gets the line text alone: no time, no line break.
    const std::size_t textStart = shortLine + static_cast<std::size_t>(digits) + 1;
    sys::debugOutput(std::string_view(line + textStart, used - textStart - 1));
    if (!m_copyToStandardOutput) return;
    std::fwrite(line + shortLine, 1, used - shortLine, stdout);
    if (std::ferror(stdout)) std::clearerr(stdout);
}

void Console::logInfo(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    write(LogTrace, "Console"_s, "infoSystem"_s, wrap(text));
}

void Console::infoSystem(bool write) {
    if (write) {
        String system = sys::systemDirectory(), windows = sys::windowsDirectory(), temp = sys::temporaryDirectory();
        String profile = File::getUserProfileDirectory(), current = File::getCurrentDirectory(),
               appData = File::getUserApplicationDataDirectory();
        logInfo("System directory: %s", system.cStr());
        logInfo("Windows directory: %s", windows.cStr());
        logInfo("Windows temporary directory: %s", temp.cStr());
        logInfo("User profile directory: %s", profile.cStr());
        logInfo("Current directory: %s", current.cStr());
        logInfo("Application Data directory: %s", appData.cStr());
    }
    String commandLine = File::getCommandLinePath();
    String exeDirectory = File::getDirectory(commandLine);
    String rootDirectory = File::getParentDirectory(exeDirectory);
    if (write) {
        logInfo("Command line: %s", commandLine.cStr());
        logInfo("Current exe directory: %s", exeDirectory.cStr());
        logInfo("Root directory: %s", rootDirectory.cStr());
    }

    sys::OsVersion version;
    if (sys::osVersion(version)) {
        m_osName = version.name;
        m_servicePack = version.release;
    } else {
        m_osName = "UNKNOWN"_s;
    }
    m_osVersion = String::fromUInt(version.major) + "." + String::fromUInt(version.minor);
    if (!write) return;
    logInfo("%s", m_osName.clone().cStr());
    logInfo("%s", m_servicePack.clone().cStr());

    const sys::ProcessorInfo cpu = sys::processorInfo();
    logInfo("OEM ID: %u", cpu.oemId);
    logInfo("Number of Processors: %u", cpu.processors);
    logInfo("Page size: %u", cpu.pageSize);
    logInfo("Processor Type: %u", cpu.processorType);
    logInfo("Active processor mask: %u", cpu.activeMask);
    String user;
    if (sys::userName(user)) logInfo("Username: %s", user.cStr());
    logInfo("-----------------------------------");
}

void log(int level, const String& module, const String& function, const String& message) {
    if (Console* console = Console::instance()) console->write(level, module, function, message);
}

void log(int level, const String& module, const String& function, const char* message) {
    if (Console* console = Console::instance()) console->write(level, module, function, wrap(message));
}

void log(int level, const char* module, const char* function, const String& message) {
    if (Console* console = Console::instance()) console->write(level, wrap(module), wrap(function), message);
}

void log(int level, const char* module, const char* function, const char* message) {
    if (Console* console = Console::instance()) console->write(level, wrap(module), wrap(function), wrap(message));
}

}  // namespace trivane
