// dsp_enh.so as the main window runs it: its start values, 44.1 kHz stereo, one buffer after
// another on one core. "x_realtime" is seconds of audio processed per second (aim: 300 or more).

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "plugins/dsp_plugin.h"
#include "settings/Registry.h"

namespace {

constexpr int Rate = 44100;

// A settings folder of our own with the values the main window writes at start.
void writeStartValues() {
    static std::string folder;
    if (!folder.empty()) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "tonalis-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    folder = pattern;
    setenv("TONALIS_CONFIG_DIR", folder.c_str(), 1);
    const std::pair<const char*, int> values[] = {
        {"Ambience", 0},   {"Ambience Range", 0}, {"Boosted", 0},     {"Drum Bass", 23},
        {"Drum Bass range", 20}, {"Dry Signal", 100}, {"Harm Bass", 23}, {"Harm Bass range", 18},
        {"Harm Treble", 29}, {"Harm Treble Range", 38}, {"Volume", 53}, {"Window State", 0},
    };
    for (const auto& [name, value] : values)
        WriteReg(RegistryRoot::LocalMachine, "Software\\Merrowind\\Enhancer\\Version 017", name, value);
}

// Music-like material: pink-ish noise around -16 dBFS RMS with a bass line and kick-like hits,
// loud enough that the compressor and the exciters all work.
std::vector<int16_t> material(size_t frames) {
    std::mt19937 random(1);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<int16_t> out(frames * 2);
    double b0 = 0, b1 = 0, b2 = 0;
    for (size_t f = 0; f < frames; ++f) {
        const double w = white(random);
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        const double pink = (b0 + b1 + b2 + w * 0.1848) * 0.05;
        const double t = static_cast<double>(f % (Rate / 2)) / Rate;
        const double kick = 0.4 * std::exp(-t / 0.08) * std::sin(2 * M_PI * 55 * t);
        const double bass = 0.15 * std::sin(2 * M_PI * 82.4 * static_cast<double>(f) / Rate);
        for (int c = 0; c < 2; ++c) {
            const double v = 32768 * (pink * (c ? 0.9 : 1.1) + kick + bass);
            out[2 * f + c] = static_cast<int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, v))));
        }
    }
    return out;
}

struct Enhancer {
    void* library = nullptr;
    DSPModuleA* module = nullptr;

    explicit Enhancer(int framesPerBuffer) {
        writeStartValues();
        library = dlopen(DSP_ENH_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        auto get = reinterpret_cast<DSPPluginGetHeader>(dlsym(library, "winampDSPGetHeader"));
        module = get ? static_cast<DSPModuleA*>(get()->getModule(0)) : nullptr;
        if (!module) return;
        module->sRate = Rate;
        module->nCh = 2;
        module->framesPerBuffer = framesPerBuffer;
        if (module->Init(module) != 0) module = nullptr;
    }
    ~Enhancer() {
        if (module) module->Quit(module);
        if (library) dlclose(library);
    }
};

void run(benchmark::State& state, bool silent) {
    const int frames = static_cast<int>(state.range(0));
    Enhancer enhancer(frames);
    if (!enhancer.module) {
        state.SkipWithError("dsp_enh.so did not load or initialise");
        return;
    }
    // Ten seconds of material, processed buffer by buffer in a loop.
    const std::vector<int16_t> source = material(10 * Rate);
    std::vector<int16_t> buffer(static_cast<size_t>(frames) * 2);
    const size_t buffers = source.size() / buffer.size();
    if (silent) {
        // Silence after a loud passage: every tail decays towards zero while we measure.
        for (size_t b = 0; b < buffers; ++b) {
            std::copy_n(source.begin() + static_cast<long>(b * buffer.size()), buffer.size(), buffer.begin());
            enhancer.module->Process(enhancer.module, buffer.data());
        }
    }
    size_t next = 0;
    for (auto _ : state) {
        if (silent)
            std::fill(buffer.begin(), buffer.end(), 0);
        else
            std::copy_n(source.begin() + static_cast<long>(next * buffer.size()), buffer.size(), buffer.begin());
        enhancer.module->Process(enhancer.module, buffer.data());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
        next = next + 1 == buffers ? 0 : next + 1;
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * frames / Rate, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * frames);
}

void BM_EnhancerStartValues(benchmark::State& state) { run(state, false); }
BENCHMARK(BM_EnhancerStartValues)->Arg(64)->Arg(1024)->Arg(4096);

void BM_EnhancerStartValuesSilence(benchmark::State& state) { run(state, true); }
BENCHMARK(BM_EnhancerStartValuesSilence)->Arg(1024);

} // namespace

BENCHMARK_MAIN();
