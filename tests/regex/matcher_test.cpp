#include "regex/matcher.h"

#include "regex/pattern.h"
#include "reference_matcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace trivane;
using namespace trivane::regex;

namespace {

String bytes(const std::string& s) {
    String out;
    out.append(s.data(), uint32_t(s.size()));
    return out;
}

std::string str(const String& s) { return std::string(s.data(), s.length()); }

const char* const statePattern = R"(>STATE:\d+,([^,]*),([^,]*),([^,]*),([^\n]*))";

enum Operation { Whole, Search };

struct Case {
    const char* pattern;
    int flags;
    std::string subject;
    Operation operation;
    bool expected;
    // The groups from 0 on, joined by "|", when the match succeeds.
    const char* groups;
};

std::string groupsOf(const Matcher& matcher, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += (i ? "|" : "") + str(matcher.group(i));
    return out;
}

const Case cases[] = {
    // The management client's patterns on its lines.
    {statePattern, 0, ">STATE:1702000000,CONNECTED,SUCCESS,10.8.0.6,192.168.1.1", Whole, true,
     ">STATE:1702000000,CONNECTED,SUCCESS,10.8.0.6,192.168.1.1|CONNECTED|SUCCESS|10.8.0.6|192.168.1.1"},
    {statePattern, 0, ">STATE:1,RECONNECTING,ping-restart,,,,", Whole, true,
     ">STATE:1,RECONNECTING,ping-restart,,,,|RECONNECTING|ping-restart||,,"},
    {statePattern, 0, ">STATE:1,A,B,C,D\nE", Whole, false, ""},
    {statePattern, 0, ">STATE:x,A,B,C,D", Whole, false, ""},
    {R"(>INFO:OpenVPN Management Interface Version (\d+))", 0,
     ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info", Search, true,
     ">INFO:OpenVPN Management Interface Version 5|5"},
    {">PASSWORD:Need '([^']+)' username/password", 0, ">PASSWORD:Need 'Auth' username/password", Whole, true,
     ">PASSWORD:Need 'Auth' username/password|Auth"},
    {">PASSWORD:Need '([^']+)' username/password", 0, ">PASSWORD:Need 'Auth' username/password x", Whole, false, ""},
    // An alternative hands back one end: the rest is not retried inside it.
    {"(a*|b)ab", 0, "aab", Search, false, ""},
    {"(a*|b)ab", 0, "aab", Whole, false, ""},
    {"(a|ab)c", 0, "abc", Whole, true, "abc|ab"},
    {"(?:a|ab)c", 0, "xabc", Search, true, "abc"},
    {"a|b|c", 0, "c", Whole, true, "c"},
    {"x(a|b)", 0, "xb", Whole, true, "xb|b"},
    // Quantified atoms give back what the rest needs.
    {"a*ab", 0, "aaab", Whole, true, "aaab"},
    {"[a-c]{2,3}c", 0, "abcc", Whole, true, "abcc"},
    {"a{2}", 0, "aaa", Search, true, "aa"},
    {"ba{}c", 0, "bc", Whole, true, "bc"},
    {"a{3,1}", 0, "aaa", Whole, true, "aaa"},
    {"a{3,1}", 0, "aa", Search, false, ""},
    {"a{99999999999}", 0, "aaa", Search, false, ""},
    {"a{2,99999999999}", 0, "aaaa", Whole, true, "aaaa"},
    {"\\Qab\\E+c", 0, "ababc", Whole, true, "ababc"},
    {"\\Qab\\E{2}c", 0, "abc", Search, false, ""},
    // Lazy and possessive atoms.
    {"<.+?>", 0, "<a><b>", Search, true, "<a>"},
    {"a*?b", 0, "aaab", Search, true, "aaab"},
    {"a+?", 0, "aaa", Search, true, "a"},
    {"\\Qab\\E*?c", 0, "ababc", Whole, true, "ababc"},
    {"\\Q\\E*?c", 0, "xc", Search, true, "c"},
    {"a*+a", 0, "aaa", Search, false, ""},
    {"a++b", 0, "aab", Whole, true, "aab"},
    {"a{1,2}+a", 0, "aaa", Whole, true, "aaa"},
    // Atomic groups.
    {"(?>a*)a", 0, "aaa", Search, false, ""},
    {"(?>a|ab)c", 0, "abc", Search, false, ""},
    {"(?>x(a)|b)c", 0, "xac", Whole, true, "xac|a"},
    // Quantified groups.
    {"(ab)+", 0, "ababab", Whole, true, "ababab|ab"},
    {"(a|b)*", 0, "abba", Whole, true, "abba|a"},
    {"(?:ab|a)*c", 0, "abaabc", Whole, true, "abaabc"},
    {"(ab)*?ab", 0, "ababab", Search, true, "ab|"},
    {"(ab)*?c", 0, "ababc", Whole, true, "ababc|ab"},
    {"(a){2,3}", 0, "aaaa", Search, true, "aaa|a"},
    {"(a){2}", 0, "a", Search, false, ""},
    {"(a)*+a", 0, "aaa", Search, false, ""},
    {"(ab)*+c", 0, "ababc", Whole, true, "ababc|ab"},
    {"(a?)*b", 0, "aab", Whole, true, "aab|"},
    {"(a)?b", 0, "b", Whole, true, "b|"},
    {"((a)|b)+", 0, "ab", Whole, true, "ab|b|a"},
    {"(a){0}b", 0, "ab", Search, true, "b|"},
    // Lookahead and lookbehind.
    {"a(?=b)", 0, "ab", Search, true, "a"},
    {"a(?!b)", 0, "ab", Search, false, ""},
    {"a(?!b)", 0, "ac", Search, true, "a"},
    {"(?=(a+))a", 0, "aaa", Search, true, "a|aaa"},
    {"(?<=a)b", 0, "ab", Search, true, "b"},
    {"(?<=a)b", 0, "cb", Search, false, ""},
    {"(?<!a)b", 0, "ab", Search, false, ""},
    {"(?<=a\\)b)c", 0, "a)bc", Search, true, "c"},
    {"(?<=A)b", Pattern::CaseInsensitive, "aB", Search, false, ""},
    // Anchors.
    {"^a", 0, "ba", Search, false, ""},
    {"^a", 0, "ab", Search, true, "a"},
    {"a$", 0, "ba", Search, true, "a"},
    {"a$", 0, "a\n", Search, false, ""},
    {"a\\Z", 0, "a\r\n", Search, true, "a"},
    {"a\\Z", 0, "a\n", Search, true, "a"},
    {"a\\z", 0, "a\n", Search, false, ""},
    {"\\Aab", 0, "ab", Whole, true, "ab"},
    {"^b", Pattern::MultiLine, "a\nb", Search, true, "b"},
    {"a$", Pattern::MultiLine, "a\rb", Search, true, "a"},
    {"\\Ga", 0, "ba", Search, false, ""},
    {"\\Ga", 0, "ab", Search, true, "a"},
    // Word boundaries look at letters only, and hold at the end.
    {"\\b", 0, "1", Search, true, ""},
    {"1\\ba", 0, "1a", Whole, true, "1a"},
    {"a\\bb", 0, "ab", Whole, false, ""},
    {"a\\Bb", 0, "ab", Whole, true, "ab"},
    {"_\\B", 0, "_", Whole, true, "_"},
    // The dot and the line flags.
    {".", 0, "\n", Search, false, ""},
    {".", 0, "\r", Search, false, ""},
    {".", Pattern::UnixLines, "\r", Whole, true, "\r"},
    {".", Pattern::DotAll, "\n", Whole, true, "\n"},
    // Case-insensitive matching.
    {"abc", Pattern::CaseInsensitive, "ABC", Whole, true, "ABC"},
    {"\\x41", Pattern::CaseInsensitive, "a", Whole, false, ""},
    {"[A-C]+", Pattern::CaseInsensitive, "abcABC", Whole, true, "abcABC"},
    {"[^a]", Pattern::CaseInsensitive, "A", Whole, false, ""},
    {"\\Qa.B\\E", Pattern::CaseInsensitive, "A.b", Whole, true, "A.b"},
    {"\\W", Pattern::CaseInsensitive, "A", Whole, false, ""},
    // The literal flag.
    {"a.b", Pattern::Literal, "a.b", Whole, true, "a.b"},
    {"a.b", Pattern::Literal, "axb", Whole, false, ""},
    {"A.b", Pattern::Literal | Pattern::CaseInsensitive, "a.B", Whole, true, "a.B"},
    {"(", Pattern::Literal, "x(", Search, true, "("},
    // Octal escapes take a third digit only after 0 to 3.
    {"\\0477", 0, "'7", Whole, true, "'7"},
    {"\\0101", 0, "A", Whole, true, "A"},
    // Back-references.
    {"(a+)b\\1", 0, "aabaa", Whole, true, "aabaa|aa"},
    {"(a)\\1b", 0, "aab", Whole, true, "aab|a"},
    {"(a)(b)\\2\\1", 0, "abba", Whole, true, "abba|a|b"},
    {"(a)\\10", 0, "aa0", Whole, true, "aa0|a"},
    {"\\9a", 0, "a", Whole, true, "a"},
    {"(a)?\\1b", 0, "b", Whole, true, "b|"},
    {"(a)\\2", 0, "a", Whole, true, "a|a"},
    // Leftmost match, and the first one found there.
    {"b+", 0, "abbbcbb", Search, true, "bbb"},
    {"", 0, "abc", Search, true, ""},
    {"", 0, "", Whole, true, ""},
};

TEST(MatcherTest, TableOfCases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " on " + c.subject);
        gc::Pointer<Pattern> pattern = Pattern::compile(c.pattern, c.flags);
        ASSERT_TRUE(pattern);
        gc::Pointer<Matcher> matcher = pattern->createMatcher(bytes(c.subject));
        const bool result = c.operation == Whole ? matcher->matches() : matcher->search();
        EXPECT_EQ(result, c.expected);
        if (c.expected) {
            EXPECT_EQ(groupsOf(*matcher, pattern->groupCount()), c.groups);
        }
    }
}

