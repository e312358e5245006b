#include "PluginTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

#include "settings/Registry.h"

ConfigFolder::ConfigFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tonalis-plugins-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* old = std::getenv("TONALIS_CONFIG_DIR")) {
        saved_ = old;
        hadSaved_ = true;
    }
    ::setenv("TONALIS_CONFIG_DIR", path_.c_str(), 1);
}

ConfigFolder::~ConfigFolder() {
    if (hadSaved_)
        ::setenv("TONALIS_CONFIG_DIR", saved_.c_str(), 1);
    else
        ::unsetenv("TONALIS_CONFIG_DIR");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteEnhancerValues(const EnhancerParameters& v) {
    const std::pair<const char*, int> values[] = {
        {"Ambience", v.ambience},     {"Ambience Range", v.ambienceRange},
        {"Boosted", v.boosted},       {"Drum Bass", v.drumBass},
        {"Drum Bass range", v.drumBassRange}, {"Dry Signal", v.drySignal},
        {"Harm Bass", v.harmBass},    {"Harm Bass range", v.harmBassRange},
        {"Harm Treble", v.harmTreble}, {"Harm Treble Range", v.harmTrebleRange},
        {"Volume", v.volume},         {"Window State", v.windowState},
    };
    for (const auto& [name, value] : values)
        WriteReg(RegistryRoot::LocalMachine, "Software\\Merrowind\\Enhancer\\Version 017", name, value);
}

std::string EnhancerLibrary() { return DSP_ENH_PATH; }
std::string Mfx2Library() { return DSP_MFX2_PATH; }

PluginRunner::PluginRunner(const std::string& library, int rate, int channels, int framesPerBuffer)
    : library_(library), channels_(channels), framesPerBuffer_(framesPerBuffer),
      format_(PcmBuildFormat(16, channels, static_cast<uint32_t>(rate))) {}

void PluginRunner::Init() {
    if (!host_.LoadPlugIn(library_)) throw std::runtime_error("cannot load " + library_);
    host_.SetPWaveFormat(&format_);
    host_.SetBufferSize(framesPerBuffer_ * channels_ * 2);
    host_.Opened();
    host_.InitModule();
    host_.Started();
    storage_.assign(sizeof(TMMAudioBuffer) + static_cast<size_t>(host_.BufferSize()), 0);
}

void PluginRunner::Restart() { host_.RestartModule(); }

void PluginRunner::Process(Samples& samples) {
    auto* header = reinterpret_cast<TMMAudioBuffer*>(storage_.data());
    const size_t capacity = static_cast<size_t>(host_.BufferSize()) / 2;
    for (size_t at = 0; at < samples.size(); at += capacity) {
        const size_t n = std::min(capacity, samples.size() - at);
        *header = TMMAudioBuffer{};
        header->lpData = AudioBufferData(header);
        header->dwBufferLength = static_cast<uint32_t>(capacity * 2);
        header->dwBytesRecorded = static_cast<uint32_t>(n * 2);
        std::memcpy(header->lpData, samples.data() + at, n * 2);
        host_.BufferReady(header);
        if (header->dwBytesRecorded != n * 2) throw std::runtime_error("the module changed the length");
        std::memcpy(samples.data() + at, header->lpData, n * 2);
    }
}

Samples Sox(const std::string& effects, int rate, int channels) {
    const std::string command = "sox -q -n -t s16 -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                                " - " + effects + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run sox");
    Samples out;
    int16_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 2, 4096, pipe)) > 0) out.insert(out.end(), chunk, chunk + got);
    if (::pclose(pipe) != 0 || out.empty()) throw std::runtime_error("sox failed: " + command);
    return out;
}

Samples Tone(double frequency, double peakDbfs, double seconds, int rate, int channels) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    const double amplitude = 32768.0 * std::pow(10.0, peakDbfs / 20.0);
    Samples out(frames * static_cast<size_t>(channels));
    for (size_t f = 0; f < frames; ++f) {
        const double v = amplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(f) / rate);
        const auto s = static_cast<int16_t>(std::clamp(std::lround(v), -32768l, 32767l));
        for (int c = 0; c < channels; ++c) out[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = s;
    }
    return out;
}

Samples Sum(const Samples& a, const Samples& b) {
    Samples out(std::max(a.size(), b.size()));
    for (size_t i = 0; i < out.size(); ++i) {
        const int v = (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        out[i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
    return out;
}

Samples Concat(const Samples& a, const Samples& b) {
    Samples out(a);
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

double RmsDb(const Samples& s, int channels, int channel, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t f = from; f < to; ++f) {
        const double v = s[f * static_cast<size_t>(channels) + static_cast<size_t>(channel)] / 32768.0;
        sum += v * v;
    }
    return 10.0 * std::log10(std::max(sum / static_cast<double>(to - from), 1e-30));
}

int PeakValue(const Samples& s) {
    int peak = 0;
    for (int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
    return peak;
}

double PeakDb(const Samples& s) { return 20.0 * std::log10(std::max(PeakValue(s), 1) / 32768.0); }

double ToneDb(const Samples& s, int channels, int channel, size_t from, size_t to, double frequency, int rate) {
    double re = 0.0, im = 0.0;
    const double n = static_cast<double>(to - from);
    for (size_t f = from; f < to; ++f) {
        // A Hann window keeps the neighbouring components out of the bin.
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(f - from) / n);
        const double v = w * s[f * static_cast<size_t>(channels) + static_cast<size_t>(channel)] / 32768.0;
        const double phase = 2.0 * M_PI * frequency * static_cast<double>(f) / rate;
        re += v * std::cos(phase);
        im += v * std::sin(phase);
    }
    const double amplitude = 2.0 * std::sqrt(re * re + im * im) / (0.5 * n);
    return 20.0 * std::log10(std::max(amplitude, 1e-30));
}

int MaxStep(const Samples& s, int channels, int channel, size_t from, size_t to) {
    int step = 0;
    for (size_t f = std::max<size_t>(from, 1); f < to; ++f) {
        const size_t i = f * static_cast<size_t>(channels) + static_cast<size_t>(channel);
        step = std::max(step, std::abs(s[i] - s[i - static_cast<size_t>(channels)]));
    }
    return step;
}

std::vector<int> Channel(const Samples& s, int channels, int channel, size_t from, size_t to) {
    std::vector<int> out;
    for (size_t f = from; f < to; ++f) out.push_back(s[f * static_cast<size_t>(channels) + static_cast<size_t>(channel)]);
    return out;
}
