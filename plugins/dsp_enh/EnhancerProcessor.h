#pragma once
// The enhancer on the interleaved 16-bit buffers of the plug-in interface.
//
// The stream is regrouped into blocks of BlockFrames through a small FIFO, so the DSP always sees
// the same blocks whatever buffer length the host uses: the output is identical for every
// framesPerBuffer, at the cost of BlockFrames frames of extra delay. Channels are processed in
// pairs (0+1, 2+3, ...), an odd last channel on its own.

#include <cstdint>
#include <memory>
#include <vector>

#include "plugins/dsp_enh/EnhancerEngine.h"

class EnhancerProcessor {
public:
    static constexpr int BlockFrames = 32;
    static constexpr int MaxChannels = 8;
    static constexpr int MinRate = 1000;
    static constexpr int MaxRate = 384000;

    // Allocates everything for the format; false when it cannot be processed.
    bool init(int sampleRate, int channels);
    void update_settings(const EnhancerParameters& parameters);
    // Clears the signal state and settles every parameter at its target.
    void reset();
    // Processes `frames` interleaved frames in place. Never allocates.
    void process(int16_t* samples, int frames);

    int sampleRate() const { return rate_; }
    int channels() const { return channels_; }
    // Total delay in frames.
    int latency() const;
    const EnhancerEngine& engine(int index) const { return *engines_[static_cast<size_t>(index)]; }

private:
    void processBlock();

    int rate_ = 0;
    int channels_ = 0;
    std::vector<std::unique_ptr<EnhancerEngine>> engines_;
    std::vector<int16_t> fifo_; // BlockFrames frames: input going in, output coming out
    int fifoPos_ = 0;
    float left_[BlockFrames];
    float right_[BlockFrames];
};
