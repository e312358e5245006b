#pragma once
// Drum-bass punch: lifts the low band for the first tens of milliseconds of each bass hit (a kick
// drum's thump) and leaves sustained bass alone.
//
// A held peak envelope of the low band (it holds longer than the slowest bass period, so a
// steady tone reads as a flat line) is compared with a slow average of itself. Where the held
// peak jumps above the average, an onset, the low band is boosted by up to the set amount; as
// the average catches up (60 ms) the boost fades, and on steady bass the two agree and nothing
// moves. The boost is computed per block and smoothed (2 ms up, 60 ms down), and added as the
// low band times (gain - 1), so the rest of the spectrum passes untouched.

#include "plugins/common/Biquad.h"
#include "plugins/common/GlidingFrequency.h"
#include "plugins/common/SmoothedValue.h"

class DrumPunch {
public:
    // The corner frequency of a "Drum Bass range" value (0..100): 50 Hz to 200 Hz.
    static double CornerFor(int range);
    // The largest boost of a "Drum Bass" value (0..100): up to 9 dB.
    static float MaxBoostDbFor(int amount);

    void init(double sampleRate);
    void reset();
    void update_settings(int amount, int range);
    // Adds the boosted part of the low band of `inLeft`/`inRight` to `outLeft`/`outRight`.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int n);

    float boostDb() const { return boostDb_; }

private:
    static constexpr int Chunk = 64;
    void design(double corner);
    void processChunk(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int n);

    double rate_ = 44100.0;
    GlidingFrequency corner_;
    float maxBoostDb_ = 0.0f;
    Biquad lowLeft_, lowRight_;
    float held_ = 0.0f;
    double holdSamples_ = 0.0;
    double heldFor_ = 0.0;
    float average_ = 0.0f;
    float boostDb_ = 0.0f;
    float extra_ = 0.0f; // gain - 1 applied at the end of the last block
    int cachedBlock_ = -1;
    float heldRelease_ = 0.0f, averageCoef_ = 0.0f, boostAttack_ = 0.0f, boostRelease_ = 0.0f;
    float lowLeftBlock_[Chunk];
    float lowRightBlock_[Chunk];
    bool idle_ = true;
};
