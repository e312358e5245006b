#include "plugins/dsp_enh/TrebleExciter.h"

#include <algorithm>
#include <cmath>

namespace {
// The harmonic of a steady tone is half the band's level; at 100 it is mixed in at 0.6 of that
// (about 10 dB under the band), the start value 29 puts it about 21 dB under.
constexpr float MaxMix = 0.6f;
constexpr double MixTime = 0.040;
constexpr double EnvelopeReleaseTime = 0.020;
// The envelope never divides by less than this (-120 dBFS).
constexpr float EnvelopeFloor = 1e-6f;
} // namespace

double TrebleExciter::CornerFor(int range) { return 9000.0 * std::pow(6.0, -std::clamp(range, 0, 100) / 100.0); }

void TrebleExciter::init(double sampleRate) {
    rate_ = sampleRate;
    envelopeRelease_ = static_cast<float>(std::exp(-1.0 / (EnvelopeReleaseTime * sampleRate)));
    mix_.init(sampleRate, MixTime, mix_.target());
    if (corner_.target() <= 0.0) corner_.jumpTo(CornerFor(0));
    reset();
}

void TrebleExciter::reset() {
    for (Biquad* b : {&bandHighLeft_, &bandHighRight_, &bandLowLeft_, &bandLowRight_, &outHighLeft_, &outHighRight_})
        b->reset();
    envelope_ = 0.0f;
    mix_.jumpTo(mix_.target());
    corner_.jumpTo(corner_.target());
    design(corner_.current());
    idle_ = mix_.isSteadyAt(0.0f);
}

void TrebleExciter::design(double corner) {
    // Low rates squeeze the band: it always spans at least 20 % of its top.
    const double top = 0.24 * rate_;
    const double bottom = std::min(corner, 0.8 * top);
    bandHighLeft_.setHighPass(rate_, bottom);
    bandHighRight_.setHighPass(rate_, bottom);
    bandLowLeft_.setLowPass(rate_, top);
    bandLowRight_.setLowPass(rate_, top);
    outHighLeft_.setHighPass(rate_, bottom);
    outHighRight_.setHighPass(rate_, bottom);
}

void TrebleExciter::update_settings(int amount, int range) {
    mix_.setTarget(MaxMix * static_cast<float>(std::clamp(amount, 0, 100)) / 100.0f);
    corner_.setTarget(CornerFor(range));
}

void TrebleExciter::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                            int n) {
    if (mix_.isSteadyAt(0.0f)) {
        if (!idle_) reset();
        return;
    }
    if (idle_) {
        // Coming back from rest with empty filters: the new corner can be taken as it is.
        idle_ = false;
        corner_.jumpTo(corner_.target());
        design(corner_.current());
    } else if (corner_.advance()) {
        design(corner_.current());
    }
    const SmoothedValue::Ramp mix = mix_.advance(n);
    float envelope = envelope_;
    for (int i = 0; i < n; ++i) {
        const float l = bandLowLeft_.process(bandHighLeft_.process(inLeft[i]));
        const float r = bandLowRight_.process(bandHighRight_.process(inRight[i]));
        // Instant attack keeps l*l/envelope within the band's own level.
        envelope = std::max(std::max(std::fabs(l), std::fabs(r)), envelope * envelopeRelease_);
        const float scale = mix.at(i) / std::max(envelope, EnvelopeFloor);
        outLeft[i] += outHighLeft_.process(l * l * scale);
        outRight[i] += outHighRight_.process(r * r * scale);
    }
    envelope_ = envelope < 1e-12f ? 0.0f : envelope;
    for (Biquad* b : {&bandHighLeft_, &bandHighRight_, &bandLowLeft_, &bandLowRight_, &outHighLeft_, &outHighRight_})
        b->flushTiny();
}
