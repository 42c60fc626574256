// A second matcher over the same node graph, written as the plain recursive
// rules (one call per node, one nesting level per repetition): the model the
// engine's stack machine must agree with on subjects short enough to
// recurse over. Used by the tests and the fuzz target.
#pragma once

#include "regex/node.h"
#include "regex/pattern.h"

#include <cstring>
#include <string>
#include <vector>

namespace trivane::regex::model {

class ReferenceMatcher {
public:
    ReferenceMatcher(const Pattern& pattern, std::string subject)
        : m_head(pattern.head()), m_subject(std::move(subject)), m_length(int(m_subject.size())),
          m_groups(pattern.groupCount()), m_offset(pattern.nonCapturingGroupCount()) {
        const size_t slots = size_t(m_groups + m_offset);
        m_start.assign(slots, -1);
        m_end.assign(slots, -1);
        m_count.assign(slots, -1);
        m_loopStart.assign(slots, -1);
        m_mark.assign(slots, -1);
    }

    bool matches() {
        m_whole = true;
        prepare();
        const bool success = m(m_head, 0) == m_length;
        if (!success) reset();
        return success;
    }
    bool search() {
        m_whole = false;
        prepare();
        const int end = m(m_head, 0);
        end0() = end;
        if (end < 0) reset();
        return end >= 0;
    }
    int start(int n) const { return m_start[size_t(n + m_offset)]; }
    int end(int n) const { return m_end[size_t(n + m_offset)]; }

private:
    int& start0() { return m_start[size_t(m_offset)]; }
    int& end0() { return m_end[size_t(m_offset)]; }
    int& at(std::vector<int>& v, int i) { return v[size_t(i + m_offset)]; }
    uint8_t byte(int pos) const { return uint8_t(m_subject[size_t(pos)]); }

    void prepare() {
        reset();
        start0() = 0;
    }
    void reset() {
        for (int i = 0; i < m_groups; ++i) at(m_start, i) = at(m_end, i) = at(m_count, i) = -1;
        for (int i = -m_offset; i < 0; ++i) at(m_count, i) = -1;
    }
    static bool letter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool lineBreak(uint8_t c) { return c == '\n' || c == '\r'; }

    int m(const Node* node, int pos) {
        const Node* next = node->m_next;
        switch (node->kind()) {
        case NodeKind::Start:
            start0() = pos;
            if (m_whole) {
                if (pos != 0) return start0() = -1;
                return m(next, 0);
            }
            for (;;) {
                const int r = m(next, pos);
                if (r != -1) return r;
                if (pos >= m_length) break;
                reset();
                start0() = ++pos;
            }
            start0() = -1;
            return -1;
        case NodeKind::End:
            end0() = pos;
            if (m_whole && pos != m_length) return end0() = -1;
            return pos;
        case NodeKind::SubStart:
            return m(next, pos);
        case NodeKind::Accept:
            return next ? m(next, pos) : pos;
        case NodeKind::Char:
            return pos < m_length && byte(pos) == static_cast<const CharNode*>(node)->m_char ? m(next, pos + 1) : -1;
        case NodeKind::CIChar:
            return pos < m_length && lower(byte(pos)) == static_cast<const CICharNode*>(node)->m_char ? m(next, pos + 1)
                                                                                                     : -1;
        case NodeKind::Class: {
            const ClassNode* c = static_cast<const ClassNode*>(node);
            return pos < m_length && c->m_set.contains(byte(pos)) != c->m_inverted ? m(next, pos + 1) : -1;
        }
        case NodeKind::CIClass: {
            const CIClassNode* c = static_cast<const CIClassNode*>(node);
            return pos < m_length && c->m_set.contains(lower(byte(pos))) != c->m_inverted ? m(next, pos + 1) : -1;
        }
        case NodeKind::Quote: {
            const String& t = static_cast<const QuoteNode*>(node)->m_text;
            const int n = int(t.length());
            return pos + n <= m_length && m_subject.compare(size_t(pos), size_t(n), t.data(), size_t(n)) == 0
                       ? m(next, pos + n)
                       : -1;
        }
        case NodeKind::CIQuote: {
            const String& t = static_cast<const CIQuoteNode*>(node)->m_text;
            const int n = int(t.length());
            if (pos + n > m_length) return -1;
            for (int i = 0; i < n; ++i)
                if (lower(byte(pos + i)) != lower(uint8_t(t.data()[i]))) return -1;
            return m(next, pos + n);
        }
        case NodeKind::StartOfInput:
            return pos == 0 ? m(next, 0) : -1;
        case NodeKind::EndOfInput: {
            bool ok = pos == m_length;
            if (static_cast<const EndOfInputNode*>(node)->m_terminatorAllowed)
                ok = ok || (pos == m_length - 1 && lineBreak(byte(pos))) ||
                     (pos == m_length - 2 && byte(pos) == '\r' && byte(pos + 1) == '\n');
            return ok ? m(next, pos) : -1;
        }
        case NodeKind::StartOfLine:
            return pos == 0 || lineBreak(byte(pos - 1)) ? m(next, pos) : -1;
        case NodeKind::EndOfLine:
            return pos == m_length || lineBreak(byte(pos)) ? m(next, pos) : -1;
        case NodeKind::WordBoundary: {
            if (pos == m_length) return m(next, pos);
            const bool l = pos > 0 && letter(byte(pos - 1)), r = letter(byte(pos));
            return (l != r) == static_cast<const WordBoundaryNode*>(node)->m_positive ? m(next, pos) : -1;
        }
        case NodeKind::EndOfMatch:
            return pos == 0 ? m(next, pos) : -1;
        case NodeKind::Reference: {
            const int n = static_cast<const ReferenceNode*>(node)->m_group;
            if (n > 0 && n < m_groups && at(m_start, n) >= 0 && at(m_end, n) > at(m_start, n)) {
                const int s = at(m_start, n), count = at(m_end, n) - s;
                if (pos + count > m_length || m_subject.compare(size_t(pos), size_t(count), m_subject, size_t(s), size_t(count)) != 0)
                    return -1;
                return m(next, pos + count);
            }
            return m(next, pos);
        }
        case NodeKind::GroupHead: {
            const int i = static_cast<const GroupHeadNode*>(node)->m_group;
            const int old = at(m_start, i);
            at(m_start, i) = pos;
            const int r = m(next, pos);
            if (r == -1) at(m_start, i) = old;
            return r;
        }
        case NodeKind::GroupTail: {
            const int i = static_cast<const GroupTailNode*>(node)->m_group;
            const int old = at(m_end, i);
            at(m_end, i) = pos;
            const int r = m(next, pos);
            if (r == -1) at(m_end, i) = old;
            return r;
        }
        case NodeKind::GroupLoopPrologue: {
            const int i = static_cast<const GroupLoopPrologueNode*>(node)->m_group;
            const int c = at(m_count, i), k = at(m_mark, i), s = at(m_loopStart, i);
            at(m_count, i) = 0;
            at(m_mark, i) = 0;
            at(m_loopStart, i) = -1;
            const int r = m(next, pos);
            if (r == -1) at(m_count, i) = c, at(m_mark, i) = k, at(m_loopStart, i) = s;
            return r;
        }
        case NodeKind::GroupLoop:
            return loop(static_cast<const GroupLoopNode*>(node), pos);
        case NodeKind::Or: {
            const OrNode* o = static_cast<const OrNode*>(node);
            const int b = m(o->m_left, pos);
            if (b != -1) {
                const int r = m(next, b);
                if (r != -1) return r;
            }
            const int c = m(o->m_right, pos);
            return c == -1 ? -1 : m(next, c);
        }
        case NodeKind::LookAhead: {
            const LookAheadNode* a = static_cast<const LookAheadNode*>(node);
            const int b = m(a->m_body, pos);
            if ((b != -1) != a->m_positive) return -1;
            return m(next, pos);
        }
        case NodeKind::LookBehind: {
            const LookBehindNode* l = static_cast<const LookBehindNode*>(node);
            const int n = int(l->m_text.length());
            const bool holds = pos >= n && m_subject.compare(size_t(pos - n), size_t(n), l->m_text.data(), size_t(n)) == 0;
            return holds == l->m_positive ? m(next, pos) : -1;
        }
        case NodeKind::GreedyQuantifier:
        case NodeKind::LazyQuantifier:
        case NodeKind::PossessiveQuantifier:
            return quantifier(static_cast<const QuantifierNode*>(node), pos);
        }
        return -1;
    }

