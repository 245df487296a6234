// Codec throughput on 1 MiB blocks; both directions count the raw bytes (1 MiB per
// iteration), so the decoder reads 2 MiB of text for its 1 MiB.
#include "text/HexCodec.h"

#include <benchmark/benchmark.h>
#include <random>
#include <vector>

namespace
{

constexpr std::uint32_t kBlock = 1u << 20;

std::vector<std::uint8_t> RandomBytes()
{
    std::vector<std::uint8_t> bytes(kBlock);
    std::mt19937 random(1);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

void BM_BytesToHex(benchmark::State& state)
{
    const auto bytes = RandomBytes();
    std::vector<char> text(2 * kBlock);
    for (auto _ : state)
    {
        BytesToHex(bytes.data(), kBlock, text.data());
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_BytesToHex);

void BM_HexToBytes(benchmark::State& state)
{
    const auto original = RandomBytes();
    std::vector<char> text(2 * kBlock);
    BytesToHex(original.data(), kBlock, text.data());
    std::vector<std::uint8_t> bytes(kBlock);
    std::uint32_t count = 0;
    for (auto _ : state)
    {
        HexToBytes(text.data(), 2 * kBlock, bytes.data(), &count);
        benchmark::DoNotOptimize(bytes.data());
        benchmark::ClobberMemory();
    }
    if (bytes != original || count != kBlock)
        state.SkipWithError("decoding did not give the bytes back");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_HexToBytes);

} // namespace
