// The pattern compiler: parses a pattern text into a graph of nodes.
#include "regex/pattern.h"

#include "regex/matcher.h"
#include "regex/node.h"

#include <string>
#include <string_view>
#include <vector>

namespace trivane::regex {

namespace {

// A chain of nodes under construction; both null while empty.
struct Seq {
    Node* first = nullptr;
    Node* last = nullptr;
};

void append(Seq& seq, Seq more) {
    if (!more.first) return;
    if (seq.last) seq.last->m_next = more.first;
    else seq.first = more.first;
    seq.last = more.last;
}

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool isOctal(uint8_t c) { return c >= '0' && c <= '7'; }
int hexValue(uint8_t c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

ByteSet setOf(std::string_view chars) {
    ByteSet set;
    for (char c : chars) set.add(uint8_t(c));
    return set;
}

ByteSet rangeOf(int first, int last) {
    ByteSet set;
    for (int c = first; c <= last; ++c) set.add(uint8_t(c));
    return set;
}

ByteSet unionOf(ByteSet a, const ByteSet& b) {
    a.add(b);
    return a;
}

const std::string_view wordChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
const std::string_view spaceChars = " \t\r\n\f";

ByteSet punctuation() {
    ByteSet set;
    for (int c = 0x21; c < 0x7F; ++c)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(uint8_t(c)))) set.add(uint8_t(c));
    return set;
}

// The POSIX class of that name (braces included); false for an unknown name.
bool posixClass(std::string_view name, ByteSet& set) {
    const ByteSet lowerCase = rangeOf('a', 'z'), upperCase = rangeOf('A', 'Z'), digits = rangeOf('0', '9');
    const ByteSet alnum = unionOf(unionOf(lowerCase, upperCase), digits);
    if (name == "{Lower}") set = lowerCase;
    else if (name == "{Upper}") set = upperCase;
    else if (name == "{Alpha}") set = unionOf(lowerCase, upperCase);
    else if (name == "{Digit}") set = digits;
    else if (name == "{Alnum}") set = alnum;
    else if (name == "{Punct}") set = punctuation();
    else if (name == "{Graph}" || name == "{Print}") set = unionOf(alnum, punctuation());
    else if (name == "{Blank}") set = setOf(" \t");
    else if (name == "{Space}") set = setOf(" \t\n\v\f\r");
    else if (name == "{Cntrl}") set = unionOf(rangeOf(0, 31), rangeOf(127, 127));
    else if (name == "{ASCII}") set = rangeOf(0, 127);
    else if (name == "{XDigit}") set = setOf("abcdefABCDEF0123456789");
    else return false;
    return true;
}

// What an escape that is neither an anchor nor a reference stands for: one
// character, or a set that may be negated.
struct EscapeValue {
    bool single = false;
    uint8_t character = 0;
    ByteSet set;
    bool negated = false;
};

}  // namespace

// Recursive descent over the pattern text, one level per group or bracket
// class (bounded by MaxNesting); alternatives and atoms are read in loops.
// Every function returns false once the pattern's error flag is set.
class Parser {
public:
    explicit Parser(Pattern& pattern)
        : m_pattern(pattern), m_text(reinterpret_cast<const uint8_t*>(pattern.m_text.data())),
          m_length(pattern.m_text.length()), m_pos(pattern.m_position) {}

    bool parse() {
        m_pattern.m_groupCount = 1;  // group 0, the whole match
        if (m_pattern.m_flags & Pattern::Literal) {
            Node* quote = caseInsensitive() ? static_cast<Node*>(make<CIQuoteNode>(m_pattern.m_text))
                                            : make<QuoteNode>(m_pattern.m_text);
            Node* start = make<StartNode>();
            start->m_next = quote;
            quote->m_next = make<EndNode>();
            m_pattern.m_head = start;
            return true;
        }
        Seq content;
        if (!parseAlternatives(false, content)) return false;
        Seq graph;
        if (!(content.first && content.first->startsAtInputStart())) {
            append(graph, single(make<StartNode>()));
            append(graph, single(make<SubStartNode>()));
        }
        append(graph, content);
        append(graph, single(make<EndNode>()));
        m_pattern.m_head = graph.first;
        return true;
    }

private:
    static Seq single(Node* node) { return Seq{node, node}; }

