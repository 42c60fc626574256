#include "base/string.h"

#include "base/exception.h"
#include "base/memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>

using namespace trivane;

// Every allocation of this test program is counted, so that a test can say
// exactly how many allocations an operation made.
static std::atomic<long> g_allocations{0};
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

struct AllocationCounter {
    long start = g_allocations.load();
    long count() const { return g_allocations.load() - start; }
};

std::string str(const String& s) { return std::string(s.data(), s.length()); }

TEST(StringTest, SubstringsShareAndClampTheirRange) {
    const String s = String("abcd");
    EXPECT_EQ(str(s.mid(4)), "");
    EXPECT_EQ(str(s.mid(2, String::npos)), "cd");
    EXPECT_EQ(str(s.mid(1, 0)), "");
    EXPECT_EQ(str(s.mid(1, 2)), "bc");
    EXPECT_EQ(str(s.mid(1, 3)), "bcd");
    // pos + count would wrap past 2^32: still the rest of the string.
    EXPECT_EQ(str(s.mid(2, 0xFFFFFFF0u)), "cd");
    EXPECT_EQ(s.mid(1).data(), s.data() + 1);
    EXPECT_EQ(str("abc"_s.before(':')), "abc");
    EXPECT_EQ(str("abc"_s.after(':')), "");
    EXPECT_EQ(str("k:v:w"_s.before(':')), "k");
    EXPECT_EQ(str("k:v:w"_s.after(':')), "v:w");
}

TEST(StringTest, TrimAndLower) {
    EXPECT_TRUE(" \t\r\n"_s.trim().isEmpty());
    EXPECT_EQ(str("a"_s.trim()), "a");
    EXPECT_EQ(str(String("\0 x y\t", 6).trim()), "x y");
    const String lower = "already lower 1"_s;
    EXPECT_EQ(lower.toLower().data(), lower.data());
    EXPECT_EQ(str("MiXeD [Az]"_s.toLower()), "mixed [az]");
}

TEST(StringTest, SearchesStayInsideTheString) {
    const String s = "hello world, hello"_s;
    EXPECT_EQ(s.find('o'), 4u);
    EXPECT_EQ(s.find('o', 5), 7u);
    EXPECT_EQ(s.find('o', 100), String::npos);
    EXPECT_EQ(s.find('o', String::npos), String::npos);
    EXPECT_EQ(s.rfind('o'), 17u);
    EXPECT_EQ(s.rfind('o', 16), 7u);
    EXPECT_EQ(s.rfind('o', 18), String::npos);
    EXPECT_EQ(s.find("hello", 1), 13u);
    EXPECT_EQ(s.find("hello", 5, 0, 17), 0u);
    EXPECT_EQ(s.find("hello", 5, 1, 17), String::npos);  // the second one ends at 18
    EXPECT_EQ(s.findFirstOf(",w"), 6u);
    EXPECT_EQ(" \t\r\nx"_s.skipWhitespace(), 4u);
    EXPECT_EQ("  "_s.skipWhitespace(), String::npos);
    EXPECT_EQ("Content-LENGTH: 5"_s.findIgnoreCase("length", 6), 8u);
    // A pattern longer than what is left is not there (no wrap-around).
    const String header = "ab"_s;
    EXPECT_EQ(header.find("content-length", 14, 0), String::npos);
    EXPECT_EQ(header.find("b", 1, 5), String::npos);
    EXPECT_EQ(header.findIgnoreCase("content-length", 14), String::npos);
    EXPECT_FALSE(header.matchesIgnoreCaseAt("abc", 3, 0));
    EXPECT_FALSE(header.matchesIgnoreCaseAt("b", 1, String::npos));
    EXPECT_TRUE("xAB"_s.matchesIgnoreCaseAt("ab", 2, 1));
    EXPECT_TRUE("POST"_s.equalsIgnoreCase("post", 4));
}

TEST(StringTest, OrderingIsShorterFirstThenUnsignedBytes) {
    EXPECT_LT("zz"_s.compare("aaa"_s), 0);
    EXPECT_LT("ab"_s.compare("b\x80"_s), 0);
    EXPECT_LT(String("\x7f", 1).compare(String("\x80", 1)), 0);
    EXPECT_EQ("ab"_s.compare(String("ab")), 0);
}

