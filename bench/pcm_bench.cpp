// Throughput of the PCM routines every chain runs per buffer, over 64 KiB blocks.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "stream/PcmRoutines.h"

namespace {

constexpr int BlockBytes = 64 * 1024;

std::vector<int16_t> noise(size_t samples, int amplitude) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<int16_t> v(samples);
    for (auto& s : v) s = static_cast<int16_t>(d(rng));
    return v;
}

void BM_PcmScaleVolume(benchmark::State& state) {
    const auto f = PcmBuildFormat(16, 2, 44100);
    auto data = noise(BlockBytes / 2, 20000);
    for (auto _ : state) {
        bool clipped = PcmScaleVolume(&f, reinterpret_cast<uint8_t*>(data.data()), BlockBytes, 16000, 16500);
        benchmark::DoNotOptimize(clipped);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * BlockBytes);
}
BENCHMARK(BM_PcmScaleVolume);

void BM_PcmMixStereo16(benchmark::State& state) {
    std::vector<std::vector<int16_t>> sources;
    std::vector<const int16_t*> ptrs;
    for (int i = 0; i < 4; ++i) sources.push_back(noise(BlockBytes / 2, 8000));
    for (auto& s : sources) ptrs.push_back(s.data());
    std::vector<int16_t> out(BlockBytes / 2);
    for (auto _ : state) {
        bool clipped = PcmMixStereo16(BlockBytes, ptrs.data(), 4, 12000, 12000, nullptr, out.data());
        benchmark::DoNotOptimize(clipped);
        benchmark::ClobberMemory();
    }
    // Bytes of output produced (each reads four sources).
    state.SetBytesProcessed(state.iterations() * BlockBytes);
}
BENCHMARK(BM_PcmMixStereo16);

void BM_PcmFindPeak(benchmark::State& state) {
    const auto f = PcmBuildFormat(16, 2, 44100);
    auto data = noise(BlockBytes / 2, 30000);
    for (auto _ : state) {
        int32_t l, r;
        PcmFindPeak(&f, reinterpret_cast<const uint8_t*>(data.data()), BlockBytes, l, r);
        benchmark::DoNotOptimize(l);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(state.iterations() * BlockBytes);
}
BENCHMARK(BM_PcmFindPeak);

} // namespace

BENCHMARK_MAIN();