TEST(MatcherTest, GroupOutsideTheMatchIsEmpty) {
    gc::Pointer<Pattern> pattern = Pattern::compile("(a)|(b)");
    gc::Pointer<Matcher> matcher = pattern->createMatcher("b"_s);
    ASSERT_TRUE(matcher->search());
    EXPECT_EQ(str(matcher->group(0)), "b");
    EXPECT_EQ(str(matcher->group(1)), "");  // did not take part
    EXPECT_EQ(str(matcher->group(2)), "b");
    EXPECT_EQ(str(matcher->group(-1)), "");
    EXPECT_EQ(str(matcher->group(3)), "");
    EXPECT_EQ(matcher->start(1), -1);
}

TEST(MatcherTest, FailedSearchLeavesEveryGroupUnset) {
    for (const char* text : {"(a)(b)c", "^(a)(b)c", "(?:(a)|b)c"}) {
        SCOPED_TRACE(text);
        gc::Pointer<Pattern> pattern = Pattern::compile(text);
        gc::Pointer<Matcher> matcher = pattern->createMatcher("abx ax"_s);
        EXPECT_FALSE(matcher->search());
        EXPECT_FALSE(matcher->matched());
        EXPECT_EQ(matcher->start(0), -1);
        EXPECT_EQ(matcher->end(0), -1);
        EXPECT_EQ(groupsOf(*matcher, pattern->groupCount()), std::string(pattern->groupCount() - 1, '|'));
    }
}

