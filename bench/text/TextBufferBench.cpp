// Receive log growth: 512-character blocks (one full 256-byte read as hex) appended until the
// text reaches the size given as the argument. "per_append" staying flat from 1 MiB to 64 MiB
// shows that appending is amortised constant; "maxrss_MiB" is the process's peak resident
// size so far (benchmarks run in order of size, so it belongs to the largest run yet).
//
// Every size starts from fresh memory, as the one long growth of a real log does: without a
// fixed mmap threshold, glibc would keep the smaller blocks in its heap between iterations,
// already paged in, and only the large runs would pay for first touching their pages.
#include "text/TextBuffer.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <sys/resource.h>

namespace
{

const std::string kBlock(512, 'A');

double PeakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
}

void BM_TextBufferAppend(benchmark::State& state)
{
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const auto target = state.range(0);
    const std::int64_t appends = target / static_cast<std::int64_t>(kBlock.size());
    int capacity = 0;
    for (auto _ : state)
    {
        CTextBuffer buffer;
        for (std::int64_t i = 0; i < appends; ++i)
            buffer.Append(kBlock.c_str());
        benchmark::DoNotOptimize(buffer.GetText());
        capacity = buffer.GetCapacity();
        if (buffer.GetLength() != target)
            state.SkipWithError("the buffer refused an append");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * target);
    state.counters["per_append"] = benchmark::Counter(
        static_cast<double>(appends),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["capacity_MiB"] = static_cast<double>(capacity) / (1 << 20);
    state.counters["maxrss_MiB"] = PeakResidentMiB();
}
BENCHMARK(BM_TextBufferAppend)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);

// The floor for the run above: the same blocks copied into one fresh block of the final size,
// with no growth at all. Past the cache, first touching fresh pages dominates both.
void BM_FreshBlockBaseline(benchmark::State& state)
{
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const auto target = static_cast<std::size_t>(state.range(0));
    for (auto _ : state)
    {
        auto* block = static_cast<char*>(std::malloc(target + 1));
        for (std::size_t at = 0; at + kBlock.size() <= target; at += kBlock.size())
            std::memcpy(block + at, kBlock.data(), kBlock.size());
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    state.counters["per_append"] = benchmark::Counter(
        static_cast<double>(target / kBlock.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FreshBlockBaseline)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);

// Steady state at the size limit: when an append is refused, the oldest eighth of the text
// is discarded, the way the window keeps the newest data of a long session.
void BM_TextBufferAppendAtLimit(benchmark::State& state)
{
    const int limit = static_cast<int>(state.range(0));
    CTextBuffer buffer(limit);
    const int blockLength = static_cast<int>(kBlock.size());
    while (buffer.GetLength() + blockLength <= limit)
        buffer.Append(kBlock.c_str(), blockLength);
    for (auto _ : state)
    {
        if (buffer.GetLength() + blockLength > limit)
            buffer.DiscardPrefix(limit / 8);
        buffer.Append(kBlock.c_str(), blockLength);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * blockLength);
}
BENCHMARK(BM_TextBufferAppendAtLimit)->Arg(64 << 20);

} // namespace
