// A compiled regular expression: the node graph of a pattern text.
#pragma once

#include "base/array.h"
#include "base/exception.h"
#include "base/gcobject.h"
#include "base/serialize.h"
#include "base/string.h"

namespace trivane::regex {

class Matcher;
class Node;

// Raised by loadConf when the stored text does not compile.
TRIVANE_DECLARE_EXCEPTION(EPatternSyntax, Exception);

// The pattern owns every node of its graph and one matcher of its own. The
// graph is not changed by matching, so matchers of one pattern may run on
// different threads; each matcher is used by one thread.
//
// Syntax decisions a caller may rely on:
// - A back-reference takes its first digit and then further digits while
//   the number stays below the count of groups opened so far. A reference
//   to a group the pattern does not have matches the empty string, like a
//   reference to a group that has not matched.
// - Quantifier bounds larger than 2147483647 saturate to it, which is the
//   unbounded maximum.
// - In case-insensitive mode a bracket class takes letters in either case;
//   a class negated with "^" excludes both cases of the letters it names.
// - Groups and bracket classes nest at most 256 deep; deeper nesting is a
//   syntax error (the parser descends once per level).
class Pattern final : public gc::ObjectDelete, public ISerialize {
public:
    enum Flags {
        CaseInsensitive = 1,
        Literal = 2,
        DotAll = 4,
        MultiLine = 8,
        UnixLines = 16,
    };
    static constexpr int MaxNesting = 256;

    // A new pattern, or null when the text has a syntax error.
    static gc::Pointer<Pattern> compile(const String& text, int flags = 0);

    ~Pattern() override;
    const char* className() const noexcept override { return "regex.Pattern"; }

    // A new matcher for `subject`; this pattern must outlive it.
    gc::Pointer<Matcher> createMatcher(const String& subject);

    const String& text() const noexcept { return m_text; }
    int flags() const noexcept { return m_flags; }
    // Capturing groups, group 0 (the whole match) included.
    int groupCount() const noexcept { return m_groupCount; }
    int nonCapturingGroupCount() const noexcept { return m_nonCapturingCount; }
    const Node* head() const noexcept { return m_head; }
    // Every node of the graph, in the order of creation.
    const Array<Node*>& nodes() const noexcept { return m_nodes; }
    // The matcher made at compilation, over the empty subject.
    Matcher* ownMatcher() const noexcept { return m_matcher.get(); }

    // The member "regex" holds the pattern text; loading recompiles it with
    // no flags. A text that does not compile raises EPatternSyntax and
    // leaves the pattern as it was.
    void loadConf(IConfReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    // The text and the flags.
    void loadStream(IReader& reader) override;
    void saveStream(IWriter& writer) override;

private:
    friend class Parser;
    Pattern() = default;
    void destroyGraph() noexcept;
    bool build(const String& text, int flags);
    void linkLiteralRuns();
    void replaceWith(Pattern& other);

    template <class T, class... Args>
    T* make(Args&&... args);

    Array<Node*> m_nodes;
    gc::Pointer<Matcher> m_matcher;
    Node* m_head = nullptr;
    String m_text;
    bool m_error = false;
    uint32_t m_position = 0;
    int m_groupCount = 0;
    int m_nonCapturingCount = 0;
    int m_flags = 0;
};

}  // namespace trivane::regex
