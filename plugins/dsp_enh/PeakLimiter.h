#pragma once
// Look-ahead peak limiter, stereo-linked, that guarantees its output never exceeds the ceiling.
//
// Every sample asks for the gain that would bring it to the ceiling. The minimum of those
// requests over the look-ahead window, released exponentially, is averaged over the same window
// and applied to the signal delayed by the window. Each gain that reaches a sample is the mean
// of values that all saw that sample, so none exceeds its request: the ceiling holds by
// construction, and the averaging turns each reduction into a smooth 1.5 ms fade instead of a
// step. The glue still saturates at the ceiling, which only rounding could ever reach.

#include <cstdint>
#include <vector>

class PeakLimiter {
public:
    static constexpr double LookAheadSeconds = 0.0015;
    static constexpr double ReleaseSeconds = 0.060;

    // Allocates the delay and window for `sampleRate`; `ceiling` is linear full scale.
    void init(double sampleRate, float ceiling);
    void reset();
    void process(float* left, float* right, int n);

    // Samples of delay the look-ahead adds.
    int latency() const { return delay_; }
    float gain() const { return lastGain_; }

private:
    void pushRequest(float request);
    // Ring index below 2 * window_ back into range, without a division per sample.
    int wrap(int index) const { return index >= window_ ? index - window_ : index; }

    float ceiling_ = 1.0f;
    int delay_ = 0;
    int window_ = 1; // delay + 1
    float releaseCoef_ = 0.0f;

    std::vector<float> delayLeft_, delayRight_;
    int delayPos_ = 0;

    // Sliding minimum of the requests: a ring of (time, request), requests rising front to back.
    std::vector<float> minValue_;
    std::vector<uint32_t> minTime_;
    int minHead_ = 0;
    int minCount_ = 0;
    uint32_t now_ = 0;

    float released_ = 1.0f;
    std::vector<float> box_;
    int boxPos_ = 0;
    double boxSum_ = 0.0;
    double invWindow_ = 1.0;
    float lastGain_ = 1.0f;
};