    bool fail() {
        m_pattern.m_error = true;
        return false;
    }
    bool atEnd() const { return m_pos >= m_length; }
    bool caseInsensitive() const { return m_pattern.m_flags & Pattern::CaseInsensitive; }

    template <class T, class... Args>
    T* make(Args&&... args) {
        return m_pattern.make<T>(std::forward<Args>(args)...);
    }

    // Alternatives separated by "|" up to the end of the text or, in a
    // group, up to its ")" (left unread). Several alternatives nest to the
    // right, a | (b | c), each running from a SubStartNode to its own
    // AcceptNode.
    bool parseAlternatives(bool inGroup, Seq& out) {
        std::vector<Seq> alternatives;
        for (;;) {
            Seq seq;
            if (!parseSequence(inGroup, seq)) return false;
            alternatives.push_back(seq);
            if (atEnd() || m_text[m_pos] != '|') break;
            ++m_pos;
        }
        if (alternatives.size() == 1) {
            out = alternatives[0];
            return true;
        }
        Node* right = bodyOf(alternatives.back());
        for (size_t i = alternatives.size() - 1; i-- > 0;) {
            OrNode* alternation = make<OrNode>(bodyOf(alternatives[i]), right);
            if (i == 0) {
                out = single(alternation);
            } else {
                alternation->m_next = make<AcceptNode>();
                right = alternation;
            }
        }
        return true;
    }

    // SubStartNode, the chain, AcceptNode: a body that hands back its end.
    Node* bodyOf(Seq seq) {
        Seq body = single(make<SubStartNode>());
        append(body, seq);
        append(body, single(make<AcceptNode>()));
        return body.first;
    }

    bool parseSequence(bool inGroup, Seq& seq) {
        while (!atEnd()) {
            const uint8_t c = m_text[m_pos];
            switch (c) {
            case '|':
                return true;
            case ')':
                return inGroup ? true : fail();
            case '*':
            case '+':
            case '?':
            case ']':
            case '}':
            case '{':
                return fail();
            case '(': {
                ++m_pos;
                Seq group;
                if (!parseGroup(group)) return false;
                append(seq, group);
                break;
            }
            default: {
                Node* atom = nullptr;
                if (!parseAtom(atom)) return false;
                Node* quantified = nullptr;
                if (!quantify(atom, quantified)) return false;
                append(seq, single(quantified));
            }
            }
        }
        return inGroup ? fail() : true;
    }

    bool parseAtom(Node*& atom) {
        const int flags = m_pattern.m_flags;
        const uint8_t c = m_text[m_pos++];
        switch (c) {
        case '$':
            atom = (flags & Pattern::MultiLine) ? static_cast<Node*>(make<EndOfLineNode>()) : make<EndOfInputNode>(false);
            return true;
        case '^':
            atom = (flags & Pattern::MultiLine) ? static_cast<Node*>(make<StartOfLineNode>()) : make<StartOfInputNode>();
            return true;
        case '.': {
            ByteSet excluded;
            if (!(flags & Pattern::DotAll)) {
                excluded.add('\n');
                if (!(flags & Pattern::UnixLines)) excluded.add('\r');
            }
            atom = make<ClassNode>(excluded, true);
            return true;
        }
        case '[': {
            ByteSet set;
            bool negated = false;
            if (!parseClass(set, negated)) return false;
            if (caseInsensitive()) {
                atom = make<CIClassNode>(set.lowered(), negated);
            } else {
                if (negated) set.invert();
                atom = make<ClassNode>(set, false);
            }
            return true;
        }
        case '\\':
            return parseEscape(atom);
        default:
            atom = caseInsensitive() ? static_cast<Node*>(make<CICharNode>(c)) : make<CharNode>(c);
            return true;
        }
    }

