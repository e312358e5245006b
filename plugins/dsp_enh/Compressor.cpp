#include "plugins/dsp_enh/Compressor.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double DetectorTime = 0.015;
constexpr double FastAttackTime = 0.010;
constexpr double FastReleaseTime = 0.150;
constexpr double SlowAttackTime = 0.500;
constexpr double SlowReleaseTime = 1.5;
constexpr double MakeupTime = 0.050;
// Below this much reduction a follower is at rest; snapping it keeps quiet passages exact.
constexpr float RestingDb = 1e-5f;
} // namespace

Compressor::Curve Compressor::CurveFor(int boosted) {
    const float b = static_cast<float>(std::clamp(boosted, 0, 100));
    return {-16.0f - 0.12f * b, 1.6f + 0.014f * b, 8.0f, 0.08f * b};
}

float Compressor::GainReductionDb(float levelDb, const Curve& curve) {
    const float over = levelDb - curve.thresholdDb;
    const float slope = 1.0f - 1.0f / curve.ratio;
    const float halfKnee = 0.5f * curve.kneeDb;
    if (over <= -halfKnee) return 0.0f;
    if (over >= halfKnee) return over * slope;
    const float x = over + halfKnee;
    return slope * x * x / (2.0f * curve.kneeDb);
}

void Compressor::init(double sampleRate) {
    rate_ = sampleRate;
    detectorCoef_ = static_cast<float>(1.0 - std::exp(-1.0 / (DetectorTime * sampleRate)));
    makeupDb_.init(sampleRate, MakeupTime, curve_.makeupDb);
    cachedBlock_ = -1;
    reset();
}

void Compressor::reset() {
    power_ = 0.0f;
    fastDb_ = slowDb_ = 0.0f;
    makeupDb_.jumpTo(curve_.makeupDb);
    gain_ = std::pow(10.0f, curve_.makeupDb / 20.0f);
}

void Compressor::update_settings(int boosted) {
    curve_ = CurveFor(boosted);
    makeupDb_.setTarget(curve_.makeupDb);
}

float Compressor::blockCoefficient(int n, double tauSeconds) const {
    return static_cast<float>(1.0 - std::exp(-n / (tauSeconds * rate_)));
}

void Compressor::process(float* left, float* right, int n) {
    if (n <= 0) return;
    if (n != cachedBlock_) {
        cachedBlock_ = n;
        fastAttack_ = blockCoefficient(n, FastAttackTime);
        fastRelease_ = blockCoefficient(n, FastReleaseTime);
        slowAttack_ = blockCoefficient(n, SlowAttackTime);
        slowRelease_ = blockCoefficient(n, SlowReleaseTime);
    }

    float p = power_;
    for (int i = 0; i < n; ++i) {
        const float s = 0.5f * (left[i] * left[i] + right[i] * right[i]);
        p += (s - p) * detectorCoef_;
    }
    if (p < 1e-20f) p = 0.0f;
    power_ = p;

    const float levelDb = 10.0f * std::log10(std::max(p, 1e-20f));
    const float target = GainReductionDb(levelDb, curve_);
    fastDb_ += (target - fastDb_) * (target > fastDb_ ? fastAttack_ : fastRelease_);
    slowDb_ += (target - slowDb_) * (target > slowDb_ ? slowAttack_ : slowRelease_);
    if (target == 0.0f) {
        if (fastDb_ < RestingDb) fastDb_ = 0.0f;
        if (slowDb_ < RestingDb) slowDb_ = 0.0f;
    }

    makeupDb_.advance(n);
    const float gainDb = makeupDb_.current() - gainReductionDb();
    const float newGain = gainDb == 0.0f ? 1.0f : std::exp(gainDb * 0.11512925f);
    const float step = (newGain - gain_) / static_cast<float>(n);
    if (step == 0.0f && gain_ == 1.0f) return;
    float g = gain_;
    for (int i = 0; i < n; ++i) {
        g += step;
        left[i] *= g;
        right[i] *= g;
    }
    gain_ = newGain;
}
