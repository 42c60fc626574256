// Splitting and quoting command lines by the Windows C runtime's rules.
#include "base/commandline.h"

namespace trivane {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Appends the arguments of text[pos..] to `arguments`.
Array<String> splitArgumentsFrom(const String& commandLine, uint32_t pos, Array<String> arguments) {
    const char* text = commandLine.data();
    const uint32_t length = commandLine.length();
    for (;;) {
        while (pos < length && isBlank(text[pos])) ++pos;
        if (pos >= length) break;
        String argument;
        bool quoted = false;
        while (pos < length && (quoted || !isBlank(text[pos]))) {
            uint32_t backslashes = 0;
            while (pos < length && text[pos] == '\\') {
                ++backslashes;
                ++pos;
            }
            if (pos < length && text[pos] == '"') {
                for (uint32_t i = 0; i < backslashes / 2; ++i) argument.append('\\');
                if (backslashes % 2 == 1) {
                    argument.append('"');
                } else if (quoted && pos + 1 < length && text[pos + 1] == '"') {
                    argument.append('"');
                    ++pos;
                } else {
                    quoted = !quoted;
                }
                ++pos;
            } else {
                for (uint32_t i = 0; i < backslashes; ++i) argument.append('\\');
                if (pos < length && (quoted || !isBlank(text[pos]))) argument.append(text[pos++]);
            }
        }
        arguments.append(argument);
    }
    return arguments;
}

}  // namespace

Array<String> splitArguments(const String& text) { return splitArgumentsFrom(text, 0, Array<String>()); }

Array<String> splitCommandLine(const String& commandLine) {
    const char* text = commandLine.data();
    const uint32_t length = commandLine.length();
    if (length == 0) return Array<String>();

    // The program name takes no backslash rules: a quote ends it or a blank does.
    uint32_t pos = 0;
    String program;
    if (text[pos] == '"') {
        ++pos;
        while (pos < length && text[pos] != '"') program.append(text[pos++]);
        if (pos < length) ++pos;
    } else {
        while (pos < length && !isBlank(text[pos])) program.append(text[pos++]);
    }
    Array<String> arguments;
    arguments.append(program);
    return splitArgumentsFrom(commandLine, pos, arguments);
}

String quoteArgument(const String& argument) {
    if (!argument.isEmpty() && argument.findFirstOf(" \t\"") == String::npos) return argument;
    String quoted;
    quoted.append('"');
    uint32_t backslashes = 0;
    for (uint32_t i = 0; i < argument.length(); ++i) {
        const char c = argument.data()[i];
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        const uint32_t repeat = c == '"' ? backslashes * 2 + 1 : backslashes;
        for (uint32_t b = 0; b < repeat; ++b) quoted.append('\\');
        backslashes = 0;
        quoted.append(c);
    }
    // Backslashes before the closing quote are doubled too.
    for (uint32_t b = 0; b < backslashes * 2; ++b) quoted.append('\\');
    quoted.append('"');
    return quoted;
}

}  // namespace trivane
