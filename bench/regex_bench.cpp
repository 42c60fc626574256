// The management client's patterns on its lines: the toolkit's engine
// against std::regex and the PCRE2 interpreter, one matcher per line as the
// client makes them.
#include "regex/matcher.h"
#include "regex/pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <regex>
#include <string>

using namespace trivane;

namespace {

const char* const kStatePattern = R"(>STATE:\d+,([^,]*),([^,]*),([^,]*),([^\n]*))";
const char* const kVersionPattern = R"(>INFO:OpenVPN Management Interface Version (\d+))";
const std::string kStateLine = ">STATE:1702000000,CONNECTED,SUCCESS,10.8.0.6,192.168.100.254";  // 60 bytes
const std::string kBanner = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info";
const std::string kLongLine = ">STATE:1702000000,CONNECTED,SUCCESS,10.8.0.6," + std::string(1 << 20, 'x');

String toString(const std::string& s) {
    String out;
    out.append(s.data(), uint32_t(s.size()));
    return out;
}

void trivaneMatch(benchmark::State& state, const char* text, const std::string& line, bool whole) {
    gc::Pointer<regex::Pattern> pattern = regex::Pattern::compile(text);
    const String subject = toString(line);
    for (auto _ : state) {
        gc::Pointer<regex::Matcher> matcher = pattern->createMatcher(subject);
        const bool found = whole ? matcher->matches() : matcher->search();
        if (!found) state.SkipWithError("no match");
        benchmark::DoNotOptimize(matcher->group(1));
    }
}

void stdMatch(benchmark::State& state, const char* text, const std::string& line, bool whole) {
    const std::regex pattern(text);
    for (auto _ : state) {
        std::smatch groups;
        const bool found = whole ? std::regex_match(line, groups, pattern) : std::regex_search(line, groups, pattern);
        if (!found) state.SkipWithError("no match");
        benchmark::DoNotOptimize(groups[1].first);
    }
}

void pcre2Match(benchmark::State& state, const char* text, const std::string& line, bool whole) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text), PCRE2_ZERO_TERMINATED, 0, &error, &offset, nullptr);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    const uint32_t options = whole ? PCRE2_ANCHORED | PCRE2_ENDANCHORED : 0;
    for (auto _ : state) {
        const int found = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, options, data, nullptr);
        if (found < 0) state.SkipWithError("no match");
        benchmark::DoNotOptimize(pcre2_get_ovector_pointer(data)[2]);
    }
    pcre2_match_data_free(data);
    pcre2_code_free(code);
}

void stateLineTrivane(benchmark::State& s) { trivaneMatch(s, kStatePattern, kStateLine, true); }
void stateLineStd(benchmark::State& s) { stdMatch(s, kStatePattern, kStateLine, true); }
void stateLinePcre2(benchmark::State& s) { pcre2Match(s, kStatePattern, kStateLine, true); }
BENCHMARK(stateLineTrivane)->Name("StateLine/trivane");
BENCHMARK(stateLineStd)->Name("StateLine/std");
BENCHMARK(stateLinePcre2)->Name("StateLine/pcre2");

void bannerTrivane(benchmark::State& s) { trivaneMatch(s, kVersionPattern, kBanner, false); }
void bannerStd(benchmark::State& s) { stdMatch(s, kVersionPattern, kBanner, false); }
void bannerPcre2(benchmark::State& s) { pcre2Match(s, kVersionPattern, kBanner, false); }
BENCHMARK(bannerTrivane)->Name("Banner/trivane");
BENCHMARK(bannerStd)->Name("Banner/std");
BENCHMARK(bannerPcre2)->Name("Banner/pcre2");

// std::regex recurses per character and overflows its stack on this line.
void longLineTrivane(benchmark::State& s) { trivaneMatch(s, kStatePattern, kLongLine, true); }
void longLinePcre2(benchmark::State& s) { pcre2Match(s, kStatePattern, kLongLine, true); }
BENCHMARK(longLineTrivane)->Name("StateLine1MiB/trivane")->Unit(benchmark::kMillisecond);
BENCHMARK(longLinePcre2)->Name("StateLine1MiB/pcre2")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