TEST(StringTest, AppendingToASharedStringLeavesTheOtherUnchanged) {
    String a("shared text");
    String b = a;
    EXPECT_EQ(a.data(), b.data());
    b.append(" and more");
    EXPECT_EQ(str(a), "shared text");
    EXPECT_EQ(str(b), "shared text and more");
    a.setCharAt(0, 'S');
    EXPECT_EQ(str(a), "Shared text");
    EXPECT_EQ(str(b), "shared text and more");
}

TEST(StringTest, AppendingOwnBytesSurvivesReallocation) {
    String s("0123456789");
    for (int i = 0; i < 12; ++i) s.append(s.data() + 2, s.length() - 2);  // grows past several blocks
    String expected("0123456789");
    for (int i = 0; i < 12; ++i) expected.append(String(expected.mid(2)).clone());
    EXPECT_TRUE(s == expected);
    String t("abc");
    t.append(t);
    EXPECT_EQ(str(t), "abcabc");
}

TEST(StringTest, OneByteStringsUseTheStaticTable) {
    AllocationCounter counter;
    String s;
    s.append('x');
    const char* text = s.cStr();
    EXPECT_STREQ(text, "x");
    EXPECT_EQ(counter.count(), 0);
}

TEST(StringTest, CStrOfAWrappedTextCopiesOnlyWhenItMustLookPastTheEnd) {
    const char bytes[3] = {'a', 'b', 'c'};  // not terminated
    String s(bytes, 2);
    EXPECT_STREQ(s.cStr(), "ab");
    EXPECT_NE(s.data(), bytes);
    String built("abc");
    const char* before = built.data();
    EXPECT_EQ(built.cStr(), before);
}

TEST(StringTest, ConcatenationOfTwentyPiecesAllocatesOnce) {
    String pieces[20];
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        pieces[i] = String::fromInt(i * 7);
        expected += std::to_string(i * 7);
    }
    // Take the cached block of the result's size class so that the result
    // needs exactly one new allocation.
    gc::Pointer<MemoryBlock> hold(MemoryBlock::get(static_cast<uint32_t>(expected.size() + 1)));
    {
        // Warm the addition-block cache of this thread.
        String warm = pieces[0] + pieces[1] + pieces[2] + pieces[3] + pieces[4] + pieces[5] + pieces[6] +
                      pieces[7] + pieces[8] + pieces[9] + pieces[10] + pieces[11] + pieces[12] + pieces[13] +
                      pieces[14] + pieces[15] + pieces[16] + pieces[17] + pieces[18] + pieces[19];
    }
    gc::Pointer<MemoryBlock> hold2(MemoryBlock::get(static_cast<uint32_t>(expected.size() + 1)));
    AllocationCounter counter;
    const StringAddition sum = pieces[0] + pieces[1] + pieces[2] + pieces[3] + pieces[4] + pieces[5] + pieces[6] +
                               pieces[7] + pieces[8] + pieces[9] + pieces[10] + pieces[11] + pieces[12] +
                               pieces[13] + pieces[14] + pieces[15] + pieces[16] + pieces[17] + pieces[18] +
                               pieces[19];
    // Three blocks of 8, 8 and 4 pieces; the head's total is the whole length.
    const StringAdditionBlock* block = sum.head();
    ASSERT_TRUE(block && block->m_next && block->m_next->m_next && !block->m_next->m_next->m_next);
    EXPECT_EQ(block->m_used, 8u);
    EXPECT_EQ(block->m_next->m_used, 8u);
    EXPECT_EQ(block->m_next->m_next->m_used, 4u);
    EXPECT_EQ(block->m_total, expected.size());
    EXPECT_EQ(block->m_next->m_next->m_total, block->m_next->m_next->m_own);
    const long beforeMaterialising = counter.count();
    const String result(sum);
    EXPECT_EQ(counter.count() - beforeMaterialising, 1);
    EXPECT_EQ(str(result), expected);
}

TEST(StringTest, ConcatenationWithCStringsAndLiterals) {
    const String name = "world"_s;
    const String s = "hello "_s + name + "!" + String::fromInt(-3);
    EXPECT_EQ(str(s), "hello world!-3");
}

