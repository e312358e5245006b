#pragma once
// The enhancer's signal path for one stereo pair (or one mono channel), on float blocks:
//
//   compressor -> dry level + harmonic bass + harmonic treble + drum punch -> ambience
//              -> volume -> look-ahead limiter
//
// The effects read the compressed signal and add to it, so "Dry Signal" sets how much of the
// plain signal stays under them. Everything is allocated by init; process never allocates.

#include "plugins/common/SmoothedValue.h"
#include "plugins/dsp_enh/Ambience.h"
#include "plugins/dsp_enh/BassExciter.h"
#include "plugins/dsp_enh/Compressor.h"
#include "plugins/dsp_enh/DrumPunch.h"
#include "plugins/dsp_enh/EnhancerParameters.h"
#include "plugins/dsp_enh/PeakLimiter.h"
#include "plugins/dsp_enh/TrebleExciter.h"

class EnhancerEngine {
public:
    // The largest block process takes.
    static constexpr int MaxBlock = 64;
    // The limiter's ceiling, -0.3 dBFS, as a linear value that is a whole 16-bit step.
    static constexpr float CeilingSteps = 31655.0f;
    static constexpr float Ceiling = CeilingSteps / 32768.0f;

    // "Volume" 0..100 as a gain: 0.25 dB per step, 50 is 0 dB.
    static float VolumeGainFor(int volume);
    // "Dry Signal" 0..100 as a gain: linear, 100 is the full signal.
    static float DryGainFor(int drySignal);

    void init(double sampleRate, bool stereo);
    void update_settings(const EnhancerParameters& parameters);
    // Clears the signal state and puts every smoothed value at its target.
    void reset();
    // Processes `n` (<= MaxBlock) samples in place; for mono only `left` is used.
    void process(float* left, float* right, int n);

    int latency() const { return limiter_.latency(); }
    const Compressor& compressor() const { return compressor_; }
    const PeakLimiter& limiter() const { return limiter_; }

private:
    bool stereo_ = true;
    Compressor compressor_;
    BassExciter bass_;
    TrebleExciter treble_;
    DrumPunch punch_;
    Ambience ambience_;
    PeakLimiter limiter_;
    SmoothedValue dry_, volume_;
    float monoRight_[MaxBlock];
    float inLeft_[MaxBlock];
    float inRight_[MaxBlock];
};
