#include "plugins/dsp_enh/Ambience.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double MaxPreDelay = 0.035;
constexpr double DiffuserATime = 0.0057;
constexpr double DiffuserBTime = 0.0093;
constexpr float DiffuserGain = 0.5f;
constexpr double FadeTime = 0.025;
constexpr double SmoothTime = 0.050;
// Long enough for the strongest echo (feedback 0.6 every 35 ms) to fall below 16-bit resolution.
constexpr double TailTime = 2.0;
// At 100 the side is raised by 0.6 (about 4 dB) and the space is mixed in at 0.5.
constexpr float MaxWidth = 0.6f;
constexpr float MaxSpace = 0.5f;
} // namespace

double Ambience::PreDelayFor(int range) { return 0.005 + 0.030 * std::clamp(range, 0, 100) / 100.0; }

namespace {
int delayFor(double rate, int range, int capacity) {
    return std::clamp(static_cast<int>(std::lround(Ambience::PreDelayFor(range) * rate)), 1, capacity);
}
} // namespace

float Ambience::FeedbackFor(int range) { return 0.15f + 0.45f * static_cast<float>(std::clamp(range, 0, 100)) / 100.0f; }

void Ambience::init(double sampleRate) {
    rate_ = sampleRate;
    feedHigh_.setHighPass(sampleRate, 200.0);
    feedLow_.setLowPass(sampleRate, 6000.0);
    echo_.allocate(static_cast<int>(std::ceil(MaxPreDelay * sampleRate)) + 2);
    diffuserA_.allocate(std::max(1, static_cast<int>(std::lround(DiffuserATime * sampleRate))));
    diffuserB_.allocate(std::max(1, static_cast<int>(std::lround(DiffuserBTime * sampleRate))));
    fadeLength_ = std::max(1, static_cast<int>(std::lround(FadeTime * sampleRate)));
    tailLength_ = static_cast<int>(std::lround(TailTime * sampleRate));
    damping_ = static_cast<float>(1.0 - std::exp(-2.0 * 3.14159265358979323846 * 4000.0 / sampleRate));
    width_.init(sampleRate, SmoothTime, width_.target());
    space_.init(sampleRate, SmoothTime, space_.target());
    feedback_.init(sampleRate, SmoothTime, feedback_.target());
    reset();
}

void Ambience::clear() {
    feedHigh_.reset();
    feedLow_.reset();
    std::fill(echo_.data.begin(), echo_.data.end(), 0.0f);
    std::fill(diffuserA_.data.begin(), diffuserA_.data.end(), 0.0f);
    std::fill(diffuserB_.data.begin(), diffuserB_.data.end(), 0.0f);
    dampState_ = 0.0f;
}

void Ambience::reset() {
    clear();
    delay_ = nextDelay_ = delayFor(rate_, range_, static_cast<int>(echo_.data.size()) - 1);
    fadePos_ = 0;
    width_.jumpTo(width_.target());
    space_.jumpTo(space_.target());
    feedback_.jumpTo(feedback_.target());
    idle_ = width_.isSteadyAt(0.0f) && space_.isSteadyAt(0.0f);
    tailLeft_ = 0;
}

void Ambience::update_settings(int amount, int range) {
    const float a = static_cast<float>(std::clamp(amount, 0, 100)) / 100.0f;
    width_.setTarget(MaxWidth * a);
    space_.setTarget(MaxSpace * a);
    feedback_.setTarget(FeedbackFor(range));
    range_ = range;
    if (!echo_.data.empty()) nextDelay_ = delayFor(rate_, range, static_cast<int>(echo_.data.size()) - 1);
}

float Ambience::allpass(DelayLine& line, float input) {
    const float delayed = line.read(static_cast<int>(line.data.size()));
    const float w = input + DiffuserGain * delayed;
    line.write(std::fabs(w) < 1e-20f ? 0.0f : w);
    return delayed - DiffuserGain * w;
}

void Ambience::process(float* left, float* right, int n) {
    const bool off = width_.isSteadyAt(0.0f) && space_.isSteadyAt(0.0f);
    if (off) {
        // The echo still rings after the amount reached 0; only a silent tail may be cut.
        if (idle_ || tailLeft_ <= 0) {
            if (!idle_) {
                idle_ = true;
                delay_ = nextDelay_;
                fadePos_ = 0;
            }
            return;
        }
        tailLeft_ -= n;
    } else {
        tailLeft_ = tailLength_;
    }
    if (idle_) {
        // Whatever the lines held is from long ago.
        clear();
        idle_ = false;
        delay_ = nextDelay_;
    }
    const SmoothedValue::Ramp width = width_.advance(n);
    const SmoothedValue::Ramp space = space_.advance(n);
    const SmoothedValue::Ramp feedback = feedback_.advance(n);
    for (int i = 0; i < n; ++i) {
        if (fadePos_ == 0 && nextDelay_ != delay_) fadePos_ = 1;
        float tap;
        if (fadePos_ > 0) {
            // A new pre-delay is faded in from the old tap: a jump would click.
            const float t = static_cast<float>(fadePos_) / static_cast<float>(fadeLength_);
            tap = (1.0f - t) * echo_.read(delay_) + t * echo_.read(nextDelay_);
            if (++fadePos_ > fadeLength_) {
                delay_ = nextDelay_;
                fadePos_ = 0;
            }
        } else {
            tap = echo_.read(delay_);
        }
        dampState_ += (tap - dampState_) * damping_;
        const float mid = 0.5f * (left[i] + right[i]);
        const float side = 0.5f * (left[i] - right[i]);
        // The amount scales what enters the room, so the room fades in and out with it and its
        // filters never see a step.
        const float feed = feedLow_.process(feedHigh_.process(mid * space.at(i))) + feedback.at(i) * dampState_;
        echo_.write(std::fabs(feed) < 1e-20f ? 0.0f : feed);
        const float diffused = allpass(diffuserB_, allpass(diffuserA_, tap));
        const float wide = side * (1.0f + width.at(i)) + diffused;
        left[i] = mid + wide;
        right[i] = mid - wide;
    }
    if (std::fabs(dampState_) < 1e-20f) dampState_ = 0.0f;
    feedHigh_.flushTiny();
    feedLow_.flushTiny();
}
