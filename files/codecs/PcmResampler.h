#pragma once
// Streaming sample-rate conversion of interleaved float frames with a Kaiser-windowed sinc
// filter: a polyphase table with linear interpolation between neighbouring phases, the cut-off
// lowered to the output's band when the rate falls.
//
// Output frame k lies at input time k x inRate / outRate, counted exactly in integers, so long
// streams never drift. Frames are taken until the internal window is full, produced until the
// caller's room runs out; End appends the silent frames that let the last input frames through,
// so N input frames give exactly ceil(N x outRate / inRate) output frames.
//
// Everything is allocated by the constructor; Process neither allocates nor locks.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

class PcmResampler {
public:
    PcmResampler(int channels, uint32_t inRate, uint32_t outRate, bool highQuality);

    void Reset();

    // Largest output (frames) that `inputFrames` more input can yield in one call, draining included.
    uint32_t MaxOutputFrames(uint32_t inputFrames) const;
    // Input frames whose output fits in `outputFrames`.
    uint32_t InputFramesFor(uint32_t outputFrames) const;

    // Reads frames with `load(first, count, float* into)` (interleaved, `channels` values a frame) and
    // writes frames to `output`. Returns the frames written; `consumed` receives the input frames taken.
    template <typename Load>
    uint32_t Process(uint32_t inputFrames, Load&& load, float* output, uint32_t outputFrames, bool end,
                     uint32_t& consumed);

    int Taps() const { return taps_; }

private:
    void produceFrame(int64_t first, float* out);
    void dropHistory();

    int channels_;
    uint32_t inRate_, outRate_;
    int taps_, half_, phases_;
    std::vector<float> table_;  // (phases_ + 1) rows of taps_ coefficients
    std::vector<float> row_;    // the interpolated row of the current output frame
    std::vector<float> window_; // frames [base_, base_ + frames_) of input, channels_ values each
    int64_t capacity_ = 0;      // frames the window holds
    int64_t frames_ = 0;
    int64_t base_ = 0;      // input index of window_[0] (negative for the leading silence)
    int64_t position_ = 0;  // input index at or before the next output frame's time
    uint64_t fraction_ = 0; // and its fraction, in 1/outRate_ steps
    int64_t totalInput_ = 0;
    bool padded_ = false;
};

template <typename Load>
uint32_t PcmResampler::Process(uint32_t inputFrames, Load&& load, float* output, uint32_t outputFrames,
                               bool end, uint32_t& consumed) {
    consumed = 0;
    uint32_t written = 0;
    for (;;) {
        while (written < outputFrames) {
            const int64_t first = position_ - half_ + 1 - base_;
            if (first + taps_ > frames_) break;
            if (padded_ && position_ >= totalInput_) break;
            produceFrame(first, output + static_cast<size_t>(written) * channels_);
            ++written;
            fraction_ += inRate_;
            position_ += static_cast<int64_t>(fraction_ / outRate_);
            fraction_ %= outRate_;
        }
        if (written == outputFrames) break;
        dropHistory();
        const int64_t room = capacity_ - frames_;
        if (consumed < inputFrames && room > 0) {
            const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(room, inputFrames - consumed));
            load(consumed, n, window_.data() + static_cast<size_t>(frames_) * channels_);
            frames_ += n;
            consumed += n;
            totalInput_ += n;
            continue;
        }
        if (end && consumed == inputFrames && !padded_ && room >= half_) {
            std::fill_n(window_.begin() + frames_ * channels_, static_cast<size_t>(half_) * channels_, 0.0f);
            frames_ += half_;
            padded_ = true;
            continue;
        }
        break;
    }
    if (end && padded_ && position_ >= totalInput_) Reset();
    return written;
}
