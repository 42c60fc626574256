// Node construction and graph walks.
#include "regex/node.h"

#include "regex/matcher.h"

namespace trivane::regex {

ByteSet ByteSet::lowered() const noexcept {
    ByteSet result;
    for (int c = 0; c < 256; ++c)
        if (contains(uint8_t(c))) result.add(lower(uint8_t(c)));
    return result;
}

void Node::collect(std::set<const Node*>& nodes) const {
    std::vector<const Node*> pending{this};
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        if (!node || !nodes.insert(node).second) continue;
        pending.push_back(node->m_next);
        node->links(pending);
    }
}

int Node::match(Matcher& matcher, int pos) const { return matcher.run(this, pos); }

CharNode::CharNode(uint8_t c) noexcept : SingleByteNode(NodeKind::Char), m_char(c) { m_accepts.add(c); }

CICharNode::CICharNode(uint8_t c) noexcept : SingleByteNode(NodeKind::CIChar), m_char(lower(c)) {
    for (int b = 0; b < 256; ++b)
        if (lower(uint8_t(b)) == m_char) m_accepts.add(uint8_t(b));
}

ClassNode::ClassNode(const ByteSet& set, bool inverted) noexcept
    : SingleByteNode(NodeKind::Class), m_inverted(inverted), m_set(set) {
    for (int b = 0; b < 256; ++b)
        if (set.contains(uint8_t(b)) != inverted) m_accepts.add(uint8_t(b));
}

CIClassNode::CIClassNode(const ByteSet& set, bool inverted) noexcept
    : SingleByteNode(NodeKind::CIClass), m_inverted(inverted), m_set(set) {
    for (int b = 0; b < 256; ++b)
        if (set.contains(lower(uint8_t(b))) != inverted) m_accepts.add(uint8_t(b));
}

QuantifierNode::QuantifierNode(NodeKind kind, int minimum, int maximum, Node* body) noexcept
    : Node(kind), m_minimum(minimum < 0 ? 0 : minimum), m_maximum(maximum), m_body(body), m_singleByte(nullptr) {
    const NodeKind atom = body->kind();
    const bool oneByte =
        atom == NodeKind::Char || atom == NodeKind::CIChar || atom == NodeKind::Class || atom == NodeKind::CIClass;
    if (oneByte && body->m_next && body->m_next->kind() == NodeKind::Accept && !body->m_next->m_next)
        m_singleByte = static_cast<const SingleByteNode*>(body);
}

}  // namespace trivane::regex
