#include "plugins/dsp_mfx2/Mfx2Effect.h"

#include <algorithm>
#include <cmath>

#include "plugins/common/DenormalGuard.h"
#include "plugins/common/Pcm16.h"

void Mfx2Effect::configure(int rate) {
    rate_ = rate;
    for (Biquad& b : shelf_) {
        b.setLowShelf(rate, BassFrequency, BassGainDb);
        b.reset();
    }
}

float Mfx2Effect::saturate(float x) {
    constexpr float knee = 0.7071f; // -3 dBFS
    const float a = std::fabs(x);
    if (a <= knee) return x;
    const float room = 1.0f - knee;
    return std::copysign(knee + room * std::tanh((a - knee) / room), x);
}

void Mfx2Effect::process(int16_t* samples, int frames, int channels, int rate) {
    if (!samples || frames <= 0 || channels < 1 || channels > MaxChannels || rate < 1000) return;
    if (rate != rate_) configure(rate);
    DenormalGuard guard;
    for (int f = 0; f < frames; ++f) {
        int16_t* frame = samples + static_cast<size_t>(f) * static_cast<size_t>(channels);
        for (int c = 0; c < channels; c += 2) {
            if (c + 1 < channels) {
                const float l = shelf_[c].process(frame[c] * Pcm16ToFloat);
                const float r = shelf_[c + 1].process(frame[c + 1] * Pcm16ToFloat);
                const float mid = 0.5f * (l + r);
                const float side = 0.5f * (l - r) * (1.0f + Width);
                frame[c] = FloatToPcm16(saturate(mid + side), 32767.0f);
                frame[c + 1] = FloatToPcm16(saturate(mid - side), 32767.0f);
            } else {
                frame[c] = FloatToPcm16(saturate(shelf_[c].process(frame[c] * Pcm16ToFloat)), 32767.0f);
            }
        }
    }
    for (Biquad& b : shelf_) b.flushTiny();
}
