#include "plugins/dsp_enh/PeakLimiter.h"

#include <algorithm>
#include <cmath>

void PeakLimiter::init(double sampleRate, float ceiling) {
    ceiling_ = ceiling;
    delay_ = std::max(1, static_cast<int>(std::lround(LookAheadSeconds * sampleRate)));
    window_ = delay_ + 1;
    releaseCoef_ = static_cast<float>(1.0 - std::exp(-1.0 / (ReleaseSeconds * sampleRate)));
    delayLeft_.assign(static_cast<size_t>(delay_), 0.0f);
    delayRight_.assign(static_cast<size_t>(delay_), 0.0f);
    minValue_.assign(static_cast<size_t>(window_), 1.0f);
    minTime_.assign(static_cast<size_t>(window_), 0);
    box_.assign(static_cast<size_t>(window_), 1.0f);
    invWindow_ = 1.0 / window_;
    reset();
}

void PeakLimiter::reset() {
    std::fill(delayLeft_.begin(), delayLeft_.end(), 0.0f);
    std::fill(delayRight_.begin(), delayRight_.end(), 0.0f);
    std::fill(box_.begin(), box_.end(), 1.0f);
    delayPos_ = 0;
    minHead_ = 0;
    minCount_ = 0;
    now_ = 0;
    released_ = 1.0f;
    boxPos_ = 0;
    boxSum_ = static_cast<double>(window_);
    lastGain_ = 1.0f;
}

void PeakLimiter::pushRequest(float request) {
    // The window holds the requests of the last `window_` samples, this one included.
    if (minCount_ > 0 && now_ - minTime_[static_cast<size_t>(minHead_)] >= static_cast<uint32_t>(window_)) {
        minHead_ = minHead_ + 1 == window_ ? 0 : minHead_ + 1;
        --minCount_;
    }
    // Entries the new request undercuts can never be the minimum again.
    while (minCount_ > 0) {
        const int back = wrap(minHead_ + minCount_ - 1);
        if (minValue_[static_cast<size_t>(back)] < request) break;
        --minCount_;
    }
    const int slot = wrap(minHead_ + minCount_);
    minValue_[static_cast<size_t>(slot)] = request;
    minTime_[static_cast<size_t>(slot)] = now_;
    ++minCount_;
}

void PeakLimiter::process(float* left, float* right, int n) {
    for (int i = 0; i < n; ++i) {
        const float l = left[i];
        const float r = right[i];
        const float peak = std::max(std::fabs(l), std::fabs(r));
        pushRequest(peak > ceiling_ ? ceiling_ / peak : 1.0f);
        ++now_;
        const float lowest = minValue_[static_cast<size_t>(minHead_)];

        // Instant attack, exponential release that lands exactly; never above the window's minimum.
        if (lowest <= released_ || lowest - released_ < 1e-7f)
            released_ = lowest;
        else
            released_ += (lowest - released_) * releaseCoef_;

        boxSum_ += static_cast<double>(released_) - box_[static_cast<size_t>(boxPos_)];
        box_[static_cast<size_t>(boxPos_)] = released_;
        if (++boxPos_ == window_) {
            boxPos_ = 0;
            // Refresh the running sum once per lap so rounding cannot creep in over hours.
            double exact = 0.0;
            for (float v : box_) exact += v;
            boxSum_ = exact;
        }
        const float gain = std::min(1.0f, static_cast<float>(boxSum_ * invWindow_));

        left[i] = delayLeft_[static_cast<size_t>(delayPos_)] * gain;
        right[i] = delayRight_[static_cast<size_t>(delayPos_)] * gain;
        delayLeft_[static_cast<size_t>(delayPos_)] = l;
        delayRight_[static_cast<size_t>(delayPos_)] = r;
        if (++delayPos_ == delay_) delayPos_ = 0;
        lastGain_ = gain;
    }
}
