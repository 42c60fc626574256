// The nodes a compiled pattern is made of: one class per construct, linked
// through `m_next`, owned by the pattern that created them.
#pragma once

#include "base/string.h"

#include <cstdint>
#include <set>
#include <vector>

namespace trivane::regex {

class Matcher;

// Which node class a node is; the matcher dispatches on it.
enum class NodeKind : uint8_t {
    Start,
    End,
    SubStart,
    Accept,
    Char,
    CIChar,
    Class,
    CIClass,
    Quote,
    CIQuote,
    StartOfInput,
    EndOfInput,
    StartOfLine,
    EndOfLine,
    WordBoundary,
    EndOfMatch,
    Reference,
    GroupHead,
    GroupTail,
    GroupLoopPrologue,
    GroupLoop,
    Or,
    LookAhead,
    LookBehind,
    GreedyQuantifier,
    LazyQuantifier,
    PossessiveQuantifier,
};

// The unbounded maximum of a repetition.
inline constexpr int Unbounded = 2147483647;

// A set of byte values.
class ByteSet {
public:
    bool contains(uint8_t c) const noexcept { return (m_bits[c >> 6] >> (c & 63)) & 1; }
    void add(uint8_t c) noexcept { m_bits[c >> 6] |= uint64_t(1) << (c & 63); }
    void add(const ByteSet& other) noexcept {
        for (int i = 0; i < 4; ++i) m_bits[i] |= other.m_bits[i];
    }
    void intersect(const ByteSet& other) noexcept {
        for (int i = 0; i < 4; ++i) m_bits[i] &= other.m_bits[i];
    }
    void invert() noexcept {
        for (uint64_t& bits : m_bits) bits = ~bits;
    }
    // Every letter replaced by its lower-case form.
    ByteSet lowered() const noexcept;
    bool operator==(const ByteSet&) const = default;

private:
    uint64_t m_bits[4] = {0, 0, 0, 0};
};

inline uint8_t lower(uint8_t c) noexcept { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }

class Node {
public:
    explicit Node(NodeKind kind) noexcept : m_nodeKind(kind) {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    virtual ~Node() = default;

    // Inserts this node and every node reachable from it. Walks with a work
    // list, so that long chains do not recurse.
    void collect(std::set<const Node*>& nodes) const;
    // The end of a complete match from this node on at `pos`, or -1; runs
    // on the matcher's subject and group arrays.
    int match(Matcher& matcher, int pos) const;
    virtual bool startsAtInputStart() const noexcept { return false; }
    virtual bool isGroupHead() const noexcept { return false; }

    NodeKind kind() const noexcept { return m_nodeKind; }

    Node* m_next = nullptr;

protected:
    // The nodes this one leads to besides `m_next`.
    virtual void links(std::vector<const Node*>&) const {}

private:
    NodeKind m_nodeKind;
};

class StartNode final : public Node {
public:
    StartNode() noexcept : Node(NodeKind::Start) {}
};

class EndNode final : public Node {
public:
    EndNode() noexcept : Node(NodeKind::End) {}
};

class SubStartNode final : public Node {
public:
    SubStartNode() noexcept : Node(NodeKind::SubStart) {}
};

class AcceptNode final : public Node {
public:
    AcceptNode() noexcept : Node(NodeKind::Accept) {}
};

// Base of the nodes that consume exactly one byte; `m_accepts` holds every
// subject byte the node takes, case folding included.
class SingleByteNode : public Node {
public:
    ByteSet m_accepts;

protected:
    using Node::Node;
};

class CharNode final : public SingleByteNode {
public:
    explicit CharNode(uint8_t c) noexcept;
    uint8_t m_char;
    // Filled when the graph is complete: the characters of this node and
    // of the CharNodes that directly follow it, and the node after them.
    String m_run;
    const Node* m_afterRun = nullptr;
};

// Holds the lower-case form of its letter.
class CICharNode final : public SingleByteNode {
public:
    explicit CICharNode(uint8_t c) noexcept;
    uint8_t m_char;
};

class ClassNode final : public SingleByteNode {
public:
    ClassNode(const ByteSet& set, bool inverted) noexcept;
    bool m_inverted;
    ByteSet m_set;
};

// Looks up the lower-case form of the subject byte.
class CIClassNode final : public SingleByteNode {
public:
    CIClassNode(const ByteSet& set, bool inverted) noexcept;
    bool m_inverted;
    ByteSet m_set;
};

class QuoteNode final : public Node {
public:
    explicit QuoteNode(const String& text) : Node(NodeKind::Quote), m_text(text) {}
    String m_text;
};

// Holds its text lower-cased.
class CIQuoteNode final : public Node {
public:
    explicit CIQuoteNode(const String& text) : Node(NodeKind::CIQuote), m_text(text.toLower()) {}
    String m_text;
};

class StartOfInputNode final : public Node {
public:
    StartOfInputNode() noexcept : Node(NodeKind::StartOfInput) {}
    bool startsAtInputStart() const noexcept override { return true; }
};

class EndOfInputNode final : public Node {
public:
    explicit EndOfInputNode(bool terminatorAllowed) noexcept
        : Node(NodeKind::EndOfInput), m_terminatorAllowed(terminatorAllowed) {}
    bool m_terminatorAllowed;
};

class StartOfLineNode final : public Node {
public:
    StartOfLineNode() noexcept : Node(NodeKind::StartOfLine) {}
};

class EndOfLineNode final : public Node {
public:
    EndOfLineNode() noexcept : Node(NodeKind::EndOfLine) {}
};

class WordBoundaryNode final : public Node {
public:
    explicit WordBoundaryNode(bool positive) noexcept : Node(NodeKind::WordBoundary), m_positive(positive) {}
    bool m_positive;
};

class EndOfMatchNode final : public Node {
public:
    EndOfMatchNode() noexcept : Node(NodeKind::EndOfMatch) {}
};

class ReferenceNode final : public Node {
public:
    explicit ReferenceNode(int group) noexcept : Node(NodeKind::Reference), m_group(group) {}
    int m_group;
};

class GroupHeadNode final : public Node {
public:
    explicit GroupHeadNode(int group) noexcept : Node(NodeKind::GroupHead), m_group(group) {}
    bool isGroupHead() const noexcept override { return true; }
    int m_group;
};

class GroupTailNode final : public Node {
public:
    explicit GroupTailNode(int group) noexcept : Node(NodeKind::GroupTail), m_group(group) {}
    int m_group;
};

class GroupLoopPrologueNode final : public Node {
public:
    explicit GroupLoopPrologueNode(int group) noexcept : Node(NodeKind::GroupLoopPrologue), m_group(group) {}
    int m_group;
};

// Kinds of repetition, as stored in GroupLoopNode.
enum QuantifierKind { Greedy = 0, Lazy = 1, Possessive = 2 };

class GroupLoopNode final : public Node {
public:
    GroupLoopNode(int group, int minimum, int maximum, int kind, Node* body) noexcept
        : Node(NodeKind::GroupLoop), m_group(group), m_minimum(minimum), m_maximum(maximum), m_kind(kind),
          m_body(body) {}
    int m_group;
    int m_minimum;
    int m_maximum;
    int m_kind;
    Node* m_body;  // the group's GroupHeadNode

protected:
    void links(std::vector<const Node*>& out) const override { out.push_back(m_body); }
};

class OrNode final : public Node {
public:
    OrNode(Node* left, Node* right) noexcept : Node(NodeKind::Or), m_left(left), m_right(right) {}
    Node* m_left;
    Node* m_right;

protected:
    void links(std::vector<const Node*>& out) const override {
        out.push_back(m_left);
        out.push_back(m_right);
    }
};

class LookAheadNode final : public Node {
public:
    LookAheadNode(bool positive, Node* body) noexcept : Node(NodeKind::LookAhead), m_positive(positive), m_body(body) {}
    bool m_positive;
    Node* m_body;

protected:
    void links(std::vector<const Node*>& out) const override { out.push_back(m_body); }
};

// Compares the bytes before the position exactly, also in case-insensitive
// patterns.
class LookBehindNode final : public Node {
public:
    LookBehindNode(bool positive, const String& text) : Node(NodeKind::LookBehind), m_positive(positive), m_text(text) {}
    bool m_positive;
    String m_text;
};

// A repeated atom: the body is the atom followed by its own AcceptNode.
class QuantifierNode : public Node {
public:
    int m_minimum;
    int m_maximum;
    Node* m_body;
    // Set when the body is one SingleByteNode, so that the matcher can
    // repeat it in a loop.
    const SingleByteNode* m_singleByte;

protected:
    QuantifierNode(NodeKind kind, int minimum, int maximum, Node* body) noexcept;
    void links(std::vector<const Node*>& out) const override { out.push_back(m_body); }
};

class GreedyQuantifierNode final : public QuantifierNode {
public:
    GreedyQuantifierNode(int minimum, int maximum, Node* body) noexcept
        : QuantifierNode(NodeKind::GreedyQuantifier, minimum, maximum, body) {}
};

class LazyQuantifierNode final : public QuantifierNode {
public:
    LazyQuantifierNode(int minimum, int maximum, Node* body) noexcept
        : QuantifierNode(NodeKind::LazyQuantifier, minimum, maximum, body) {}
};

// Also the atomic group, with minimum and maximum 1.
class PossessiveQuantifierNode final : public QuantifierNode {
public:
    PossessiveQuantifierNode(int minimum, int maximum, Node* body) noexcept
        : QuantifierNode(NodeKind::PossessiveQuantifier, minimum, maximum, body) {}
};

}  // namespace trivane::regex