    // After a backslash outside a bracket class.
    bool parseEscape(Node*& atom) {
        if (atEnd()) return fail();
        const uint8_t e = m_text[m_pos];
        if (e >= '1' && e <= '9') {
            ++m_pos;
            int64_t number = e - '0';
            while (!atEnd() && isDigit(m_text[m_pos]) && number * 10 + (m_text[m_pos] - '0') < m_pattern.m_groupCount) {
                number = number * 10 + (m_text[m_pos] - '0');
                ++m_pos;
            }
            atom = make<ReferenceNode>(int(number));
            return true;
        }
        switch (e) {
        case 'A':
            ++m_pos;
            atom = make<StartOfInputNode>();
            return true;
        case 'z':
        case 'Z':
            ++m_pos;
            atom = make<EndOfInputNode>(e == 'Z');
            return true;
        case 'b':
        case 'B':
            ++m_pos;
            atom = make<WordBoundaryNode>(e == 'b');
            return true;
        case 'G':
            ++m_pos;
            atom = make<EndOfMatchNode>();
            return true;
        case 'Q':
            ++m_pos;
            return parseQuote(atom);
        default:
            break;
        }
        EscapeValue value;
        if (!parseEscapeValue(value)) return false;
        if (value.single) atom = make<CharNode>(value.character);
        else if (caseInsensitive()) atom = make<CIClassNode>(value.set.lowered(), value.negated);
        else atom = make<ClassNode>(value.set, value.negated);
        return true;
    }

    // "\Q" ... "\E"; a backslash takes the next character literally.
    bool parseQuote(Node*& atom) {
        std::string text;
        for (;;) {
            if (atEnd()) return fail();
            const uint8_t c = m_text[m_pos];
            if (c == '\\') {
                if (m_pos + 1 >= m_length) return fail();
                const uint8_t next = m_text[m_pos + 1];
                m_pos += 2;
                if (next == 'E') break;
                text.push_back(char(next));
            } else {
                text.push_back(char(c));
                ++m_pos;
            }
        }
        String quoted;
        quoted.append(text.data(), uint32_t(text.size()));
        atom = caseInsensitive() ? static_cast<Node*>(make<CIQuoteNode>(quoted)) : make<QuoteNode>(quoted);
        return true;
    }

    // The escapes that give a character or a set, at the character after
    // the backslash.
    bool parseEscapeValue(EscapeValue& value) {
        const uint8_t e = m_text[m_pos++];
        auto character = [&](int c) {
            value.single = true;
            value.character = uint8_t(c);
            return true;
        };
        auto set = [&](const ByteSet& s, bool negated) {
            value.set = s;
            value.negated = negated;
            return true;
        };
        switch (e) {
        case 'd':
        case 'D':
            return set(rangeOf('0', '9'), e == 'D');
        case 's':
        case 'S':
            return set(setOf(spaceChars), e == 'S');
        case 'w':
        case 'W':
            return set(setOf(wordChars), e == 'W');
        case 'p':
        case 'P': {
            if (atEnd() || m_text[m_pos] != '{') return fail();
            uint32_t close = m_pos;
            while (close < m_length && m_text[close] != '}') ++close;
            if (close >= m_length) return fail();
            ByteSet s;
            if (!posixClass(std::string_view(reinterpret_cast<const char*>(m_text) + m_pos, close + 1 - m_pos), s))
                return fail();
            m_pos = close + 1;
            return set(s, e == 'P');
        }
        case '0': {
            if (m_pos + 1 >= m_length || !isOctal(m_text[m_pos]) || !isOctal(m_text[m_pos + 1])) return fail();
            int code = (m_text[m_pos] - '0') * 8 + (m_text[m_pos + 1] - '0');
            const bool threeDigits = m_text[m_pos] <= '3' && m_pos + 2 < m_length && isOctal(m_text[m_pos + 2]);
            if (threeDigits) code = code * 8 + (m_text[m_pos + 2] - '0');
            m_pos += threeDigits ? 3 : 2;
            return character(code);
        }
        case 'x': {
            if (m_pos + 1 < m_length && hexValue(m_text[m_pos]) >= 0 && hexValue(m_text[m_pos + 1]) >= 0) {
                const int code = hexValue(m_text[m_pos]) * 16 + hexValue(m_text[m_pos + 1]);
                m_pos += 2;
                return character(code);
            }
            return character(' ');
        }
        case 'a':
            return character(7);
        case 't':
            return character(9);
        case 'n':
            return character(10);
        case 'f':
            return character(12);
        case 'r':
        case 'e':
            return character(13);
        default:
            return character(e);
        }
    }

