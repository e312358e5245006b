#include "plugins/dsp_enh/EnhancerEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr double LevelTime = 0.030;

void applyRamp(float* samples, int n, const SmoothedValue::Ramp& ramp) {
    for (int i = 0; i < n; ++i) samples[i] *= ramp.at(i);
}
} // namespace

float EnhancerEngine::VolumeGainFor(int volume) {
    const int v = std::clamp(volume, 0, 100);
    return v == 50 ? 1.0f : std::pow(10.0f, 0.25f * static_cast<float>(v - 50) / 20.0f);
}

float EnhancerEngine::DryGainFor(int drySignal) {
    return static_cast<float>(std::clamp(drySignal, 0, 100)) / 100.0f;
}

void EnhancerEngine::init(double sampleRate, bool stereo) {
    stereo_ = stereo;
    compressor_.init(sampleRate);
    bass_.init(sampleRate);
    treble_.init(sampleRate);
    punch_.init(sampleRate);
    ambience_.init(sampleRate);
    limiter_.init(sampleRate, Ceiling);
    dry_.init(sampleRate, LevelTime, dry_.target());
    volume_.init(sampleRate, LevelTime, volume_.target());
}

void EnhancerEngine::update_settings(const EnhancerParameters& p) {
    compressor_.update_settings(p.boosted);
    bass_.update_settings(p.harmBass, p.harmBassRange);
    treble_.update_settings(p.harmTreble, p.harmTrebleRange);
    punch_.update_settings(p.drumBass, p.drumBassRange);
    ambience_.update_settings(p.ambience, p.ambienceRange);
    dry_.setTarget(DryGainFor(p.drySignal));
    volume_.setTarget(VolumeGainFor(p.volume));
}

void EnhancerEngine::reset() {
    compressor_.reset();
    bass_.reset();
    treble_.reset();
    punch_.reset();
    ambience_.reset();
    limiter_.reset();
    dry_.jumpTo(dry_.target());
    volume_.jumpTo(volume_.target());
}

void EnhancerEngine::process(float* left, float* right, int n) {
    n = std::clamp(n, 0, MaxBlock);
    if (n == 0) return;
    if (!stereo_) {
        // A mono channel runs as two equal channels; only the left one is kept.
        std::memcpy(monoRight_, left, sizeof(float) * static_cast<size_t>(n));
        right = monoRight_;
    }
    compressor_.process(left, right, n);

    std::memcpy(inLeft_, left, sizeof(float) * static_cast<size_t>(n));
    std::memcpy(inRight_, right, sizeof(float) * static_cast<size_t>(n));
    if (!dry_.isSteadyAt(1.0f)) {
        const SmoothedValue::Ramp dry = dry_.advance(n);
        applyRamp(left, n, dry);
        applyRamp(right, n, dry);
    }
    bass_.process(inLeft_, inRight_, left, right, n);
    treble_.process(inLeft_, inRight_, left, right, n);
    punch_.process(inLeft_, inRight_, left, right, n);
    if (stereo_) ambience_.process(left, right, n);

    if (!volume_.isSteadyAt(1.0f)) {
        const SmoothedValue::Ramp volume = volume_.advance(n);
        applyRamp(left, n, volume);
        applyRamp(right, n, volume);
    }
    limiter_.process(left, right, n);
}
