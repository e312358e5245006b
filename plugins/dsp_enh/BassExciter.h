#pragma once
// Harmonic bass: adds the overtones of the lowest notes, so bass is heard even where a speaker
// cannot reproduce the fundamental.
//
// The band below the corner frequency (mono: bass is centred) is full-wave rectified. The
// rectifier scales with the level, so the harmonics keep a fixed relation to the bass whatever
// its loudness, and it makes mostly the octave (even harmonics, which sound warm rather than
// harsh). A band-pass from the corner to four times the corner keeps the low harmonics, drops the
// rectifier's DC and the fundamental itself, and the result is mixed into both channels.

#include "plugins/common/Biquad.h"
#include "plugins/common/GlidingFrequency.h"
#include "plugins/common/SmoothedValue.h"

class BassExciter {
public:
    // The corner frequency of a "Harm Bass range" value (0..100): 40 Hz to 320 Hz.
    static double CornerFor(int range);

    void init(double sampleRate);
    void reset();
    // amount and range 0..100
    void update_settings(int amount, int range);
    // Adds the harmonics of `inLeft`/`inRight` to `outLeft`/`outRight`.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int n);

private:
    void design(double corner);

    double rate_ = 44100.0;
    GlidingFrequency corner_;
    Biquad lowA_, lowB_; // fourth-order band limit of the bass taken
    Biquad highPass_, lowPass_;
    SmoothedValue mix_;
    bool idle_ = true;
};
