#pragma once
// A filter frequency that moves to a new setting in small steps (at most 2 % per block, about
// 60 ms for a factor of five at 44.1 kHz) instead of jumping: a recursive filter whose
// coefficients jump rings with the state it built up under the old ones.

#include <algorithm>
#include <cmath>

class GlidingFrequency {
public:
    static constexpr double StepRatio = 1.02;

    void jumpTo(double hz) { current_ = target_ = hz; }
    void setTarget(double hz) { target_ = hz; }
    double current() const { return current_; }
    double target() const { return target_; }

    // Moves one step towards the target; true when the value changed (redesign the filters).
    bool advance() {
        if (current_ == target_) return false;
        if (current_ <= 0.0) {
            current_ = target_;
            return true;
        }
        const double ratio = target_ / current_;
        current_ = (ratio > StepRatio || ratio < 1.0 / StepRatio)
                       ? current_ * (ratio > 1.0 ? StepRatio : 1.0 / StepRatio)
                       : target_;
        return true;
    }

private:
    double current_ = 0.0;
    double target_ = 0.0;
};
