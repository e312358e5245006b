#include "files/codecs/PcmResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
        if (term < 1e-12 * sum) break;
    }
    return sum;
}

} // namespace

PcmResampler::PcmResampler(int channels, uint32_t inRate, uint32_t outRate, bool highQuality)
    : channels_(channels), inRate_(inRate), outRate_(outRate) {
    const double ratio = std::min(1.0, static_cast<double>(outRate) / inRate);
    const int baseTaps = highQuality ? 32 : 16;
    taps_ = std::min(512, static_cast<int>(std::ceil(baseTaps / ratio)));
    taps_ += taps_ & 1;
    half_ = taps_ / 2;
    phases_ = highQuality ? 512 : 256;
    const double beta = highQuality ? 8.6 : 6.0;
    // Cut-off as a fraction of the input rate, a little inside the narrower Nyquist band.
    const double cutoff = 0.5 * ratio * (highQuality ? 0.95 : 0.9);
    const double i0beta = besselI0(beta);

    table_.resize(static_cast<size_t>(phases_ + 1) * taps_);
    for (int p = 0; p <= phases_; ++p) {
        float* row = table_.data() + static_cast<size_t>(p) * taps_;
        double sum = 0;
        for (int k = 0; k < taps_; ++k) {
            // Distance from the tap's input frame to the output time.
            const double d = static_cast<double>(p) / phases_ + half_ - 1 - k;
            const double x = 2 * cutoff * d;
            const double sinc = x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double r = d / half_;
            const double window = r <= -1 || r >= 1 ? 0.0 : besselI0(beta * std::sqrt(1 - r * r)) / i0beta;
            row[k] = static_cast<float>(sinc * window);
            sum += row[k];
        }
        // Unity gain at DC for every phase.
        for (int k = 0; k < taps_; ++k)
            row[k] = static_cast<float>(row[k] / sum);
    }
    row_.resize(taps_);
    capacity_ = taps_ + half_ + 2048;
    window_.resize(static_cast<size_t>(capacity_) * channels_);
    Reset();
}

void PcmResampler::Reset() {
    // The frames before the first one are silence, so output frame 0 lies exactly at input frame 0.
    frames_ = half_ - 1;
    std::fill_n(window_.begin(), static_cast<size_t>(frames_) * channels_, 0.0f);
    base_ = -(half_ - 1);
    position_ = 0;
    fraction_ = 0;
    totalInput_ = 0;
    padded_ = false;
}

uint32_t PcmResampler::MaxOutputFrames(uint32_t inputFrames) const {
    const uint64_t frames = static_cast<uint64_t>(inputFrames) + taps_ + half_;
    const uint64_t out = (frames * outRate_ + inRate_ - 1) / inRate_ + 2;
    return static_cast<uint32_t>(std::min<uint64_t>(out, UINT32_MAX));
}

uint32_t PcmResampler::InputFramesFor(uint32_t outputFrames) const {
    const uint64_t in = static_cast<uint64_t>(outputFrames) * inRate_ / outRate_;
    const uint64_t margin = static_cast<uint64_t>(taps_) + half_ + 2;
    return in > margin ? static_cast<uint32_t>(std::min<uint64_t>(in - margin, UINT32_MAX)) : 0;
}

void PcmResampler::produceFrame(int64_t first, float* out) {
    const uint64_t scaled = fraction_ * static_cast<uint64_t>(phases_);
    const int phase = static_cast<int>(scaled / outRate_);
    const float weight = static_cast<float>(scaled % outRate_) / static_cast<float>(outRate_);
    const float* a = table_.data() + static_cast<size_t>(phase) * taps_;
    const float* b = a + taps_;
    for (int k = 0; k < taps_; ++k)
        row_[k] = a[k] + (b[k] - a[k]) * weight;
    const float* in = window_.data() + static_cast<size_t>(first) * channels_;
    for (int c = 0; c < channels_; ++c) {
        float sum = 0;
        for (int k = 0; k < taps_; ++k)
            sum += row_[k] * in[k * channels_ + c];
        out[c] = sum;
    }
}

void PcmResampler::dropHistory() {
    const int64_t first = std::clamp<int64_t>(position_ - half_ + 1 - base_, 0, frames_);
    if (first == 0) return;
    std::memmove(window_.data(), window_.data() + first * channels_,
                 static_cast<size_t>(frames_ - first) * channels_ * sizeof(float));
    frames_ -= first;
    base_ += first;
}