TEST(MatcherTest, AnchoredMatchReportsItsWholeText) {
    gc::Pointer<Pattern> pattern = Pattern::compile("^ab");
    gc::Pointer<Matcher> matcher = pattern->createMatcher("abc"_s);
    ASSERT_TRUE(matcher->search());
    EXPECT_EQ(str(matcher->group(0)), "ab");
    EXPECT_TRUE(matcher->matched());
}

TEST(MatcherTest, MatcherSurvivesReloadOfItsPattern) {
    gc::Pointer<Pattern> pattern = Pattern::compile("x");
    gc::Pointer<Matcher> matcher = pattern->createMatcher("abc"_s);
    class OneMember : public IConfReader {
    public:
        bool hasMember(const String&) override { return true; }
        IConfReader& member(const String&) override { return *this; }
        uint32_t memberCount(const String&) override { return 1; }
        IConfReader& member(const String&, uint32_t) override { return *this; }
        int32_t readInt() override { return 0; }
        bool readBool() override { return false; }
        String readString() override { return "(a)(?:(b)(c))"_s; }
    } reader;
    pattern->loadConf(reader);
    ASSERT_TRUE(matcher->matches());
    EXPECT_EQ(groupsOf(*matcher, 4), "abc|a|b|c");
}

// Lines far longer than any machine stack could recurse over.
TEST(MatcherTest, StatePatternOnAOneMebibyteLine) {
    const std::string last(1 << 20, 'x');
    const std::string line = ">STATE:1702000000,CONNECTED,SUCCESS,10.8.0.6," + last;
    gc::Pointer<Pattern> pattern = Pattern::compile(statePattern);
    gc::Pointer<Matcher> matcher = pattern->createMatcher(bytes(line));
    ASSERT_TRUE(matcher->matches());
    EXPECT_EQ(str(matcher->group(3)), "10.8.0.6");
    EXPECT_TRUE(str(matcher->group(4)) == last);

    // A line break in the last field: every split of it is tried, and fails.
    gc::Pointer<Matcher> broken = pattern->createMatcher(bytes(line + "\ny"));
    EXPECT_FALSE(broken->matches());
    // The same fields with commas in the middle one.
    const std::string commas(1 << 20, ',');
    gc::Pointer<Matcher> many = pattern->createMatcher(bytes(">STATE:1,A,B,C," + commas));
    ASSERT_TRUE(many->matches());
    EXPECT_EQ(many->group(4).length(), 1u << 20);
}

