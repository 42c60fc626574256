// The process-wide logging console: five levels, each with its own output.
#pragma once

#include "base/gcobject.h"
#include "base/mutex.h"
#include "base/runtime.h"
#include "base/string.h"

#include <cstdint>
#include <cstdio>

namespace trivane {

enum LogLevel : int { LogTrace = 0, LogDebug = 1, LogError = 2, LogAssert = 3, LogWarning = 4 };

// Every line goes to its level's output (a file, standard output, standard
// error or nothing) and, in a shorter form, to standard output.
class Console final : public gc::ObjectDelete {
public:
    static constexpr int levels = 5;

    Console();
    ~Console() override;
    const char* className() const noexcept override { return "console"; }

    // The process-wide console, or null before start-up and after tear-down.
    static Console* instance() noexcept;

    // "null", "stdout", "stderr" or a file path, opened anew: created or
    // truncated, private to its owner, each line appended at its end.
    // Called during start-up, before other threads log.
    void setOutput(int level, const String& target);
    const String& target(int level) const { return m_outputs[level].target; }
    // Whether every line is also copied to standard output (the default).
    // A tool whose standard output carries its results turns it off.
    // Called during start-up, before other threads log.
    void setStandardOutputCopy(bool copy) noexcept { m_copyToStandardOutput = copy; }

    // Any thread; each line reaches a file whole, under the console's lock.
    void write(int level, const String& module, const String& function, const String& message);

    // Fills the operating-system texts; when `write`, logs the host
    // description at TRACE. Called during start-up.
    void infoSystem(bool write);
    const String& osName() const noexcept { return m_osName; }
    const String& osVersion() const noexcept { return m_osVersion; }
    const String& servicePack() const noexcept { return m_servicePack; }

    // The local time of a file line, "dd-mm-yy HH:MM:SS.ms", the
    // milliseconds without padding.
    static String timeStamp(uint64_t wallMilliseconds);

private:
    struct Output {
        std::FILE* stream = nullptr;
        String target;
        String levelName;
    };
    void closeStream(Output& output);
    void logInfo(const char* format, ...);

    String m_osName;
    String m_osVersion;
    String m_servicePack;
    Output m_outputs[levels];
    // Levels pointed at one file hold separate streams on it: one line's
    // seek, write and flush must not interleave with another's.
    Mutex m_writeLock;
    bool m_copyToStandardOutput = true;
};

void log(int level, const String& module, const String& function, const String& message);
void log(int level, const String& module, const String& function, const char* message);
// Literal module and function names are wrapped, not copied.
void log(int level, const char* module, const char* function, const String& message);
void log(int level, const char* module, const char* function, const char* message);

}  // namespace trivane