    // After "[": the class's set before its own "^" is applied, and whether
    // it is negated. Nested classes are combined already resolved.
    bool parseClass(ByteSet& set, bool& negated) {
        if (++m_depth > Pattern::MaxNesting) return fail();
        negated = false;
        if (!atEnd() && m_text[m_pos] == '^') {
            negated = true;
            ++m_pos;
        }
        for (;;) {
            if (atEnd()) return fail();
            const uint8_t c = m_text[m_pos];
            if (c == ']') {
                ++m_pos;
                break;
            }
            if (c == '[' || (c == '&' && m_pos + 1 < m_length && m_text[m_pos + 1] == '&')) {
                const bool intersection = c == '&';
                if (intersection) {
                    if (m_pos + 2 >= m_length || m_text[m_pos + 2] != '[') return fail();
                    m_pos += 2;
                }
                ++m_pos;
                ByteSet nested;
                bool nestedNegated = false;
                if (!parseClass(nested, nestedNegated)) return false;
                if (nestedNegated) nested.invert();
                if (intersection) set.intersect(nested);
                else set.add(nested);
                continue;
            }
            if (c == '-') return fail();
            uint8_t first = c;
            if (c == '\\') {
                EscapeValue value;
                if (!parseClassEscape(value)) return false;
                if (!value.single) {
                    if (value.negated) value.set.invert();
                    set.add(value.set);
                    continue;
                }
                first = value.character;
            } else {
                ++m_pos;
            }
            if (atEnd() || m_text[m_pos] != '-') {
                set.add(first);
                continue;
            }
            ++m_pos;
            if (atEnd()) return fail();
            uint8_t last = m_text[m_pos];
            if (last == '&' || last == '-' || last == '[' || last == ']') return fail();
            if (last == '\\') {
                EscapeValue value;
                if (!parseClassEscape(value)) return false;
                if (!value.single) return fail();
                last = value.character;
            } else {
                ++m_pos;
            }
            // Counts upward and wraps from 255 to 0 when the last is below
            // the first.
            for (uint8_t b = first;; ++b) {
                set.add(b);
                if (b == last) break;
            }
        }
        --m_depth;
        return true;
    }

    // At a backslash inside a bracket class.
    bool parseClassEscape(EscapeValue& value) {
        ++m_pos;
        if (atEnd() || m_text[m_pos] == 'Q') return fail();
        return parseEscapeValue(value);
    }

    // After "(".
    bool parseGroup(Seq& out) {
        if (++m_depth > Pattern::MaxNesting) return fail();
        bool done = false;
        if (atEnd() || m_text[m_pos] != '?') {
            done = parseGroupBody(m_pattern.m_groupCount++, out);
        } else {
            ++m_pos;
            const uint8_t kind = atEnd() ? 0 : m_text[m_pos++];
            if (kind == ':') {
                done = parseGroupBody(-++m_pattern.m_nonCapturingCount, out);
            } else if (kind == '=' || kind == '!') {
                Node* body = nullptr;
                done = parseBody(body);
                if (done) out = single(make<LookAheadNode>(kind == '=', body));
            } else if (kind == '>') {
                Node* body = nullptr;
                done = parseBody(body);
                if (done) out = single(make<PossessiveQuantifierNode>(1, 1, body));
            } else if (kind == '<' && !atEnd() && (m_text[m_pos] == '=' || m_text[m_pos] == '!')) {
                const bool positive = m_text[m_pos++] == '=';
                String text;
                done = parseLookBehindText(text);
                if (done) out = single(make<LookBehindNode>(positive, text));
            } else {
                return fail();
            }
        }
        --m_depth;
        return done;
    }