    int quantifier(const QuantifierNode* q, int pos) {
        for (int k = 0; k < q->m_minimum; ++k) {
            const int b = m(q->m_body, pos);
            if (b <= pos) {
                pos = b;
                break;
            }
            pos = b;
        }
        if (pos == -1) return -1;
        int k = q->m_minimum;
        if (q->kind() == NodeKind::GreedyQuantifier) return more(q, pos, k);
        if (q->kind() == NodeKind::LazyQuantifier) {
            while (k < q->m_maximum) {
                const int r = m(q->m_next, pos);
                if (r != -1) return r;
                const int b = m(q->m_body, pos);
                ++k;
                if (b <= pos) return -1;
                pos = b;
            }
            return m(q->m_next, pos);
        }
        while (k < q->m_maximum) {
            const int b = m(q->m_body, pos);
            ++k;
            if (b <= pos) break;
            pos = b;
        }
        return m(q->m_next, pos);
    }

    int more(const QuantifierNode* q, int p, int k) {
        if (k >= q->m_maximum) return m(q->m_next, p);
        const int b = m(q->m_body, p);
        if (b > p) {
            const int r = more(q, b, k + 1);
            if (r != -1) return r;
        }
        return m(q->m_next, p);
    }

    int loop(const GroupLoopNode* g, int pos) {
        const int i = g->m_group;
        int& count = at(m_count, i);
        int& loopStart = at(m_loopStart, i);
        if (loopStart >= pos) return m(g->m_next, pos);
        if (count < g->m_minimum) {
            ++count;
            const int old = loopStart;
            loopStart = pos;
            const int r = m(g->m_body, pos);
            if (r == -1) at(m_loopStart, i) = old, --at(m_count, i);
            return r;
        }
        if (count < g->m_maximum) {
            if (g->m_kind == Lazy) {
                const int r = m(g->m_next, pos);
                if (r != -1) return r;
                const int old = loopStart;
                loopStart = pos;
                ++count;
                const int b = m(g->m_body, pos);
                if (b == -1) --at(m_count, i), at(m_loopStart, i) = old;
                return b;
            }
            if (g->m_kind == Possessive) at(m_mark, i) = count;
            const int old = loopStart;
            loopStart = pos;
            ++count;
            const int r = m(g->m_body, pos);
            if (r != -1) return r;
            --at(m_count, i);
            at(m_loopStart, i) = old;
            if (g->m_kind == Possessive && at(m_count, i) != at(m_mark, i)) return -1;
        }
        return m(g->m_next, pos);
    }

    const Node* m_head;
    std::string m_subject;
    int m_length;
    int m_groups;
    int m_offset;
    bool m_whole = false;
    std::vector<int> m_start, m_end, m_count, m_loopStart, m_mark;
};

}  // namespace trivane::regex::model
