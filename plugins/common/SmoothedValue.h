#pragma once
// A parameter that glides to its target so a change never clicks: an exponential approach
// evaluated once per block and interpolated linearly inside the block.

#include <cmath>

class SmoothedValue {
public:
    struct Ramp {
        float start; // the value before the block
        float step;  // added per sample: sample i of the block gets start + step * (i + 1)
        float at(int i) const { return start + step * static_cast<float>(i + 1); }
    };

    void init(double sampleRate, double timeSeconds, float value) {
        samplesPerTau_ = sampleRate * timeSeconds;
        cachedBlock_ = -1;
        current_ = target_ = value;
    }

    void setTarget(float value) { target_ = value; }
    void jumpTo(float value) { current_ = target_ = value; }
    float target() const { return target_; }
    float current() const { return current_; }
    bool isSteady() const { return current_ == target_; }
    bool isSteadyAt(float value) const { return current_ == value && target_ == value; }

    Ramp advance(int samples) {
        const float from = current_;
        if (current_ != target_) {
            current_ = target_ + (current_ - target_) * decay(samples);
            // The last millionth is not worth the work of ramping, and it lets the value land
            // exactly, which keeps the neutral settings bit-transparent.
            if (std::fabs(current_ - target_) < 1e-6f) current_ = target_;
        }
        return {from, (current_ - from) / static_cast<float>(samples > 0 ? samples : 1)};
    }

private:
    float decay(int samples) {
        if (samples != cachedBlock_) {
            cachedBlock_ = samples;
            cachedDecay_ = samplesPerTau_ > 0 ? static_cast<float>(std::exp(-samples / samplesPerTau_)) : 0.0f;
        }
        return cachedDecay_;
    }

    double samplesPerTau_ = 0.0;
    int cachedBlock_ = -1;
    float cachedDecay_ = 0.0f;
    float current_ = 0.0f;
    float target_ = 0.0f;
};
