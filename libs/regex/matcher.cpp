// The matching machine: the node rules of a recursive backtracking matcher,
// with every open call that still has work to do kept as a frame on a heap
// stack instead of the machine stack.
//
// A node either fails, or goes on to its successor and passes the final
// result back unchanged. Nodes that act when their continuation fails
// (restore a group, try the other alternative, give back a repetition) push
// a "continuation frame". Sub-expressions that run to their own AcceptNode
// and hand back one end position (alternatives, lookahead bodies, quantified
// atoms) push a "body frame": when the body succeeds, every frame pushed
// inside it is dropped unrun, exactly as the finished calls of a recursive
// matcher are gone, so other ways of matching inside the body are never
// tried.
#include "regex/matcher.h"

#include "regex/node.h"
#include "regex/pattern.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace trivane::regex {

namespace {

enum FrameType : uint8_t {
    // Body frames: they receive the body's end position.
    OrLeft,
    OrRight,
    LookBody,
    MinimumBody,
    GreedyBody,
    LazyBody,
    PossessiveBody,
    // Continuation frames: success passes through them.
    StartRetry,
    RestoreStart,
    RestoreEnd,
    RestoreLoop,
    LoopIteration,
    LoopGreedyIteration,
    LoopLazyNext,
    LoopPossessiveIteration,
    OrNext,
    GreedyNext,
    LazyNext,
    GreedyRun,
    LazyRun,
};

constexpr bool isBody(uint8_t type) { return type <= PossessiveBody; }

bool isLineBreak(uint8_t c) { return c == '\n' || c == '\r'; }
bool isLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

Matcher::Matcher(Pattern* pattern, const String& subject)
    : m_pattern(pattern), m_subject(subject), m_data(reinterpret_cast<const uint8_t*>(m_subject.data())),
      m_length(int(subject.length())) {
    TRIVANE_ASSERT(subject.length() <= uint32_t(Unbounded));
    allocateGroups();
    for (int i = 0; i < m_groupCount; ++i) m_groupStart[i] = m_groupEnd[i] = 0;
}

void Matcher::allocateGroups() {
    m_groupCount = m_pattern->groupCount();
    m_nonCapturingCount = m_pattern->nonCapturingGroupCount();
    const int slots = m_groupCount + m_nonCapturingCount;
    int* arrays = m_inlineArrays;
    if (size_t(slots) * 5 > std::size(m_inlineArrays)) {
        m_arrays.assign(size_t(slots) * 5, -1);
        arrays = m_arrays.data();
    } else {
        std::fill(std::begin(m_inlineArrays), std::end(m_inlineArrays), -1);
    }
    int* base = arrays + m_nonCapturingCount;
    m_groupStart = base;
    m_groupEnd = base + slots;
    m_loopCount = base + 2 * slots;
    m_loopStart = base + 3 * slots;
    m_possessiveMark = base + 4 * slots;
}

void Matcher::FrameStack::grow() {
    const size_t capacity = m_capacity * 2;
    Frame* frames = new Frame[capacity];
    std::copy(m_frames, m_frames + m_size, frames);
    release();
    m_frames = frames;
    m_capacity = capacity;
}

void Matcher::FrameStack::release() noexcept {
    if (m_frames != m_inline) delete[] m_frames;
    m_frames = m_inline;
    m_capacity = inlineCapacity;
}

void Matcher::resetGroups() noexcept {
    m_lastMatchEnd = 0;
    for (int i = 0; i < m_groupCount; ++i) m_groupStart[i] = m_groupEnd[i] = m_loopCount[i] = -1;
    for (int i = -m_nonCapturingCount; i < 0; ++i) m_loopCount[i] = -1;
}

bool Matcher::matches() {
    m_wholeMatch = true;
    const bool success = runFromStart() == m_length;
    if (!success) resetGroups();
    return success;
}

bool Matcher::search() {
    m_wholeMatch = false;
    const int end = runFromStart();
    m_groupEnd[0] = end;
    m_matched = end >= 0;
    if (!m_matched) resetGroups();
    return m_matched;
}

int Matcher::runFromStart() {
    // The pattern may have been reloaded with other groups since.
    if (m_groupCount != m_pattern->groupCount() || m_nonCapturingCount != m_pattern->nonCapturingGroupCount())
        allocateGroups();
    resetGroups();
    // A pattern anchored at the input start has no StartNode to set it.
    m_groupStart[0] = 0;
    m_stack.clear();
    const int end = run(m_pattern->head(), 0);
    // A long subject may have needed a large stack: do not keep it.
    m_stack.shrink(65536);
    return end;
}

String Matcher::group(int n) const {
    if (!validGroup(n)) return String();
    const int start = m_groupStart[n], end = m_groupEnd[n];
    if (start < 0 || start >= end || end > m_length) return String();
    return m_subject.mid(uint32_t(start), uint32_t(end - start));
}

int Matcher::run(const Node* node, int pos) {
    const size_t base = m_stack.size();
    const uint8_t* const data = m_data;
    const int length = m_length;
    int result = -1;

    // Quantified atoms: where the repetition goes after its minimum.
    auto afterMinimum = [&](const QuantifierNode* q, int p) {
        const int k = q->m_minimum;
        pos = p;
        if (k >= q->m_maximum) {
            node = q->m_next;
        } else if (q->kind() == NodeKind::GreedyQuantifier) {
            m_stack.push({GreedyBody, k, p, 0, q});
            node = q->m_body;
        } else if (q->kind() == NodeKind::LazyQuantifier) {
            m_stack.push({LazyNext, k, p, 0, q});
            node = q->m_next;
        } else {
            m_stack.push({PossessiveBody, k, p, 0, q});
            node = q->m_body;
        }
    };

    for (;;) {
        switch (node->kind()) {
        case NodeKind::Start:
            m_groupStart[0] = pos;
            if (m_wholeMatch) {
                if (pos != 0) {
                    m_groupStart[0] = -1;
                    goto fail;
                }
            } else {
                m_stack.push({StartRetry, 0, pos, 0, node});
            }
            node = node->m_next;
            continue;
        case NodeKind::End:
            m_groupEnd[0] = pos;
            if (m_wholeMatch && pos != length) {
                m_groupEnd[0] = -1;
                goto fail;
            }
            result = pos;
            goto succeed;
        case NodeKind::SubStart:
            node = node->m_next;
            continue;
        case NodeKind::Accept:
            if (!node->m_next) {
                result = pos;
                goto succeed;
            }
            node = node->m_next;
            continue;
        case NodeKind::Char: {
            // The literal characters from here on, compared at once.
            const CharNode* c = static_cast<const CharNode*>(node);
            const uint32_t n = c->m_run.length();
            if (n > uint32_t(length - pos) || std::memcmp(data + pos, c->m_run.data(), n) != 0) goto fail;
            pos += int(n);
            node = c->m_afterRun;
            continue;
        }
        case NodeKind::CIChar:
        case NodeKind::Class:
        case NodeKind::CIClass:
            if (pos >= length || !static_cast<const SingleByteNode*>(node)->m_accepts.contains(data[pos])) goto fail;
            ++pos;
            node = node->m_next;
            continue;
        case NodeKind::Quote: {
            const String& text = static_cast<const QuoteNode*>(node)->m_text;
            const int n = int(text.length());
            if (n > length - pos || std::memcmp(data + pos, text.data(), size_t(n)) != 0) goto fail;
            pos += n;
            node = node->m_next;
            continue;
        }
        case NodeKind::CIQuote: {
            const String& text = static_cast<const CIQuoteNode*>(node)->m_text;
            const int n = int(text.length());
            if (n > length - pos) goto fail;
            for (int i = 0; i < n; ++i)
                if (lower(data[pos + i]) != lower(uint8_t(text.data()[i]))) goto fail;
            pos += n;
            node = node->m_next;
            continue;
        }
        case NodeKind::StartOfInput:
            if (pos != 0) goto fail;
            node = node->m_next;
            continue;
        case NodeKind::EndOfInput: {
            bool at = pos == length;
            if (!at && static_cast<const EndOfInputNode*>(node)->m_terminatorAllowed)
                at = (pos == length - 1 && isLineBreak(data[pos])) ||
                     (pos == length - 2 && data[pos] == '\r' && data[pos + 1] == '\n');
            if (!at) goto fail;
            node = node->m_next;
            continue;
        }
        case NodeKind::StartOfLine:
            if (pos != 0 && !isLineBreak(data[pos - 1])) goto fail;
            node = node->m_next;
            continue;
        case NodeKind::EndOfLine:
            if (pos != length && !isLineBreak(data[pos])) goto fail;
            node = node->m_next;
            continue;
        case NodeKind::WordBoundary:
            if (pos != length) {
                const bool left = pos > 0 && isLetter(data[pos - 1]);
                const bool right = isLetter(data[pos]);
                if ((left != right) != static_cast<const WordBoundaryNode*>(node)->m_positive) goto fail;
            }
            node = node->m_next;
            continue;
        case NodeKind::EndOfMatch:
            if (pos != m_lastMatchEnd) goto fail;
            node = node->m_next;
            continue;
        case NodeKind::Reference: {
            // A group the pattern does not have reads as unset: it matches
            // the empty string and never indexes the arrays.
            const int n = static_cast<const ReferenceNode*>(node)->m_group;
            if (n > 0 && n < m_groupCount && m_groupStart[n] >= 0 && m_groupEnd[n] > m_groupStart[n]) {
                const int count = m_groupEnd[n] - m_groupStart[n];
                if (count > length - pos || std::memcmp(data + pos, data + m_groupStart[n], size_t(count)) != 0)
                    goto fail;
                pos += count;
            }
            node = node->m_next;
            continue;
        }
        case NodeKind::GroupHead: {
            const int i = static_cast<const GroupHeadNode*>(node)->m_group;
            m_stack.push({RestoreStart, i, m_groupStart[i], 0, node});
            m_groupStart[i] = pos;
            node = node->m_next;
            continue;
        }
        case NodeKind::GroupTail: {
            const int i = static_cast<const GroupTailNode*>(node)->m_group;
            m_stack.push({RestoreEnd, i, m_groupEnd[i], 0, node});
            m_groupEnd[i] = pos;
            node = node->m_next;
            continue;
        }
        case NodeKind::GroupLoopPrologue: {
            const int i = static_cast<const GroupLoopPrologueNode*>(node)->m_group;
            m_stack.push({RestoreLoop, m_loopCount[i], m_possessiveMark[i], m_loopStart[i], node});
            m_loopCount[i] = 0;
            m_possessiveMark[i] = 0;
            m_loopStart[i] = -1;
            node = node->m_next;
            continue;
        }
        case NodeKind::GroupLoop: {
            const GroupLoopNode* loop = static_cast<const GroupLoopNode*>(node);
            const int i = loop->m_group;
            if (m_loopStart[i] >= pos) {
                // The last iteration consumed nothing: the repetition ends.
                node = loop->m_next;
            } else if (m_loopCount[i] < loop->m_minimum) {
                ++m_loopCount[i];
                m_stack.push({LoopIteration, m_loopStart[i], pos, 0, loop});
                m_loopStart[i] = pos;
                node = loop->m_body;
            } else if (m_loopCount[i] >= loop->m_maximum) {
                node = loop->m_next;
            } else if (loop->m_kind == Lazy) {
                m_stack.push({LoopLazyNext, 0, pos, 0, loop});
                node = loop->m_next;
            } else {
                if (loop->m_kind == Possessive) m_possessiveMark[i] = m_loopCount[i];
                m_stack.push({uint8_t(loop->m_kind == Possessive ? LoopPossessiveIteration : LoopGreedyIteration),
                                   m_loopStart[i], pos, 0, loop});
                m_loopStart[i] = pos;
                ++m_loopCount[i];
                node = loop->m_body;
            }
            continue;
        }
        case NodeKind::Or:
            m_stack.push({OrLeft, 0, pos, 0, node});
            node = static_cast<const OrNode*>(node)->m_left;
            continue;
        case NodeKind::LookAhead:
            m_stack.push({LookBody, 0, pos, 0, node});
            node = static_cast<const LookAheadNode*>(node)->m_body;
            continue;
        case NodeKind::LookBehind: {
            const LookBehindNode* behind = static_cast<const LookBehindNode*>(node);
            const int n = int(behind->m_text.length());
            const bool holds = pos >= n && std::memcmp(data + pos - n, behind->m_text.data(), size_t(n)) == 0;
            if (holds != behind->m_positive) goto fail;
            node = node->m_next;
            continue;
        }
        case NodeKind::GreedyQuantifier:
        case NodeKind::LazyQuantifier:
        case NodeKind::PossessiveQuantifier: {
            const QuantifierNode* q = static_cast<const QuantifierNode*>(node);
            if (const SingleByteNode* atom = q->m_singleByte) {
                // One byte per repetition: count the run instead of calling
                // the body once per byte; the positions tried are the same.
                const int minimum = q->m_minimum;
                const bool lazy = q->kind() == NodeKind::LazyQuantifier;
                const int wanted = lazy ? minimum : (q->m_maximum > minimum ? q->m_maximum : minimum);
                const int cap = wanted < length - pos ? wanted : length - pos;
                int n = 0;
                while (n < cap && atom->m_accepts.contains(data[pos + n])) ++n;
                if (n < minimum) goto fail;
                if (lazy) {
                    if (minimum < q->m_maximum) m_stack.push({LazyRun, minimum, pos + n, 0, q});
                } else if (q->kind() == NodeKind::GreedyQuantifier && n > minimum) {
                    m_stack.push({GreedyRun, pos + minimum, pos + n, 0, q});
                }
                pos += n;
                node = q->m_next;
            } else if (q->m_minimum > 0) {
                m_stack.push({MinimumBody, 0, pos, 0, q});
                node = q->m_body;
            } else {
                afterMinimum(q, pos);
            }
            continue;
        }
        }

    succeed:
        while (m_stack.size() > base && !isBody(m_stack.top().type)) m_stack.pop();
        if (m_stack.size() == base) return result;
        {
            Frame& f = m_stack.top();
            const int p = f.b;
            switch (f.type) {
            case OrLeft:
                f.type = OrNext;
                node = f.node->m_next;
                pos = result;
                continue;
            case OrRight:
                node = f.node->m_next;
                pos = result;
                m_stack.pop();
                continue;
            case LookBody: {
                const LookAheadNode* ahead = static_cast<const LookAheadNode*>(f.node);
                m_stack.pop();
                if (!ahead->m_positive) goto fail;
                node = ahead->m_next;
                pos = p;
                continue;
            }
            case MinimumBody: {
                const QuantifierNode* q = static_cast<const QuantifierNode*>(f.node);
                if (result > p && f.a + 1 < q->m_minimum) {
                    ++f.a;
                    f.b = result;
                    node = q->m_body;
                    pos = result;
                } else {
                    m_stack.pop();
                    afterMinimum(q, result);
                }
                continue;
            }
            case GreedyBody: {
                const QuantifierNode* q = static_cast<const QuantifierNode*>(f.node);
                if (result > p) {
                    const int k = f.a + 1;
                    f.type = GreedyNext;
                    pos = result;
                    if (k >= q->m_maximum) {
                        node = q->m_next;
                    } else {
                        m_stack.push({GreedyBody, k, result, 0, q});
                        node = q->m_body;
                    }
                } else {
                    m_stack.pop();
                    node = q->m_next;
                    pos = p;
                }
                continue;
            }
            case LazyBody: {
                const QuantifierNode* q = static_cast<const QuantifierNode*>(f.node);
                const int k = f.a + 1;
                m_stack.pop();
                if (result <= p) goto fail;
                pos = result;
                if (k < q->m_maximum) m_stack.push({LazyNext, k, result, 0, q});
                node = q->m_next;
                continue;
            }
            case PossessiveBody: {
                const QuantifierNode* q = static_cast<const QuantifierNode*>(f.node);
                const int k = f.a + 1;
                if (result > p && k < q->m_maximum) {
                    f.a = k;
                    f.b = result;
                    node = q->m_body;
                    pos = result;
                } else {
                    m_stack.pop();
                    node = q->m_next;
                    pos = result > p ? result : p;
                }
                continue;
            }
            }
        }

    fail:
        for (;;) {
            if (m_stack.size() == base) return -1;
            Frame& f = m_stack.top();
            const int p = f.b;
            switch (f.type) {
            case OrLeft:
            case OrNext:
                f.type = OrRight;
                node = static_cast<const OrNode*>(f.node)->m_right;
                pos = p;
                break;
            case OrRight:
            case MinimumBody:
            case LazyBody:
                m_stack.pop();
                continue;
            case LookBody: {
                const LookAheadNode* ahead = static_cast<const LookAheadNode*>(f.node);
                m_stack.pop();
                if (ahead->m_positive) continue;
                node = ahead->m_next;
                pos = p;
                break;
            }
            case GreedyBody:
            case PossessiveBody:
            case GreedyNext:
                node = f.node->m_next;
                pos = p;
                m_stack.pop();
                break;
            case StartRetry:
                if (p >= length) {
                    m_groupStart[0] = -1;
                    m_stack.pop();
                    continue;
                }
                resetGroups();
                f.b = p + 1;
                m_groupStart[0] = p + 1;
                node = f.node->m_next;
                pos = p + 1;
                break;
            case RestoreStart:
                m_groupStart[f.a] = p;
                m_stack.pop();
                continue;
            case RestoreEnd:
                m_groupEnd[f.a] = p;
                m_stack.pop();
                continue;
            case RestoreLoop: {
                const int i = static_cast<const GroupLoopPrologueNode*>(f.node)->m_group;
                m_loopCount[i] = f.a;
                m_possessiveMark[i] = f.b;
                m_loopStart[i] = f.c;
                m_stack.pop();
                continue;
            }
            case LoopIteration: {
                const int i = static_cast<const GroupLoopNode*>(f.node)->m_group;
                m_loopStart[i] = f.a;
                --m_loopCount[i];
                m_stack.pop();
                continue;
            }
            case LoopGreedyIteration: {
                const int i = static_cast<const GroupLoopNode*>(f.node)->m_group;
                m_loopStart[i] = f.a;
                --m_loopCount[i];
                node = f.node->m_next;
                pos = p;
                m_stack.pop();
                break;
            }
            case LoopPossessiveIteration: {
                const int i = static_cast<const GroupLoopNode*>(f.node)->m_group;
                m_loopStart[i] = f.a;
                --m_loopCount[i];
                node = f.node->m_next;
                pos = p;
                m_stack.pop();
                // A deeper iteration had succeeded and was then abandoned:
                // fewer repetitions are never tried.
                if (m_loopCount[i] != m_possessiveMark[i]) continue;
                break;
            }
            case LoopLazyNext: {
                const GroupLoopNode* loop = static_cast<const GroupLoopNode*>(f.node);
                const int i = loop->m_group;
                f.type = LoopIteration;
                f.a = m_loopStart[i];
                m_loopStart[i] = p;
                ++m_loopCount[i];
                node = loop->m_body;
                pos = p;
                break;
            }
            case LazyNext:
                f.type = LazyBody;
                node = static_cast<const QuantifierNode*>(f.node)->m_body;
                pos = p;
                break;
            case GreedyRun:
                // Give back one byte: try the rest after one repetition less.
                if (p - 1 <= f.a) m_stack.pop();
                else f.b = p - 1;
                node = f.node->m_next;
                pos = p - 1;
                break;
            case LazyRun: {
                const QuantifierNode* q = static_cast<const QuantifierNode*>(f.node);
                if (p >= length || !q->m_singleByte->m_accepts.contains(data[p])) {
                    m_stack.pop();
                    continue;
                }
                if (f.a + 1 < q->m_maximum) {
                    ++f.a;
                    f.b = p + 1;
                } else {
                    m_stack.pop();
                }
                node = q->m_next;
                pos = p + 1;
                break;
            }
            }
            break;
        }
    }
}

}  // namespace trivane::regex