    // A capturing or non-capturing group up to its ")" and its quantifier.
    // The head stays in front of the alternatives, so that the group's start
    // is set whichever alternative matches and a repeated group's body runs
    // through its tail.
    bool parseGroupBody(int index, Seq& out) {
        Seq content;
        if (!parseAlternatives(true, content)) return false;
        ++m_pos;  // the ")"
        Node* head = make<GroupHeadNode>(index);
        Node* tail = make<GroupTailNode>(index);
        Seq group = single(head);
        append(group, content);
        append(group, single(tail));
        Quantifier q;
        if (!parseQuantifier(q)) return false;
        if (!q.present) {
            out = group;
            return true;
        }
        Node* prologue = make<GroupLoopPrologueNode>(index);
        Node* loop = make<GroupLoopNode>(index, q.minimum, q.maximum, q.kind, head);
        prologue->m_next = loop;
        tail->m_next = loop;
        out = Seq{prologue, loop};
        return true;
    }

    // A lookahead or atomic body up to its ")".
    bool parseBody(Node*& body) {
        Seq content;
        if (!parseAlternatives(true, content)) return false;
        ++m_pos;
        body = bodyOf(content);
        return true;
    }

    // The literal text up to the next ")"; a backslash takes the next
    // character literally.
    bool parseLookBehindText(String& out) {
        std::string text;
        for (;;) {
            if (atEnd()) return fail();
            uint8_t c = m_text[m_pos++];
            if (c == ')') break;
            if (c == '\\') {
                if (atEnd()) return fail();
                c = m_text[m_pos++];
            }
            text.push_back(char(c));
        }
        out.append(text.data(), uint32_t(text.size()));
        return true;
    }

    struct Quantifier {
        bool present = false;
        int minimum = 0;
        int maximum = 0;
        int kind = Greedy;
    };

    bool parseQuantifier(Quantifier& q) {
        if (atEnd()) return true;
        switch (m_text[m_pos]) {
        case '*':
            q = {true, 0, Unbounded, Greedy};
            ++m_pos;
            break;
        case '+':
            q = {true, 1, Unbounded, Greedy};
            ++m_pos;
            break;
        case '?':
            q = {true, 0, 1, Greedy};
            ++m_pos;
            break;
        case '{':
            if (!parseBounds(q)) return false;
            break;
        default:
            return true;
        }
        if (!atEnd() && m_text[m_pos] == '+') {
            q.kind = Possessive;
            ++m_pos;
        } else if (!atEnd() && m_text[m_pos] == '?') {
            q.kind = Lazy;
            ++m_pos;
        }
        return true;
    }

    // "{m}", "{m,}", "{,n}", "{m,n}", "{,}" or "{}"; numbers saturate at
    // the unbounded maximum.
    bool parseBounds(Quantifier& q) {
        uint32_t p = m_pos + 1;
        auto number = [&](int& value) {
            const uint32_t from = p;
            int64_t n = 0;
            for (; p < m_length && isDigit(m_text[p]); ++p) {
                n = n * 10 + (m_text[p] - '0');
                if (n > Unbounded) n = Unbounded;
            }
            value = int(n);
            return p > from;
        };
        int m = 0, n = 0;
        const bool hasMinimum = number(m);
        const bool comma = p < m_length && m_text[p] == ',';
        if (comma) ++p;
        const bool hasMaximum = comma && number(n);
        if (p >= m_length || m_text[p] != '}') return fail();
        m_pos = p + 1;
        q.present = true;
        q.kind = Greedy;
        q.minimum = m;
        q.maximum = comma ? (hasMaximum ? n : Unbounded) : (hasMinimum ? m : 0);
        return true;
    }

    // The atom-quantifier rule: the atom alone, or a quantifier node over
    // the atom and its own AcceptNode.
    bool quantify(Node* atom, Node*& result) {
        Quantifier q;
        if (!parseQuantifier(q)) return false;
        if (!q.present) {
            result = atom;
            return true;
        }
        atom->m_next = make<AcceptNode>();
        if (q.kind == Greedy) result = make<GreedyQuantifierNode>(q.minimum, q.maximum, atom);
        else if (q.kind == Lazy) result = make<LazyQuantifierNode>(q.minimum, q.maximum, atom);
        else result = make<PossessiveQuantifierNode>(q.minimum, q.maximum, atom);
        return true;
    }

