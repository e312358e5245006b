#pragma once
// Harmonic treble: adds the second harmonic of the upper band, for presence and air without
// raising the level of what is already there.
//
// Each channel's band from the corner frequency up to a quarter of the sample rate is squared
// and divided by its own peak envelope. Squaring makes only the octave, and keeping the band
// below a quarter of the rate keeps that octave below the Nyquist frequency, so nothing aliases;
// dividing by the envelope keeps the harmonic proportional to the band's level and never larger
// than the band itself. A high-pass at the corner then removes the DC and difference tones that
// squaring also makes.

#include "plugins/common/Biquad.h"
#include "plugins/common/GlidingFrequency.h"
#include "plugins/common/SmoothedValue.h"

class TrebleExciter {
public:
    // The corner frequency of a "Harm Treble Range" value (0..100): 9 kHz down to 1.5 kHz, a
    // higher range reaching further down into the presence region.
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
    float envelopeRelease_ = 0.0f;
    float envelope_ = 0.0f;
    Biquad bandHighLeft_, bandHighRight_, bandLowLeft_, bandLowRight_;
    Biquad outHighLeft_, outHighRight_;
    SmoothedValue mix_;
    bool idle_ = true;
};