TEST(StringTest, NumbersToTextAtTheirExtremes) {
    EXPECT_EQ(str(String::fromInt(INT32_MIN)), "-2147483648");
    EXPECT_EQ(str(String::fromInt(INT32_MAX)), "2147483647");
    EXPECT_EQ(str(String::fromInt(0)), "0");
    EXPECT_EQ(str(String::fromUInt(UINT32_MAX)), "4294967295");
    EXPECT_EQ(str(String::fromUInt16(65535)), "65535");
    EXPECT_EQ(str(String::fromInt64(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(str(String::fromUInt64(UINT64_MAX)), "18446744073709551615");
}

TEST(StringTest, TextToNumbers) {
    struct Case {
        const char* text;
        int base;
        int64_t expected;
    } cases[] = {
        {"0x1F", 0, 31}, {"017", 0, 15}, {"-12abc", 0, -12}, {"", 0, 0}, {"+", 0, 0},
        {"ff", 16, 255}, {"0XfF", 16, 255}, {"z", 36, 35}, {"129", 8, 10}, {"  5", 10, 0},
        {"-2147483648", 10, INT32_MIN}, {"2147483648", 10, INT32_MIN},  // wraps
    };
    for (const Case& c : cases) {
        EXPECT_EQ(String(c.text).toInt(c.base), static_cast<int32_t>(c.expected)) << c.text;
        EXPECT_EQ(String::toInt(c.text, c.base), static_cast<int32_t>(c.expected)) << c.text;
    }
    EXPECT_EQ("9223372036854775807"_s.toInt64(10), INT64_MAX);
    EXPECT_EQ("-9223372036854775808"_s.toInt64(10), INT64_MIN);
    EXPECT_EQ("4294967296"_s.toInt64(0), 4294967296LL);
}

TEST(StringTest, Rewriting) {
    const String s = "a-b-c"_s;
    EXPECT_EQ(str(s.replace('-', '+')), "a+b+c");
    EXPECT_EQ(s.replace('x', 'y').data(), s.data());
    EXPECT_EQ(str("aaa"_s.replace("aa", "b")), "ba");
    EXPECT_EQ(str("path/to/x"_s.replace("/", "\\\\")), "path\\\\to\\\\x");
    EXPECT_EQ(s.replace("zz", "y").data(), s.data());
    EXPECT_EQ(str(s.remove('-')), "abc");
}

TEST(StringTest, Tokenizers) {
    struct Case {
        const char* source;
        std::vector<std::string> split, tokens;
    } cases[] = {
        {"a,,b", {"a", "", "b"}, {"a", "", "b"}},
        {"a,", {"a", ""}, {"a"}},
        {"", {""}, {}},
        {",a", {"", "a"}, {"", "a"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> split, tokens;
        for (StringSplitter splitter(String(c.source), ','); splitter.hasMore();) split.push_back(str(splitter.next()));
        for (StringTokenizer tokenizer(","_s, String(c.source)); tokenizer.hasMore();) tokens.push_back(str(tokenizer.next()));
        EXPECT_EQ(split, c.split) << c.source;
        EXPECT_EQ(tokens, c.tokens) << c.source;
    }
}

TEST(StringTest, LengthsThatWouldWrapAreRefused) {
    String s("x");
    EXPECT_THROW(s.reserve(0xFFFFFFFFu), ESizeOverflow);
    EXPECT_EQ(str(s), "x");
    const String big("y", 0xFFFFFFF0u);  // a view: nothing is read
    EXPECT_THROW((void)String(big + big), ESizeOverflow);
}

TEST(StringTest, BuildingFromMemoryCopiesAndTerminates) {
    Memory m("a\0b", 3);
    String s(m);
    ASSERT_EQ(s.length(), 3u);
    EXPECT_EQ(s.data()[1], 0);
    EXPECT_EQ(s.data()[3], 0);
}

using StringDeathTest = ::testing::Test;
TEST(StringDeathTest, PreconditionsNameTheExpression) {
    EXPECT_DEATH((void)"ab"_s.charAt(2), "pos < m_length");
    EXPECT_DEATH((void)String(nullptr, 0), "m_string");
}

}  // namespace
