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

TEST(CommandLine, ArgumentsWithoutAProgramName) {
    struct Case {
        const char* line;
        std::vector<std::string> arguments;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"   \t ", {}},
        {"--config \"/tmp/Velnor/AdminDaemon/VPN/a_b/velnor.ovpn\"",
         {"--config", "/tmp/Velnor/AdminDaemon/VPN/a_b/velnor.ovpn"}},
        {"a  b\tc", {"a", "b", "c"}},
        {"\"with blank\" x", {"with blank", "x"}},
        {"ab\"c d\"e", {"abc de"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"\"unterminated quote", {"unterminated quote"}},
        {"C:\\dir\\file", {"C:\\dir\\file"}},
        {"a\\\\b", {"a\\\\b"}},
        {"a\\\"b", {"a\"b"}},
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"\"C:\\dir\\\\\" next", {"C:\\dir\\", "next"}},
        {"\"a\"\"b\" c", {"a\"b", "c"}},
        {"\"a \"\" b\"", {"a \" b"}},
        {"trailing\\", {"trailing\\"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Array<String> split = splitArguments(String(c.line));
        std::vector<std::string> got;
        for (uint32_t i = 0; i < split.count(); ++i) got.emplace_back(split[i].data(), split[i].length());
        EXPECT_EQ(got, c.arguments);
    }
}

}  // namespace
