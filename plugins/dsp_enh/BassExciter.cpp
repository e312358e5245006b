#include "plugins/dsp_enh/BassExciter.h"

#include <algorithm>
#include <cmath>

namespace {
// At 100 the octave comes out about 4 dB under the bass it grows from; the start value is
// about 17 dB under it, a lift that is felt more than heard.
constexpr float MaxMix = 1.5f;
constexpr double MixTime = 0.040;
} // namespace

double BassExciter::CornerFor(int range) { return 40.0 * std::pow(8.0, std::clamp(range, 0, 100) / 100.0); }

void BassExciter::init(double sampleRate) {
    rate_ = sampleRate;
    mix_.init(sampleRate, MixTime, mix_.target());
    if (corner_.target() <= 0.0) corner_.jumpTo(CornerFor(0));
    reset();
}

void BassExciter::reset() {
    lowA_.reset();
    lowB_.reset();
    highPass_.reset();
    lowPass_.reset();
    mix_.jumpTo(mix_.target());
    corner_.jumpTo(corner_.target());
    design(corner_.current());
    idle_ = mix_.isSteadyAt(0.0f);
}

void BassExciter::design(double corner) {
    // Butterworth fourth order as two sections.
    lowA_.setLowPass(rate_, corner, 0.5411961);
    lowB_.setLowPass(rate_, corner, 1.3065630);
    highPass_.setHighPass(rate_, corner);
    lowPass_.setLowPass(rate_, std::min(4.0 * corner, 0.4 * rate_));
}

void BassExciter::update_settings(int amount, int range) {
    mix_.setTarget(MaxMix * static_cast<float>(std::clamp(amount, 0, 100)) / 100.0f);
    corner_.setTarget(CornerFor(range));
}

void BassExciter::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int n) {
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
    for (int i = 0; i < n; ++i) {
        const float bass = lowB_.process(lowA_.process(0.5f * (inLeft[i] + inRight[i])));
        const float harmonics = lowPass_.process(highPass_.process(std::fabs(bass)));
        const float add = mix.at(i) * harmonics;
        outLeft[i] += add;
        outRight[i] += add;
    }
    lowA_.flushTiny();
    lowB_.flushTiny();
    highPass_.flushTiny();
    lowPass_.flushTiny();
}
