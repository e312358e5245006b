// Complex and real transforms at the lengths the equalizer and the analysers use.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "dsp/fft/FFTPlan.h"
#include "dsp/fft/RealFFTPlan.h"

namespace {

std::vector<float> RandomData(size_t n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = dist(rng);
    return v;
}

void BM_ComplexFFT(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    std::unique_ptr<TFFTPlan> plan(CreateFFTPlan(bits));
    std::vector<float> data = RandomData(2 * plan->Length);
    // Forward then inverse keeps the data bounded however many iterations run.
    for (auto _ : state) {
        DoFFT(plan.get(), data, 1);
        DoFFT(plan.get(), data, -1);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetItemsProcessed(2 * state.iterations());
    state.SetLabel(std::to_string(plan->Length) + " points, forward + inverse");
}

void BM_RealFFT(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    std::unique_ptr<TRealFFTPlan> plan(CreateRealFFTPlan(bits));
    const std::vector<float> source = RandomData(plan->Length);
    std::vector<float> data = source;
    for (auto _ : state) {
        data = source;
        DoRealFFT(plan.get(), data, 1);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(plan->Length) + " points");
}

BENCHMARK(BM_ComplexFFT)->Arg(8)->Arg(10)->Arg(12);
BENCHMARK(BM_RealFFT)->Arg(8)->Arg(10)->Arg(12);

} // namespace

BENCHMARK_MAIN();
