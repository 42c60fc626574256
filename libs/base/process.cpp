// Splitting a command line into arguments.
#include "base/process.h"

namespace trivane {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

Strings splitCommandLine(const String& commandLine) {
    Strings arguments;
    const uint32_t length = commandLine.length();
    const char* text = commandLine.data();
    uint32_t i = 0;
    for (;;) {
        while (i < length && isBlank(text[i])) ++i;
        if (i >= length) break;
        String argument;
        bool quoted = false;
        while (i < length && (quoted || !isBlank(text[i]))) {
            if (text[i] == '\\') {
                uint32_t slashes = 0;
                while (i < length && text[i] == '\\') ++slashes, ++i;
                if (i < length && text[i] == '"') {
                    for (uint32_t k = 0; k < slashes / 2; ++k) argument.append('\\');
                    if (slashes % 2 == 1) {
                        argument.append('"');
                        ++i;
                    }
                } else {
                    for (uint32_t k = 0; k < slashes; ++k) argument.append('\\');
                }
            } else if (text[i] == '"') {
                if (quoted && i + 1 < length && text[i + 1] == '"') {
                    argument.append('"');
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument.append(text[i++]);
            }
        }
        arguments.append(argument);
    }
    return arguments;
}

}  // namespace trivane
