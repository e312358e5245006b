#pragma once
// Ambience: stereo width and a sense of space that never touch the mono sum.
//
// The stereo pair is split into mid (L+R)/2 and side (L-R)/2. Width raises the side; space feeds
// a band-limited, delayed and diffused copy of the mid (a damped echo followed by two all-pass
// diffusers) into the side only; the amount scales what enters that room, so its tail rings out
// naturally when the amount is lowered. Left and right are rebuilt as mid + side and mid - side, so
// L+R is exactly what came in and mono listeners hear no comb filtering. At amount 0 the block is
// skipped and the signal passes bit for bit.

#include <vector>

#include "plugins/common/Biquad.h"
#include "plugins/common/SmoothedValue.h"

class Ambience {
public:
    // Pre-delay of the space for an "Ambience Range" value (0..100): 5 ms to 35 ms.
    static double PreDelayFor(int range);
    // Echo feedback for an "Ambience Range" value: a larger range is a larger, longer room.
    static float FeedbackFor(int range);

    void init(double sampleRate);
    void reset();
    void update_settings(int amount, int range);
    // Stereo only; processes in place.
    void process(float* left, float* right, int n);

private:
    struct DelayLine {
        std::vector<float> data;
        int pos = 0;
        void allocate(int length) {
            data.assign(static_cast<size_t>(length), 0.0f);
            pos = 0;
        }
        // The sample written `delay` samples ago (1 <= delay <= length).
        float read(int delay) const {
            int i = pos - delay;
            if (i < 0) i += static_cast<int>(data.size());
            return data[static_cast<size_t>(i)];
        }
        void write(float v) {
            data[static_cast<size_t>(pos)] = v;
            if (++pos == static_cast<int>(data.size())) pos = 0;
        }
    };
    float allpass(DelayLine& line, float input);
    void clear();

    double rate_ = 44100.0;
    Biquad feedHigh_, feedLow_;
    DelayLine echo_, diffuserA_, diffuserB_;
    int delay_ = 1;       // pre-delay in use
    int nextDelay_ = 1;   // pre-delay being faded to
    int fadeLength_ = 1;
    int fadePos_ = 0;     // 0 while no fade runs
    float damping_ = 0.0f;
    float dampState_ = 0.0f;
    SmoothedValue width_, space_, feedback_;
    bool idle_ = true;
    int tailLength_ = 0;
    int tailLeft_ = 0; // samples the echo may still ring after the amount reached 0
    int range_ = 0;
};
