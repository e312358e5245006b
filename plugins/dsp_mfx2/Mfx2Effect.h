#pragma once
// The second plug-in's effect: a bass boost and a stereo widener with a soft safety saturation.
//
// Bass: a low shelf of +4 dB below 120 Hz. Width: the side signal (L-R)/2 raised by 30 %, the mid
// untouched, so the mono sum stays as it was. The boost can push peaks over full scale, so
// samples above -3 dBFS are bent smoothly towards full scale instead of being clipped.
//
// The format comes with every buffer; a change of rate redesigns the filters in place (no
// allocation) and clears their state.

#include <cstdint>

#include "plugins/common/Biquad.h"

class Mfx2Effect {
public:
    static constexpr double BassFrequency = 120.0;
    static constexpr double BassGainDb = 4.0;
    static constexpr float Width = 0.3f;

    // Processes `frames` interleaved 16-bit frames in place; channels are taken in pairs.
    void process(int16_t* samples, int frames, int channels, int rate);

private:
    static constexpr int MaxChannels = 8;
    void configure(int rate);
    static float saturate(float x);

    int rate_ = 0;
    Biquad shelf_[MaxChannels];
};
