// Strings and the memory block pool against the standard library.
#include "base/memoryblock.h"
#include "base/string.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <string>

using namespace trivane;

namespace {

void copy1KiB_trivane(benchmark::State& state) {
    const String source = String(std::string(1024, 'x').c_str());
    for (auto _ : state) {
        String copy = source;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(copy1KiB_trivane)->Name("StringCopy1KiB/trivane");

void copy1KiB_std(benchmark::State& state) {
    const std::string source(1024, 'x');
    for (auto _ : state) {
        std::string copy = source;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(copy1KiB_std)->Name("StringCopy1KiB/std");

// The floor of any thread-safe shared copy: one atomic increment and one
// atomic decrement of a counter.
void copy1KiB_atomicPair(benchmark::State& state) {
    std::atomic<int> count{1};
    for (auto _ : state) {
        count.fetch_add(1, std::memory_order_relaxed);
        benchmark::DoNotOptimize(count.fetch_sub(1, std::memory_order_acq_rel));
    }
}
BENCHMARK(copy1KiB_atomicPair)->Name("StringCopy1KiB/atomic-pair");

// Twenty pieces of a typical log line: names, separators and numbers.
const char* const kPieces[20] = {"[",   "xmlrpc-serv-con", "] ",   "TRACE", " ",    "xmlrpc.Server", ".",
                                 "work", " ",               "accepted connection", " #", "1234", " from ", "pipe",
                                 " (",   "3",               " of ", "256",   ")",    " ok"};

void concat20_trivane(benchmark::State& state) {
    String p[20];
    for (int i = 0; i < 20; ++i) p[i] = String(kPieces[i]);
    for (auto _ : state) {
        String s = p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7] + p[8] + p[9] + p[10] + p[11] + p[12] +
                   p[13] + p[14] + p[15] + p[16] + p[17] + p[18] + p[19];
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(concat20_trivane)->Name("Concat20/trivane");

void concat20_std(benchmark::State& state) {
    std::string p[20];
    for (int i = 0; i < 20; ++i) p[i] = kPieces[i];
    for (auto _ : state) {
        std::string s;
        for (const std::string& piece : p) s += piece;
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(concat20_std)->Name("Concat20/std");

void concat20_stdReserve(benchmark::State& state) {
    std::string p[20];
    size_t total = 0;
    for (int i = 0; i < 20; ++i) total += (p[i] = kPieces[i]).size();
    for (auto _ : state) {
        std::string s;
        s.reserve(total);
        for (const std::string& piece : p) s += piece;
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(concat20_stdReserve)->Name("Concat20/std-reserve");

void pool_trivane(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        gc::Pointer<MemoryBlock> block(MemoryBlock::get(size));
        benchmark::DoNotOptimize(block.get());
    }
}
BENCHMARK(pool_trivane)->Name("PoolTakeReturn/trivane")->Arg(100);

void pool_malloc(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}
BENCHMARK(pool_malloc)->Name("PoolTakeReturn/malloc")->Arg(100);

// The floor of a lock-free slot pool: one atomic exchange to take, one to return.
void pool_exchangePair(benchmark::State& state) {
    static int slotBlock;
    std::atomic<int*> slot{&slotBlock};
    for (auto _ : state) {
        int* taken = slot.exchange(nullptr, std::memory_order_acquire);
        benchmark::DoNotOptimize(taken);
        benchmark::DoNotOptimize(slot.exchange(taken, std::memory_order_acq_rel));
    }
}
BENCHMARK(pool_exchangePair)->Name("PoolTakeReturn/exchange-pair")->Arg(100);

}  // namespace

BENCHMARK_MAIN();
