#include "regex/pattern.h"

#include "regex/matcher.h"
#include "regex/node.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace trivane;
using namespace trivane::regex;

namespace {

String bytes(const std::string& s) {
    String out;
    out.append(s.data(), uint32_t(s.size()));
    return out;
}

std::string bound(int n) { return n == Unbounded ? "inf" : std::to_string(n); }

// The graph as text: each node's class, its fields, bodies in brackets; a
// node met again (a group loop reached from its tail) is written "@".
std::string describe(const Node* node, std::set<const Node*>& seen) {
    std::string out;
    for (; node; node = node->m_next) {
        if (!out.empty()) out += ' ';
        if (!seen.insert(node).second) return out + "@";
        switch (node->kind()) {
        case NodeKind::Start: out += "Start"; break;
        case NodeKind::End: out += "End"; break;
        case NodeKind::SubStart: out += "Sub"; break;
        case NodeKind::Accept: out += "Accept"; break;
        case NodeKind::Char: out += std::string("Char(") + char(static_cast<const CharNode*>(node)->m_char) + ")"; break;
        case NodeKind::CIChar: out += std::string("CIChar(") + char(static_cast<const CICharNode*>(node)->m_char) + ")"; break;
        case NodeKind::Class: out += static_cast<const ClassNode*>(node)->m_inverted ? "Class(!)" : "Class"; break;
        case NodeKind::CIClass: out += static_cast<const CIClassNode*>(node)->m_inverted ? "CIClass(!)" : "CIClass"; break;
        case NodeKind::Quote:
            out += "Quote(" + std::string(static_cast<const QuoteNode*>(node)->m_text.view()) + ")";
            break;
        case NodeKind::CIQuote:
            out += "CIQuote(" + std::string(static_cast<const CIQuoteNode*>(node)->m_text.view()) + ")";
            break;
        case NodeKind::StartOfInput: out += "StartOfInput"; break;
        case NodeKind::EndOfInput:
            out += static_cast<const EndOfInputNode*>(node)->m_terminatorAllowed ? "EndOfInput(t)" : "EndOfInput";
            break;
        case NodeKind::StartOfLine: out += "StartOfLine"; break;
        case NodeKind::EndOfLine: out += "EndOfLine"; break;
        case NodeKind::WordBoundary:
            out += static_cast<const WordBoundaryNode*>(node)->m_positive ? "Boundary" : "NonBoundary";
            break;
        case NodeKind::EndOfMatch: out += "EndOfMatch"; break;
        case NodeKind::Reference:
            out += "Ref(" + std::to_string(static_cast<const ReferenceNode*>(node)->m_group) + ")";
            break;
        case NodeKind::GroupHead: out += "Head(" + std::to_string(static_cast<const GroupHeadNode*>(node)->m_group) + ")"; break;
        case NodeKind::GroupTail: out += "Tail(" + std::to_string(static_cast<const GroupTailNode*>(node)->m_group) + ")"; break;
        case NodeKind::GroupLoopPrologue:
            out += "Prologue(" + std::to_string(static_cast<const GroupLoopPrologueNode*>(node)->m_group) + ")";
            break;
        case NodeKind::GroupLoop: {
            const GroupLoopNode* loop = static_cast<const GroupLoopNode*>(node);
            out += "Loop(" + std::to_string(loop->m_group) + "," + bound(loop->m_minimum) + "," + bound(loop->m_maximum) +
                   "," + std::to_string(loop->m_kind) + ")[" + describe(loop->m_body, seen) + "]";
            break;
        }
        case NodeKind::Or: {
            const OrNode* o = static_cast<const OrNode*>(node);
            out += "Or[" + describe(o->m_left, seen) + "][" + describe(o->m_right, seen) + "]";
            break;
        }
        case NodeKind::LookAhead: {
            const LookAheadNode* a = static_cast<const LookAheadNode*>(node);
            out += std::string(a->m_positive ? "Ahead" : "NotAhead") + "[" + describe(a->m_body, seen) + "]";
            break;
        }
        case NodeKind::LookBehind: {
            const LookBehindNode* b = static_cast<const LookBehindNode*>(node);
            out += std::string(b->m_positive ? "Behind(" : "NotBehind(") + std::string(b->m_text.view()) + ")";
            break;
        }
        case NodeKind::GreedyQuantifier:
        case NodeKind::LazyQuantifier:
        case NodeKind::PossessiveQuantifier: {
            const QuantifierNode* q = static_cast<const QuantifierNode*>(node);
            const char* kind = node->kind() == NodeKind::GreedyQuantifier ? "Greedy"
                               : node->kind() == NodeKind::LazyQuantifier ? "Lazy"
                                                                           : "Possessive";
            out += std::string(kind) + "{" + bound(q->m_minimum) + "," + bound(q->m_maximum) + "}[" +
                   describe(q->m_body, seen) + "]";
            break;
        }
        }
    }
    return out;
}

std::string describe(const char* text, int flags = 0) {
    gc::Pointer<Pattern> pattern = Pattern::compile(text, flags);
    if (!pattern) return "null";
    std::set<const Node*> seen;
    return describe(pattern->head(), seen);
}

TEST(PatternTest, GraphOfEachConstruct) {
    struct {
        const char* text;
        int flags;
        const char* graph;
    } const graphs[] = {
        {"ab", 0, "Start Sub Char(a) Char(b) End"},
        {"^a", 0, "StartOfInput Char(a) End"},
        {"^a", Pattern::MultiLine, "Start Sub StartOfLine Char(a) End"},
        {"a$\\Z\\z", 0, "Start Sub Char(a) EndOfInput EndOfInput(t) EndOfInput End"},
        {"\\b\\B\\G\\A", 0, "Start Sub Boundary NonBoundary EndOfMatch StartOfInput End"},
        {"a|b|c", 0,
         "Start Sub Or[Sub Char(a) Accept][Or[Sub Char(b) Accept][Sub Char(c) Accept] Accept] End"},
        {"(?:x)(y)", 0, "Start Sub Head(-1) Char(x) Tail(-1) Head(1) Char(y) Tail(1) End"},
        {"(a|b)", 0, "Start Sub Head(1) Or[Sub Char(a) Accept][Sub Char(b) Accept] Tail(1) End"},
        {"a{2,}", 0, "Start Sub Greedy{2,inf}[Char(a) Accept] End"},
        {"a{}b{,}c{,3}?d{3,1}+", 0,
         "Start Sub Greedy{0,0}[Char(a) Accept] Greedy{0,inf}[Char(b) Accept] Lazy{0,3}[Char(c) Accept] "
         "Possessive{3,1}[Char(d) Accept] End"},
        {"a{99999999999}", 0, "Start Sub Greedy{inf,inf}[Char(a) Accept] End"},
        {"(a)*?", 0, "Start Sub Prologue(1) Loop(1,0,inf,1)[Head(1) Char(a) Tail(1) @] End"},
        {"(?:a){2,5}+", 0, "Start Sub Prologue(-1) Loop(-1,2,5,2)[Head(-1) Char(a) Tail(-1) @] End"},
        {"(?>ab)", 0, "Start Sub Possessive{1,1}[Sub Char(a) Char(b) Accept] End"},
        {"(?=a)(?!b)", 0, "Start Sub Ahead[Sub Char(a) Accept] NotAhead[Sub Char(b) Accept] End"},
        {"(?<=a\\)b)(?<!c)", 0, "Start Sub Behind(a)b) NotBehind(c) End"},
        {"\\p{Digit}+", 0, "Start Sub Greedy{1,inf}[Class Accept] End"},
        {"\\D\\w", 0, "Start Sub Class(!) Class End"},
        {"A\\x41", Pattern::CaseInsensitive, "Start Sub CIChar(a) Char(A) End"},
        {"\\d[x]", Pattern::CaseInsensitive, "Start Sub CIClass CIClass End"},
        {"\\x4", 0, "Start Sub Char( ) Char(4) End"},
        {"\\xZZ", 0, "Start Sub Char( ) Char(Z) Char(Z) End"},
        {"\\Qa\\.b\\E", 0, "Start Sub Quote(a.b) End"},
        {"\\QA\\E", Pattern::CaseInsensitive, "Start Sub CIQuote(a) End"},
        {"a.(", Pattern::Literal, "Start Quote(a.() End"},
        {"A", Pattern::Literal | Pattern::CaseInsensitive, "Start CIQuote(a) End"},
        {"(a)\\1x\\12", 0, "Start Sub Head(1) Char(a) Tail(1) Ref(1) Char(x) Ref(1) Char(2) End"},
    };
    for (const auto& g : graphs) EXPECT_EQ(describe(g.text, g.flags), g.graph) << g.text;
}

TEST(PatternTest, GroupCounts) {
    struct {
        const char* text;
        int groups;
        int nonCapturing;
    } const counts[] = {
        {R"(>STATE:\d+,([^,]*),([^,]*),([^,]*),([^\n]*))", 5, 0},
        {"(?:x)(y)", 2, 1},
        {"((a)(?:b(c)))(?=(d))(?>(e))", 6, 1},
        {"a|(b)|(?:c)", 2, 1},
        {"abc", 1, 0},
    };
    for (const auto& c : counts) {
        gc::Pointer<Pattern> pattern = Pattern::compile(c.text);
        ASSERT_TRUE(pattern) << c.text;
        EXPECT_EQ(pattern->groupCount(), c.groups) << c.text;
        EXPECT_EQ(pattern->nonCapturingGroupCount(), c.nonCapturing) << c.text;
    }
}

TEST(PatternTest, SyntaxErrorsGiveNull) {
    const char* const errors[] = {
        "*a", "a**", "+", "?", "a|*", "]", "}", "{", "a{", "a{1", "a{x}", "a{1,2,3}", "a{ 1}", ")", "a)", "(a",
        "((a)", "(?", "(?x)", "(?<x)", "(?<", "a\\", "\\0", "\\08", "\\09", "\\p{Foo}", "\\pL", "\\p{Lower", "\\Qabc",
        "\\Qab\\", "[abc", "[", "[^", "[-a]", "[a-]", "[a--]", "[a-&]", "[a-[b]]", "[\\d-z]", "[a-\\d]", "[a&&b]",
        "[\\Q]", "(?=a)*", "(?!a)+", "(?>a)?", "(?<=a)*", "(?<=ab", "(?<=a\\)", "x(?:a|b)(",
    };
    for (const char* text : errors) EXPECT_FALSE(Pattern::compile(text)) << text;
    const char* const valid[] = {"a{}", "a{3,1}", "a{,}", "[&]", "[a&b]", "[]", "[^]", "[a-\\x41]", "(?:)", "()",
                                 "a|", "|", "\\x4"};
    for (const char* text : valid) EXPECT_TRUE(Pattern::compile(text)) << text;
}

TEST(PatternTest, NestingIsBoundedNotRecursedWithoutLimit) {
    const std::string deep = std::string(100000, '(') + std::string(100000, ')');
    EXPECT_FALSE(Pattern::compile(bytes(deep)));
    EXPECT_FALSE(Pattern::compile(bytes(std::string(100000, '[') + "a" + std::string(100000, ']'))));
    const std::string allowed = std::string(Pattern::MaxNesting, '(') + "a" + std::string(Pattern::MaxNesting, ')');
    gc::Pointer<Pattern> pattern = Pattern::compile(bytes(allowed));
    ASSERT_TRUE(pattern);
    EXPECT_TRUE(pattern->createMatcher("a"_s)->matches());
    // Long flat patterns are read in loops.
    std::string alternatives = "x";
    for (int i = 0; i < 200000; ++i) alternatives += "|x";
    gc::Pointer<Pattern> wide = Pattern::compile(bytes(alternatives + "|y"));
    ASSERT_TRUE(wide);
    EXPECT_TRUE(wide->createMatcher("y"_s)->matches());
}

// Which of the 256 bytes a one-byte pattern takes, as a list of characters
// and ranges: "a-c x-z".
std::string acceptedBytes(const char* text, int flags = 0) {
    gc::Pointer<Pattern> pattern = Pattern::compile(text, flags);
    if (!pattern) return "null";
    std::string out;
    for (int c = 0; c < 256; ++c) {
        const char ch = char(c);
        if (!pattern->createMatcher(String(&ch, 1))->matches()) continue;
        int last = c;
        while (last + 1 < 256) {
            const char next = char(last + 1);
            if (!pattern->createMatcher(String(&next, 1))->matches()) break;
            ++last;
        }
        auto name = [](int b) { return b > 32 && b < 127 ? std::string(1, char(b)) : "#" + std::to_string(b); };
        out += (out.empty() ? "" : " ") + name(c) + (last > c ? "-" + name(last) : "");
        c = last;
    }
    return out;
}

TEST(PatternTest, ClassesAndEscapesTakeTheirBytes) {
    struct {
        const char* text;
        int flags;
        const char* bytes;
    } const classes[] = {
        {"[a-c[x-z]]", 0, "a-c x-z"},
        {"[a-z&&[^aeiou]]", 0, "b-d f-h j-n p-t v-z"},
        {"[^a]", 0, "#0-` b-#255"},
        {"[a&b]", 0, "& a-b"},
        {"[\\d_]", 0, "0-9 _"},
        {"[\\D&&[0-b]]", 0, ":-b"},
        {"[\\x41-\\x43]", 0, "A-C"},
        {"[\\0101\\t]", 0, "#9 A"},
        {"[\\xff-\\x01]", 0, "#0-#1 #255"},
        {"[^\\n]", 0, "#0-#9 #11-#255"},
        {"[A-C]", Pattern::CaseInsensitive, "A-C a-c"},
        {"[^a]", Pattern::CaseInsensitive, "#0-@ B-` b-#255"},
        {"\\s", 0, "#9-#10 #12-#13 #32"},
        {"\\W", 0, "#0-/ :-@ [-^ ` {-#255"},
        {"\\w", Pattern::CaseInsensitive, "0-9 A-Z _ a-z"},
        {"\\p{Lower}", 0, "a-z"},
        {"\\p{Upper}", 0, "A-Z"},
        {"\\p{Alpha}", 0, "A-Z a-z"},
        {"\\p{Alnum}", 0, "0-9 A-Z a-z"},
        {"\\p{Punct}", 0, "!-/ :-@ [-` {-~"},
        {"\\p{Graph}", 0, "!-~"},
        {"\\p{Print}", 0, "!-~"},
        {"\\p{Blank}", 0, "#9 #32"},
        {"\\p{Space}", 0, "#9-#13 #32"},
        {"\\p{Cntrl}", 0, "#0-#31 #127"},
        {"\\p{ASCII}", 0, "#0-#127"},
        {"\\p{XDigit}", 0, "0-9 A-F a-f"},
        {"\\P{Digit}", 0, "#0-/ :-#255"},
        {".", 0, "#0-#9 #11-#12 #14-#255"},
        {"\\a", 0, "#7"},
        {"\\e", 0, "#13"},
        {"\\f", 0, "#12"},
        {"\\0377", 0, "#255"},
        {"\\047", 0, "'"},
        {"\\xfF", 0, "#255"},
        {"\\m", 0, "m"},
        {"\\.", 0, "."},
    };
    for (const auto& c : classes) EXPECT_EQ(acceptedBytes(c.text, c.flags), c.bytes) << c.text;
}

TEST(PatternTest, NodesOwnedAndReachable) {
    gc::Pointer<Pattern> pattern = Pattern::compile("^(a|b(?=c))*?[x-z]+\\1(?>d)(?<=e)");
    ASSERT_TRUE(pattern);
    std::set<const Node*> reachable;
    pattern->head()->collect(reachable);
    const std::set<const Node*> owned(pattern->nodes().begin(), pattern->nodes().end());
    EXPECT_EQ(reachable, owned);
    EXPECT_STREQ(pattern->className(), "regex.Pattern");
    EXPECT_STREQ(pattern->ownMatcher()->className(), "regex.Matcher");
}

class MemberReader : public IConfReader {
public:
    explicit MemberReader(const char* text) : m_text(text) {}
    bool hasMember(const String& name) override { return name == "regex"_s && m_text; }
    IConfReader& member(const String&) override { return *this; }
    uint32_t memberCount(const String& name) override { return hasMember(name); }
    IConfReader& member(const String&, uint32_t) override { return *this; }
    int32_t readInt() override { return 0; }
    bool readBool() override { return false; }
    String readString() override { return String(m_text); }

private:
    const char* m_text;
};

class MemberWriter : public IConfWriter {
public:
    IConfWriter& member(const String& name) override {
        names += std::string(name.view()) + ";";
        return *this;
    }
    void writeInt(int32_t) override {}
    void writeBool(bool) override {}
    void writeString(const String& value) override { values += std::string(value.view()) + ";"; }
    std::string names, values;
};

TEST(PatternTest, ConfigurationHoldsTheText) {
    gc::Pointer<Pattern> pattern = Pattern::compile("A", Pattern::CaseInsensitive);
    MemberWriter writer;
    pattern->saveConf(writer);
    EXPECT_EQ(writer.names, "regex;");
    EXPECT_EQ(writer.values, "A;");

    MemberReader reader("(b)c");
    pattern->loadConf(reader);
    EXPECT_EQ(std::string(pattern->text().view()), "(b)c");
    EXPECT_EQ(pattern->flags(), 0);  // reloaded with no flags
    EXPECT_EQ(pattern->groupCount(), 2);
    EXPECT_FALSE(pattern->createMatcher("BC"_s)->matches());
    EXPECT_TRUE(pattern->createMatcher("bc"_s)->matches());

    MemberReader absent(nullptr);
    pattern->loadConf(absent);
    EXPECT_EQ(std::string(pattern->text().view()), "(b)c");

    MemberReader bad("(b");
    EXPECT_THROW(pattern->loadConf(bad), EPatternSyntax);
    EXPECT_EQ(std::string(pattern->text().view()), "(b)c");
    EXPECT_TRUE(pattern->createMatcher("bc"_s)->matches());
}

// Positional form: the text and the flags.
class Bytes : public IArchive {
public:
    void write(const void* data, uint32_t count) override { stored.append(static_cast<const char*>(data), count); }
    void read(void* buffer, uint32_t count) override {
        ASSERT_LE(position + count, stored.size());
        stored.copy(static_cast<char*>(buffer), count, position);
        position += count;
    }
    std::string stored;
    size_t position = 0;
};

TEST(PatternTest, StreamHoldsTextAndFlags) {
    Bytes archive;
    Pattern::compile("a.B", Pattern::CaseInsensitive | Pattern::DotAll)->saveStream(archive);
    gc::Pointer<Pattern> pattern = Pattern::compile("x");
    pattern->loadStream(archive);
    EXPECT_EQ(std::string(pattern->text().view()), "a.B");
    EXPECT_EQ(pattern->flags(), Pattern::CaseInsensitive | Pattern::DotAll);
    EXPECT_TRUE(pattern->createMatcher("A\nb"_s)->matches());
}

}  // namespace
