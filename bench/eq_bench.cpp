// The equalizer's hot path: the transforms it runs and the 31-band stereo block filter, reported
// as frames per second and as multiples of real time at 44.1 kHz.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/equalizer/MMEqualizer.h"
#include "dsp/fft/FFT.h"

namespace {

constexpr double Rate = 44100;

void BM_DoFFT1024(benchmark::State& state) {
    std::unique_ptr<TFFTPlan> plan(CreateFFTPlan(10));
    std::vector<float> data(2 * 1024);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-1, 1);
    for (auto& v : data) v = d(rng);
    for (auto _ : state) {
        DoFFT(plan.get(), data, 1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_DoFFT1024);

void BM_DoRealFFT8192(benchmark::State& state) {
    std::unique_ptr<TRealFFTPlan> plan(CreateRealFFTPlan(13));
    std::vector<float> data(8192);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> d(-1, 1);
    for (auto& v : data) v = d(rng);
    for (auto _ : state) {
        DoRealFFT(plan.get(), data, 1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 8192);
}
BENCHMARK(BM_DoRealFFT8192);

// The main window's equalizer: 31 bands on 44.1 kHz 16-bit stereo, FFTLength 2048, 8 KiB buffers.
void BM_Equalizer31Bands(benchmark::State& state) {
    const WAVEFORMATEX f = PcmBuildFormat(16, 2, 44100);
    TMMEqualizer eq;
    eq.SetFFTLength(2048);
    eq.SetPWaveFormat(&f);
    eq.SetBufferSize(8192);
    double lo = 20;
    for (int band = 0; band < 31; ++band) {
        const double hi = lo * std::pow(2.0, 1.0 / 3.0);
        eq.Filters().Add(new TMMEQFilter(float(lo), float(hi), float((band % 7) - 3)));
        lo = hi;
    }
    eq.Opened();
    eq.Started();
    std::vector<int16_t> samples(8192 / 2);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> d(-8000, 8000);
    for (auto& s : samples) s = static_cast<int16_t>(d(rng));
    TMMAudioBuffer b{};
    b.lpData = reinterpret_cast<uint8_t*>(samples.data());
    b.dwBufferLength = 8192;
    for (auto _ : state) {
        b.dwBytesRecorded = 8192;
        eq.BufferReady(&b);
        benchmark::ClobberMemory();
    }
    const double frames = double(state.iterations()) * 8192 / 4;
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.counters["xRealTime"] =
        benchmark::Counter(frames / Rate, benchmark::Counter::kIsRate); // seconds of audio per second
}
BENCHMARK(BM_Equalizer31Bands);

} // namespace

BENCHMARK_MAIN();
