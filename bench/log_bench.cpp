// Log lines into a file, standard output sent to /dev/null, against a bare
// fprintf and fflush of the same text.
#include "base/console.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

using namespace trivane;

namespace {

const std::string s_path = (std::filesystem::temp_directory_path() / "trivane-log-bench.txt").string();
const char* const s_message = "accepted connection #1234 from pipe gate_admin_daemon (3 of 3 instances)";
std::FILE* s_baseline = nullptr;

void log_trivane(benchmark::State& state) {
    if (state.thread_index() == 0) Console::instance()->setOutput(LogTrace, String(s_path.c_str()));
    for (auto _ : state) log(LogTrace, "xmlrpc.Server", "work", s_message);
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) Console::instance()->setOutput(LogTrace, "null"_s);
}

void log_fprintf(benchmark::State& state) {
    if (state.thread_index() == 0) s_baseline = std::fopen(s_path.c_str(), "w");
    const std::string line = "[xmlrpc-serv-con] TRACE xmlrpc.Server.work " + std::string(s_message);
    for (auto _ : state) {
        std::fprintf(s_baseline, "%s.%d %s\n", "10-12-26 19:30:09", 123, line.c_str());
        std::fflush(s_baseline);
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) std::fclose(s_baseline);
}

BENCHMARK(log_trivane)->Name("Log1Thread/trivane")->UseRealTime();
BENCHMARK(log_fprintf)->Name("Log1Thread/fprintf")->UseRealTime();
BENCHMARK(log_trivane)->Name("Log4Threads/trivane")->Threads(4)->UseRealTime();
BENCHMARK(log_fprintf)->Name("Log4Threads/fprintf")->Threads(4)->UseRealTime();

}  // namespace

// The console also prints every line on standard output: send that to
// /dev/null and report on standard error.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove(s_path);
    return 0;
}
