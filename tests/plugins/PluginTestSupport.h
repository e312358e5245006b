#pragma once
// Helpers of the plug-in tests: a private settings folder, the enhancer's values written the way
// the main window writes them, the real plug-in library run in the real host, test signals (made
// by sox or in code) and level measurements.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dsp/plugin/MMDSPPlugin.h"
#include "plugins/dsp_enh/EnhancerParameters.h"

using Samples = std::vector<int16_t>;

// Points the settings store at a fresh folder for the lifetime of the object.
class ConfigFolder {
public:
    ConfigFolder();
    ~ConfigFolder();
    ConfigFolder(const ConfigFolder&) = delete;
    ConfigFolder& operator=(const ConfigFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string saved_;
    bool hadSaved_ = false;
};

// Writes the twelve DWORD values of the enhancer key under their stored names.
void WriteEnhancerValues(const EnhancerParameters& values);

// The real dsp_enh.so (or another plug-in library) loaded into the real host and fed through its
// push path in buffers of `framesPerBuffer` frames.
class PluginRunner {
public:
    PluginRunner(const std::string& library, int rate, int channels, int framesPerBuffer);
    // Loads the library, opens the host and initialises module 0 (reading the settings).
    void Init();
    // The host's restart, which makes the module read its settings again.
    void Restart();
    // Processes interleaved frames in place, buffer by buffer.
    void Process(Samples& samples);
    Samples Processed(Samples samples) {
        Process(samples);
        return samples;
    }
    TMMDSPPlugin& Host() { return host_; }
    int Channels() const { return channels_; }

private:
    std::string library_;
    int channels_;
    int framesPerBuffer_;
    WAVEFORMATEX format_;
    TMMDSPPlugin host_;
    std::vector<uint8_t> storage_;
};

std::string EnhancerLibrary();
std::string Mfx2Library();

// Runs `sox -n` with `effects` (e.g. "synth 30 pinknoise gain -3") and returns the raw samples.
Samples Sox(const std::string& effects, int rate, int channels);
// A sine of `peakDbfs` on every channel.
Samples Tone(double frequency, double peakDbfs, double seconds, int rate, int channels);
// Sample-wise sum, saturating.
Samples Sum(const Samples& a, const Samples& b);
Samples Concat(const Samples& a, const Samples& b);

// Levels over frames [from, to) of one channel, in dBFS (full scale 32768).
double RmsDb(const Samples& s, int channels, int channel, size_t from, size_t to);
double PeakDb(const Samples& s);
int PeakValue(const Samples& s);
// Amplitude of the component at `frequency`, as the peak of a sine in dBFS.
double ToneDb(const Samples& s, int channels, int channel, size_t from, size_t to, double frequency, int rate);
// The largest sample-to-sample step of one channel over frames [from, to).
int MaxStep(const Samples& s, int channels, int channel, size_t from, size_t to);
// The frames [from, to) of one channel.
std::vector<int> Channel(const Samples& s, int channels, int channel, size_t from, size_t to);
