// Applies a compiled pattern to one subject: whole-subject match, leftmost
// search, and the texts the groups captured.
#pragma once

#include "base/gcobject.h"
#include "base/string.h"

#include <cstdint>
#include <vector>

namespace trivane::regex {

class Node;
class Pattern;

// Matching is depth-first backtracking over the pattern's graph, run by a
// loop over an explicit stack of choice points held on the heap: the
// machine's own stack does not grow with the subject, so subjects of any
// length (the management client's 1 MiB lines and more) are safe. Time is
// exponential in the worst case, as for any backtracking engine.
//
// The matcher holds the state of one match at a time and is used by one
// thread. It does not keep its pattern alive: the caller keeps the pattern
// for as long as the matcher is used. Subjects are at most 2147483647 bytes.
class Matcher final : public gc::ObjectDelete {
public:
    Matcher(Pattern* pattern, const String& subject);
    const char* className() const noexcept override { return "regex.Matcher"; }

    // True when the pattern matches the whole subject.
    bool matches();
    // True when the pattern matches somewhere: the leftmost match, and at
    // that start the first one the backtracking order finds.
    bool search();
    // The text group `n` captured in the last match; the empty text for an
    // index outside 0..groupCount-1, a group that did not take part, or one
    // that matched the empty string.
    String group(int n) const;
    // Start and end of group `n` (group 0 is the whole match), -1 when unset.
    int start(int n) const { return validGroup(n) ? m_groupStart[n] : -1; }
    int end(int n) const { return validGroup(n) ? m_groupEnd[n] : -1; }
    // Set by a successful search.
    bool matched() const noexcept { return m_matched; }
    const String& subject() const noexcept { return m_subject; }

    // Runs the graph from `node` at `pos`: the end of the complete match, or
    // -1. Group and loop state are left as the match made them.
    int run(const Node* node, int pos);

private:
    // A choice point or a state to restore: what a recursive matcher would
    // keep in one of its open calls.
    struct Frame {
        uint8_t type;
        int a;
        int b;
        int c;
        const Node* node;
    };

    // Frames in place for short matches, on the heap beyond that.
    class FrameStack {
    public:
        FrameStack() noexcept : m_frames(m_inline) {}
        FrameStack(const FrameStack&) = delete;
        FrameStack& operator=(const FrameStack&) = delete;
        ~FrameStack() { release(); }
        size_t size() const noexcept { return m_size; }
        Frame& top() noexcept { return m_frames[m_size - 1]; }
        void pop() noexcept { --m_size; }
        void push(const Frame& frame) {
            if (m_size == m_capacity) grow();
            m_frames[m_size++] = frame;
        }
        void clear() noexcept { m_size = 0; }
        // Returns heap storage beyond `keep` frames.
        void shrink(size_t keep) noexcept {
            if (m_capacity > keep && m_size == 0) release();
        }

    private:
        static constexpr size_t inlineCapacity = 32;
        void grow();
        void release() noexcept;

        Frame m_inline[inlineCapacity];
        Frame* m_frames;
        size_t m_size = 0;
        size_t m_capacity = inlineCapacity;
    };

    bool validGroup(int n) const noexcept { return n >= 0 && n < m_groupCount; }
    void allocateGroups();
    void resetGroups() noexcept;
    int runFromStart();

    Pattern* m_pattern;
    String m_subject;
    const uint8_t* m_data;
    int m_length;
    // The five arrays, in place for up to eight group slots, else in
    // m_arrays; each pointer is offset so that the indices
    // -nonCapturing .. groupCount-1 are valid.
    int m_inlineArrays[40];
    std::vector<int> m_arrays;
    int* m_groupStart;
    int* m_groupEnd;
    int* m_loopCount;
    int* m_loopStart;
    int* m_possessiveMark;
    int m_lastMatchEnd = 0;
    int m_groupCount;
    int m_nonCapturingCount;
    bool m_matched = false;
    bool m_wholeMatch = false;
    FrameStack m_stack;
};

}  // namespace trivane::regex
