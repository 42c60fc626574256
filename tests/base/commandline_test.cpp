// Splitting command lines by the Windows C runtime's rules, and quoting
// arguments so that they split back.
#include "base/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace trivane;

namespace {

std::vector<std::string> split(const char* line) {
    std::vector<std::string> out;
    const Array<String> arguments = splitCommandLine(String(line));
    for (const String& a : arguments) out.emplace_back(a.data(), a.length());
    return out;
}

TEST(CommandLine, SplitsByTheRuntimeRules) {
    struct Case {
        const char* line;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"", {}},
        {"prog", {"prog"}},
        {"prog a  b\tc", {"prog", "a", "b", "c"}},
        {"\"C:\\Program Files\\app.exe\" -i", {"C:\\Program Files\\app.exe", "-i"}},
        {"\"C:\\dir\\\"rest", {"C:\\dir\\", "rest"}},  // no backslash rules in the program name
        {"\"unterminated program", {"unterminated program"}},
        {"prog \"a b\" c", {"prog", "a b", "c"}},
        {"prog a\"b c\"d", {"prog", "ab cd"}},
        {"prog a\\b c\\\\d", {"prog", "a\\b", "c\\\\d"}},
        {"prog a\\\"b", {"prog", "a\"b"}},
        {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},
        {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},
        {"prog \"a\"\"b\"", {"prog", "a\"b"}},
        {"prog \"\" x", {"prog", "", "x"}},
        {"prog \"open", {"prog", "open"}},
        {"prog trailing\\", {"prog", "trailing\\"}},
        {"prog   ", {"prog"}},
    };
    for (const Case& c : cases) EXPECT_EQ(split(c.line), c.arguments) << c.line;
}

TEST(CommandLine, QuotesOnlyWhatNeedsItAndSplitsBack) {
    struct Case {
        const char* argument;
        const char* quoted;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"back\\slash", "back\\slash"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"tab\there", "\"tab\there\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"dir\\ with\\", "\"dir\\ with\\\\\""},
        {"q\\\"", "\"q\\\\\\\"\""},
        {"/opt/my apps/admindaemon", "\"/opt/my apps/admindaemon\""},
    };
    for (const Case& c : cases) {
        const String quoted = quoteArgument(String(c.argument));
        EXPECT_EQ(std::string(quoted.data(), quoted.length()), c.quoted);
        const String line = "prog " + quoted + " next";
        EXPECT_EQ(split(String(line).cStr()), (std::vector<std::string>{"prog", c.argument, "next"})) << c.argument;
    }
}

}  // namespace
