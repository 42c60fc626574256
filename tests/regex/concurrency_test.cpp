#include "regex/matcher.h"
#include "regex/pattern.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace trivane;
using namespace trivane::regex;

namespace {

// One pattern, one matcher per line on each thread: the graph is only read.
TEST(RegexConcurrencyTest, ThreadsShareOnePattern) {
    gc::Pointer<Pattern> pattern = Pattern::compile(R"(>STATE:\d+,([^,]*),([^,]*),([^,]*),((?:[^,]|,)*))");
    ASSERT_TRUE(pattern);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::string address = "10.8.0." + std::to_string(t);
            String line(std::string(">STATE:1," + std::to_string(t) + ",SUCCESS," + address + ",x,y").c_str());
            for (int i = 0; i < 2000; ++i) {
                gc::Pointer<Matcher> matcher = pattern->createMatcher(line);
                if (!matcher->matches() || std::string(matcher->group(3).view()) != address ||
                    std::string(matcher->group(4).view()) != "x,y")
                    ++mismatches;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
