#pragma once
// Program-dependent, stereo-linked compressor with a soft knee.
//
// The detector follows the mean power of both channels (15 ms), so a steady tone gives a steady
// reading and the gain does not ripple with the waveform. Two gain-reduction followers run side
// by side and the larger wins: a fast one (10 ms attack, 150 ms release) catches short peaks and
// lets go quickly, a slow one (500 ms attack, 1.5 s release) only builds up under sustained
// compression and then holds the gain steady, so dense passages do not pump. The gain is
// computed once per block and interpolated per sample, and parameter changes move the targets of
// these followers, so nothing steps.

#include "plugins/common/SmoothedValue.h"

class Compressor {
public:
    struct Curve {
        float thresholdDb; // centre of the knee, as the power level of both channels (dBFS RMS)
        float ratio;
        float kneeDb; // width of the soft knee
        float makeupDb;
    };

    // The curve of a "Boosted" value (0..100): 0 is gentle, higher values compress harder and
    // make up for it, so the result is louder and denser.
    static Curve CurveFor(int boosted);
    // The static curve: reduction in dB (>= 0) of a steady signal at `levelDb`.
    static float GainReductionDb(float levelDb, const Curve& curve);

    void init(double sampleRate);
    void reset();
    void update_settings(int boosted);
    // Compresses `n` samples of both channels in place (a mono stream comes as two equal channels).
    void process(float* left, float* right, int n);

    float gainReductionDb() const { return fastDb_ > slowDb_ ? fastDb_ : slowDb_; }

private:
    float blockCoefficient(int n, double tauSeconds) const;

    double rate_ = 44100.0;
    float detectorCoef_ = 0.0f;
    float power_ = 0.0f;
    float fastDb_ = 0.0f;
    float slowDb_ = 0.0f;
    float gain_ = 1.0f;
    Curve curve_ = CurveFor(0);
    SmoothedValue makeupDb_;
    // Per-block coefficients, recomputed only when the block length changes.
    int cachedBlock_ = -1;
    float fastAttack_ = 0.0f, fastRelease_ = 0.0f, slowAttack_ = 0.0f, slowRelease_ = 0.0f;
};
