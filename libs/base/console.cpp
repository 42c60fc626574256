// Composing and writing log lines.
#include "base/console.h"

#include "base/arch/thread.h"
#include "base/clock.h"

#include <cstring>
#include <ctime>

namespace trivane {

namespace {

const char* const s_levelNames[Console::levels] = {"TRACE", "DEBUG", "ERROR", "ASSERT", "WARNING"};

String threadLabel() { return String::fromUInt64(sys::currentThreadId()); }

bool isStandard(std::FILE* stream) { return stream == stdout || stream == stderr; }

}  // namespace

Console::Console() {
    for (int level = 0; level < levels; ++level) {
        m_outputs[level].stream = stdout;
        m_outputs[level].target = "stdout"_s;
        m_outputs[level].levelName = String(s_levelNames[level], static_cast<uint32_t>(std::strlen(s_levelNames[level])));
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
        String path = target;
        stream = std::fopen(path.cStr(), "w");
    }
    Locker<Mutex> hold(m_writeLock);
    closeStream(m_outputs[level]);
    m_outputs[level].stream = stream;
    m_outputs[level].target = target;
}

void Console::write(int level, const String& module, const String& function, const String& message) {
    if (level < 0 || level >= levels) return;
    Output& output = m_outputs[level];
    const String label = threadLabel();
    const bool hasFunction = function.length() > 0 && function.data()[0] != 0;

    String line;
    line.reserve(label.length() + output.levelName.length() + module.length() + function.length() +
                 message.length() + 6);
    line.append('[');
    line.append(label);
    line.append("] ", 2);
    line.append(output.levelName);
    line.append(' ');
    line.append(module);
    if (hasFunction) {
        line.append('.');
        line.append(function);
        line.append(' ');
    } else {
        line.append(": ", 2);
    }
    line.append(message);
    const char* text = line.cStr();
    const int milliseconds = static_cast<int>(currentMilliseconds() % 1000);

    if (output.stream) {
        char stamp[26];
        const std::time_t now = std::time(nullptr);
        std::tm local;
        localtime_r(&now, &local);
        std::strftime(stamp, sizeof stamp, "%d-%m-%y %H:%M:%S", &local);
        Locker<Mutex> hold(m_writeLock);
        if (output.stream) {
            std::fseek(output.stream, 0, SEEK_END);
            std::fprintf(output.stream, "%s.%d %s\n", stamp, milliseconds, text);
            std::fflush(output.stream);
        }
    }
    std::printf("%d %s\n", milliseconds, text);
}

void log(int level, const String& module, const String& function, const String& message) {
    if (Console* console = Console::instance()) console->write(level, module, function, message);
}

void log(int level, const String& module, const String& function, const char* message) {
    if (Console* console = Console::instance())
        console->write(level, module, function, String(message, static_cast<uint32_t>(std::strlen(message))));
}

void log(int level, const char* module, const char* function, const String& message) {
    if (Console* console = Console::instance())
        console->write(level, String(module, static_cast<uint32_t>(std::strlen(module))),
                       String(function, static_cast<uint32_t>(std::strlen(function))), message);
}

void log(int level, const char* module, const char* function, const char* message) {
    log(level, module, function, String(message, static_cast<uint32_t>(std::strlen(message))));
}

}  // namespace trivane
