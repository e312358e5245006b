#pragma once
// One second-order filter section for one channel (transposed direct form II).
//
// Coefficients and state are double: the bass filters sit a few hertz above DC at high rates,
// where single precision would put the poles audibly off and leave a noise floor.

#include <algorithm>
#include <cmath>

class Biquad {
public:
    void setLowPass(double sampleRate, double frequency, double q = 0.7071067811865476) {
        const double k = prewarp(sampleRate, frequency);
        const double norm = 1.0 / (1.0 + k / q + k * k);
        b0_ = k * k * norm;
        b1_ = 2.0 * b0_;
        b2_ = b0_;
        a1_ = 2.0 * (k * k - 1.0) * norm;
        a2_ = (1.0 - k / q + k * k) * norm;
    }

    void setHighPass(double sampleRate, double frequency, double q = 0.7071067811865476) {
        const double k = prewarp(sampleRate, frequency);
        const double norm = 1.0 / (1.0 + k / q + k * k);
        b0_ = norm;
        b1_ = -2.0 * norm;
        b2_ = norm;
        a1_ = 2.0 * (k * k - 1.0) * norm;
        a2_ = (1.0 - k / q + k * k) * norm;
    }

    // Shelf below `frequency` raised by `gainDb` (shelf slope 1).
    void setLowShelf(double sampleRate, double frequency, double gainDb) {
        const double a = std::pow(10.0, gainDb / 40.0);
        const double w0 = 2.0 * 3.14159265358979323846 * std::clamp(frequency, 1.0, 0.45 * sampleRate) / sampleRate;
        const double c = std::cos(w0);
        const double alpha = std::sin(w0) / 2.0 * std::sqrt(2.0);
        const double r = 2.0 * std::sqrt(a) * alpha;
        const double norm = 1.0 / ((a + 1.0) + (a - 1.0) * c + r);
        b0_ = a * ((a + 1.0) - (a - 1.0) * c + r) * norm;
        b1_ = 2.0 * a * ((a - 1.0) - (a + 1.0) * c) * norm;
        b2_ = a * ((a + 1.0) - (a - 1.0) * c - r) * norm;
        a1_ = -2.0 * ((a - 1.0) + (a + 1.0) * c) * norm;
        a2_ = ((a + 1.0) + (a - 1.0) * c - r) * norm;
    }

    void reset() { z1_ = z2_ = 0.0; }

    float process(float input) {
        const double x = input;
        const double y = b0_ * x + z1_;
        z1_ = b1_ * x - a1_ * y + z2_;
        z2_ = b2_ * x - a2_ * y;
        return static_cast<float>(y);
    }

    // A decaying filter would otherwise end in subnormal numbers, which are slow on many CPUs.
    void flushTiny() {
        if (std::fabs(z1_) < 1e-18) z1_ = 0.0;
        if (std::fabs(z2_) < 1e-18) z2_ = 0.0;
    }

    bool isSilent() const { return z1_ == 0.0 && z2_ == 0.0; }

private:
    // Frequencies are kept inside (1 Hz, 0.45 fs) so every rate gets a stable, sensible filter.
    static double prewarp(double sampleRate, double frequency) {
        const double f = std::clamp(frequency, 1.0, 0.45 * sampleRate);
        return std::tan(3.14159265358979323846 * f / sampleRate);
    }

    double b0_ = 1.0, b1_ = 0.0, b2_ = 0.0, a1_ = 0.0, a2_ = 0.0;
    double z1_ = 0.0, z2_ = 0.0;
};
