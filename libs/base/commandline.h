// Command lines in the Windows form: one text, split into arguments by the
// rules of the Windows C runtime (quotes, backslashes).
#pragma once

#include "base/array.h"
#include "base/string.h"

namespace trivane {

// The arguments of `commandLine`. The first one, the program, ends at the
// first blank or, when it begins with a quote, at the next quote; the others
// follow the C runtime: blanks (space, tab) separate outside quotes, 2n
// backslashes before a quote give n backslashes and toggle quoting, 2n+1 give
// n backslashes and a literal quote, "" inside quotes is a literal quote, and
// other backslashes are literal.
Array<String> splitCommandLine(const String& commandLine);

// The arguments of a text that holds arguments only (no program name), every
// one split by the argument rules above.
Array<String> splitArguments(const String& text);

// `argument` as one token of a command line: unchanged unless it is empty or
// holds a blank or a quote, quoted otherwise so that splitCommandLine gives
// it back.
String quoteArgument(const String& argument);

// The process's command line: its arguments, each quoted by quoteArgument,
// joined by single blanks.
String processCommandLine();

// The absolute path of the running executable.
String executablePath();

}  // namespace trivane
