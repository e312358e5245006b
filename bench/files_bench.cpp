// File decoding speed as multiples of real time: a 10-minute 16-bit stereo WAV read through the
// RIFF layer, and a 10-minute IMA ADPCM WAV decoded through a conversion chain, beside sox doing
// the same decode to /dev/null in the same run. The aim is to be at least as fast as sox.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/converters/ConversionChain.h"
#include "files/riff/RiffWave.h"

namespace {

constexpr double AudioSeconds = 600;

struct Files {
    std::string folder, pcm, ima;
    bool ready = false;
};

// Made once per run by sox: 10 minutes of a sweep and noise, as PCM and as IMA ADPCM.
const Files& files() {
    static const Files f = [] {
        Files made;
        std::string pattern = (std::filesystem::temp_directory_path() / "tonalis-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return made;
        made.folder = pattern;
        made.pcm = made.folder + "/pcm16.wav";
        made.ima = made.folder + "/ima.wav";
        const std::string make = "sox -D -V1 -n -r 44100 -c 2 -b 16 '" + made.pcm +
                                 "' synth 600 sine 60-9000 brownnoise gain -n -1 && sox -D -V1 '" + made.pcm +
                                 "' -e ima-adpcm '" + made.ima + "'";
        made.ready = std::system(make.c_str()) == 0;
        return made;
    }();
    return f;
}

double oursIma = 0, soxIma = 0;

// Reads the whole data of a file; with `decode`, converts it to 16-bit PCM on the way.
size_t readFile(const std::string& path, bool decode) {
    PRiffWaveInfo info;
    if (RiffWaveOpen(path, info) != rcOK || RiffWaveReopen(info.get()) != rcOK) return 0;
    RiffWaveSetIOBuffer(info.get(), 65536);
    const WAVEFORMATEX* f = info->Format.get();
    const WAVEFORMATEX target = PcmBuildFormat(16, f->nChannels, f->nSamplesPerSec);
    PConversionChain chain = decode ? CreateConversion(f, &target, cqLow, 8192) : nullptr;
    std::vector<uint8_t> buffer(8192);
    size_t produced = 0;
    for (;;) {
        uint8_t* into = chain ? ConversionInput(*chain) : buffer.data();
        const int32_t room = chain ? static_cast<int32_t>(ConversionInputRoom(*chain)) : 8192;
        const int32_t n = RiffWaveRead(info.get(), into, room);
        if (n <= 0) break;
        if (chain) {
            produced += static_cast<size_t>(std::max(0, ConvertChunk(*chain, static_cast<uint32_t>(n))));
            benchmark::DoNotOptimize(ConversionOutput(*chain));
        } else {
            produced += static_cast<size_t>(n);
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    if (chain) produced += static_cast<size_t>(std::max(0, DrainConversion(*chain, 0)));
    return produced;
}

void BM_ReadPcmWave(benchmark::State& state) {
    if (!files().ready) return state.SkipWithError("sox is missing");
    for (auto _ : state)
        benchmark::DoNotOptimize(readFile(files().pcm, false));
    state.counters["x_realtime"] = benchmark::Counter(AudioSeconds * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_DecodeImaAdpcm(benchmark::State& state) {
    if (!files().ready) return state.SkipWithError("sox is missing");
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(readFile(files().ima, true));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    oursIma = AudioSeconds * static_cast<double>(state.iterations()) / elapsed;
    state.counters["x_realtime"] = benchmark::Counter(AudioSeconds * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_SoxDecodeImaAdpcm(benchmark::State& state) {
    if (!files().ready) return state.SkipWithError("sox is missing");
    const std::string command = "sox -D -V1 '" + files().ima + "' -t raw -e signed-integer -b 16 /dev/null";
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) return state.SkipWithError("sox failed");
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    soxIma = AudioSeconds * static_cast<double>(state.iterations()) / elapsed;
    state.counters["x_realtime"] = benchmark::Counter(AudioSeconds * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ReadPcmWave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeImaAdpcm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SoxDecodeImaAdpcm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (oursIma > 0 && soxIma > 0)
        std::printf("IMA ADPCM decode: %.0fx real time, sox %.0fx: %.2f times as fast as sox\n", oursIma,
                    soxIma, oursIma / soxIma);
    if (!files().folder.empty()) std::filesystem::remove_all(files().folder);
    return 0;
}