    Pattern& m_pattern;
    const uint8_t* m_text;
    uint32_t m_length;
    uint32_t& m_pos;
    int m_depth = 0;
};

template <class T, class... Args>
T* Pattern::make(Args&&... args) {
    T* node = new T(std::forward<Args>(args)...);
    try {
        m_nodes.append(node);
    } catch (...) {
        delete node;
        throw;
    }
    return node;
}

gc::Pointer<Pattern> Pattern::compile(const String& text, int flags) {
    gc::Pointer<Pattern> pattern(new Pattern());
    if (!pattern->build(text, flags)) return nullptr;
    return pattern;
}

bool Pattern::build(const String& text, int flags) {
    m_text = text;
    m_flags = flags;
    m_position = 0;
    m_groupCount = 0;
    m_nonCapturingCount = 0;
    m_error = false;
    Parser parser(*this);
    if (!parser.parse()) return false;
    linkLiteralRuns();
    m_matcher = new Matcher(this, String());
    return true;
}

// Gives each CharNode the text of the literal run it starts, so that the
// matcher compares a run at once; every CharNode is visited once.
void Pattern::linkLiteralRuns() {
    std::vector<CharNode*> chain;
    std::string bytes;
    for (Node* node : m_nodes) {
        if (node->kind() != NodeKind::Char || static_cast<CharNode*>(node)->m_afterRun) continue;
        chain.clear();
        bytes.clear();
        const Node* after = node;
        while (after && after->kind() == NodeKind::Char && !static_cast<const CharNode*>(after)->m_afterRun) {
            CharNode* c = static_cast<CharNode*>(const_cast<Node*>(after));
            chain.push_back(c);
            bytes.push_back(char(c->m_char));
            after = c->m_next;
        }
        String run;
        run.append(bytes.data(), uint32_t(bytes.size()));
        if (after && after->kind() == NodeKind::Char) {
            const CharNode* known = static_cast<const CharNode*>(after);
            run.append(known->m_run);
            after = known->m_afterRun;
        }
        for (size_t i = 0; i < chain.size(); ++i) {
            chain[i]->m_run = run.mid(uint32_t(i));
            chain[i]->m_afterRun = after;
        }
    }
}

Pattern::~Pattern() { destroyGraph(); }

void Pattern::destroyGraph() noexcept {
    m_matcher.reset();
    for (Node* node : m_nodes) delete node;
    m_nodes.clear();
    m_head = nullptr;
}

gc::Pointer<Matcher> Pattern::createMatcher(const String& subject) { return new Matcher(this, subject); }

void Pattern::replaceWith(Pattern& other) {
    destroyGraph();
    m_nodes = other.m_nodes;
    other.m_nodes.clear();
    m_head = other.m_head;
    m_text = other.m_text;
    m_flags = other.m_flags;
    m_groupCount = other.m_groupCount;
    m_nonCapturingCount = other.m_nonCapturingCount;
    m_position = other.m_position;
    m_error = false;
    m_matcher = new Matcher(this, String());
}

void Pattern::loadConf(IConfReader& reader) {
    if (!reader.hasMember("regex"_s)) return;
    gc::Pointer<Pattern> fresh = compile(reader.member("regex"_s).readString(), 0);
    if (!fresh) TRIVANE_THROW(EPatternSyntax);
    replaceWith(*fresh);
}

void Pattern::saveConf(IConfWriter& writer) { writer.member("regex"_s).writeString(m_text); }

void Pattern::loadStream(IReader& reader) {
    const String text = reader.readString();
    const int flags = reader.readInt32();
    gc::Pointer<Pattern> fresh = compile(text, flags);
    if (!fresh) TRIVANE_THROW(EPatternSyntax);
    replaceWith(*fresh);
}

void Pattern::saveStream(IWriter& writer) {
    writer.writeString(m_text);
    writer.writeInt32(m_flags);
}

}  // namespace trivane::regex