TEST(MatcherTest, NestedQuantifiersOnLongSubjects) {
    const int n = 1 << 18;
    std::string ab, abc;
    for (int i = 0; i < n; ++i) ab += (i % 3 == 0 ? "ab" : "a");
    for (int i = 0; i < n / 4; ++i) abc += "ababc";
    struct LongCase {
        const char* pattern;
        std::string subject;
        Operation operation;
        bool expected;
    };
    const LongCase longCases[] = {
        {"(?:a|b)*c", ab + "c", Whole, true},
        {"(a|b)*c", ab, Whole, false},
        {"(?:(?:ab)+c)*d", abc + "d", Whole, true},
        {"(x(?:ab|a)*)*y", "x" + ab + "y", Whole, true},
        {"(?:a(?=b|a)|b)*c", ab + "c", Search, true},
        {".*?d", abc + "d", Whole, true},
        {"(?:ab|a)*+c", ab + "c", Whole, true},
        {"(?:(?>(?:ab|a)*))+c", ab + "c", Whole, true},
        {"(?:a*b*)*?c", ab + "c", Whole, true},
        {"(?:[ab]{1,3})+(?:a|b)c", ab + "c", Whole, true},
    };
    for (const LongCase& c : longCases) {
        SCOPED_TRACE(c.pattern);
        gc::Pointer<Pattern> pattern = Pattern::compile(c.pattern);
        ASSERT_TRUE(pattern);
        gc::Pointer<Matcher> matcher = pattern->createMatcher(bytes(c.subject));
        EXPECT_EQ(c.operation == Whole ? matcher->matches() : matcher->search(), c.expected);
    }
}

// Random small patterns over a few letters: the stack machine and the
// recursive rules agree on the result and on every group.
TEST(MatcherTest, AgreesWithTheRecursiveRules) {
    static const char* const pieces[] = {
        "a", "b", "c", "(", "(", ")", ")", "|", "*", "+", "?", "*?", "+?", "*+", "++", "{1,2}", "{2}", "{0,1}?",
        "(?:", "(?=", "(?!", "(?>", "(?<=a)", "(?<!b)", "[ab]", "[^a]", ".", "^", "$", "\\b", "\\B", "\\1", "\\2",
        "\\Qab\\E", "\\Z", "\\G",
    };
    std::mt19937 random(12345);
    int compiled = 0;
    for (int round = 0; round < 30000; ++round) {
        std::string text;
        const int length = 1 + int(random() % 8);
        for (int i = 0; i < length; ++i) text += pieces[random() % std::size(pieces)];
        const int flags = random() % 4 == 0 ? Pattern::CaseInsensitive : 0;
        gc::Pointer<Pattern> pattern = Pattern::compile(bytes(text), flags);
        if (!pattern) continue;
        ++compiled;
        for (int s = 0; s < 4; ++s) {
            std::string subject;
            const int size = int(random() % 10);
            for (int i = 0; i < size; ++i) subject += "abcA"[random() % 4];
            SCOPED_TRACE(text + " on " + subject);
            for (Operation op : {Whole, Search}) {
                gc::Pointer<Matcher> matcher = pattern->createMatcher(bytes(subject));
                model::ReferenceMatcher reference(*pattern, subject);
                const bool expected = op == Whole ? reference.matches() : reference.search();
                ASSERT_EQ(op == Whole ? matcher->matches() : matcher->search(), expected);
                for (int g = 0; g < pattern->groupCount(); ++g) {
                    ASSERT_EQ(matcher->start(g), reference.start(g)) << "group " << g;
                    ASSERT_EQ(matcher->end(g), reference.end(g)) << "group " << g;
                }
            }
        }
    }
    EXPECT_GT(compiled, 5000);
}

}  // namespace
