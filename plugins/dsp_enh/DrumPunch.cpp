#include "plugins/dsp_enh/DrumPunch.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double HoldTime = 0.035; // longer than the period of 30 Hz
constexpr double HeldReleaseTime = 0.040;
constexpr double AverageTime = 0.060;
constexpr double BoostAttackTime = 0.002;
constexpr double BoostReleaseTime = 0.060;
// Below -80 dBFS there is no drum to lift, only noise.
constexpr float OnsetFloor = 1e-4f;
} // namespace

double DrumPunch::CornerFor(int range) { return 50.0 * std::pow(4.0, std::clamp(range, 0, 100) / 100.0); }

float DrumPunch::MaxBoostDbFor(int amount) { return 9.0f * static_cast<float>(std::clamp(amount, 0, 100)) / 100.0f; }

void DrumPunch::init(double sampleRate) {
    rate_ = sampleRate;
    holdSamples_ = HoldTime * sampleRate;
    cachedBlock_ = -1;
    if (corner_.target() <= 0.0) corner_.jumpTo(CornerFor(0));
    reset();
}

void DrumPunch::reset() {
    lowLeft_.reset();
    lowRight_.reset();
    held_ = average_ = boostDb_ = extra_ = 0.0f;
    heldFor_ = 0.0;
    corner_.jumpTo(corner_.target());
    design(corner_.current());
    idle_ = maxBoostDb_ == 0.0f;
}

void DrumPunch::design(double corner) {
    lowLeft_.setLowPass(rate_, corner);
    lowRight_.setLowPass(rate_, corner);
}

void DrumPunch::update_settings(int amount, int range) {
    maxBoostDb_ = MaxBoostDbFor(amount);
    corner_.setTarget(CornerFor(range));
}

void DrumPunch::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int n) {
    if (maxBoostDb_ == 0.0f && boostDb_ == 0.0f && extra_ == 0.0f) {
        if (!idle_) reset();
        return;
    }
    if (idle_) {
        idle_ = false;
        corner_.jumpTo(corner_.target());
        design(corner_.current());
    }
    for (int at = 0; at < n; at += Chunk) {
        const int m = std::min(Chunk, n - at);
        processChunk(inLeft + at, inRight + at, outLeft + at, outRight + at, m);
    }
}

void DrumPunch::processChunk(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int n) {
    const bool gliding = corner_.advance();
    if (gliding) design(corner_.current());
    if (n != cachedBlock_) {
        cachedBlock_ = n;
        heldRelease_ = static_cast<float>(std::exp(-n / (HeldReleaseTime * rate_)));
        averageCoef_ = static_cast<float>(1.0 - std::exp(-n / (AverageTime * rate_)));
        boostAttack_ = static_cast<float>(1.0 - std::exp(-n / (BoostAttackTime * rate_)));
        boostRelease_ = static_cast<float>(1.0 - std::exp(-n / (BoostReleaseTime * rate_)));
    }

    float peak = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float l = lowLeft_.process(inLeft[i]);
        const float r = lowRight_.process(inRight[i]);
        lowLeftBlock_[i] = l;
        lowRightBlock_[i] = r;
        peak = std::max(peak, std::max(std::fabs(l), std::fabs(r)));
    }
    lowLeft_.flushTiny();
    lowRight_.flushTiny();

    if (peak >= held_) {
        held_ = peak;
        heldFor_ = 0.0;
    } else if (heldFor_ < holdSamples_) {
        heldFor_ += n;
    } else {
        held_ *= heldRelease_;
    }
    average_ += (held_ - average_) * averageCoef_;
    // A moving corner changes how much of the signal the band holds; that is not an onset.
    if (gliding) average_ = held_;
    if (held_ < 1e-12f) held_ = 0.0f;
    if (average_ < 1e-12f) average_ = 0.0f;

    const float onset = held_ > OnsetFloor && held_ > average_ ? (held_ - average_) / held_ : 0.0f;
    const float targetDb = maxBoostDb_ * std::min(1.0f, 2.0f * onset);
    boostDb_ += (targetDb - boostDb_) * (targetDb > boostDb_ ? boostAttack_ : boostRelease_);
    if (targetDb == 0.0f && boostDb_ < 1e-4f) boostDb_ = 0.0f;

    const float extra = boostDb_ == 0.0f ? 0.0f : std::exp(boostDb_ * 0.11512925f) - 1.0f;
    const float step = (extra - extra_) / static_cast<float>(n);
    if (extra == 0.0f && extra_ == 0.0f) return;
    float e = extra_;
    for (int i = 0; i < n; ++i) {
        e += step;
        outLeft[i] += e * lowLeftBlock_[i];
        outRight[i] += e * lowRightBlock_[i];
    }
    extra_ = extra;
}
