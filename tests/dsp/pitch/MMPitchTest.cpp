#include <gtest/gtest.h>

#include <vector>

#include "dsp/pitch/MMPitch.h"
#include "stream/MMErrors.h"

namespace {

const WAVEFORMATEX mono16 = PcmBuildFormat(16, 1, 44100);

// Hands out frames 0, 1, 2, ... (one 16-bit sample each) until `total` frames are gone.
struct CountingSource : TMMDSPComponent {
    int total;
    int16_t next = 0;
    explicit CountingSource(int frames) : total(frames) {
        OnBufferLoad = [this](TMMDSPComponent*, PWaveHdr h, bool& more) {
            const int n = std::min<int>(total - next, static_cast<int>(h->dwBufferLength / 2));
            auto* s = reinterpret_cast<int16_t*>(h->lpData);
            for (int i = 0; i < n; ++i) s[i] = next++;
            h->dwBytesRecorded = static_cast<uint32_t>(2 * n);
            more = next < total;
        };
    }
};

std::vector<int16_t> pullAll(TMMPitch& pitch, uint32_t chunk) {
    std::vector<int16_t> out;
    std::vector<uint8_t> storage(chunk);
    bool more = true;
    for (int guard = 0; more && guard < 10000; ++guard) {
        TMMAudioBuffer b{};
        b.lpData = storage.data();
        b.dwBufferLength = chunk;
        more = false;
        pitch.BufferLoad(&b, more);
        auto* s = reinterpret_cast<int16_t*>(b.lpData);
        out.insert(out.end(), s, s + b.dwBytesRecorded / 2);
    }
    return out;
}

TEST(TMMPitch, PitchIsClampedAndSetsTheStep) {
    TMMPitch p;
    struct Case {
        float in, stored;
        int32_t step;
    } cases[] = {{75, 50, 98304}, {0, 0, 65536}, {-50, -50, 32768}, {-80, -50, 32768}, {25, 25, 81920}};
    for (const auto& c : cases) {
        p.SetPitch(c.in);
        EXPECT_EQ(p.GetPitch(), c.stored) << c.in;
        EXPECT_EQ(p.Step(), c.step) << c.in;
    }
}

TEST(TMMPitch, FiftyPercentTurnsThreeFramesIntoTwo) {
    CountingSource source(3000);
    TMMPitch pitch;
    source.SetPWaveFormat(&mono16);
    source.SetOutput(&pitch);
    pitch.SetBufferSize(512);
    pitch.Opened();
    pitch.Started();
    pitch.SetPitch(50);
    const auto out = pullAll(pitch, 256);
    EXPECT_NEAR(double(out.size()), 2000, 4);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1); // phase 1.5: the nearest earlier frame
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 4);
}

TEST(TMMPitch, MinusFiftyPercentDoublesTheFrames) {
    CountingSource source(1000);
    TMMPitch pitch;
    source.SetPWaveFormat(&mono16);
    source.SetOutput(&pitch);
    pitch.Opened();
    pitch.Started();
    pitch.SetPitch(-50);
    const auto out = pullAll(pitch, 300);
    EXPECT_NEAR(double(out.size()), 2000, 4);
    EXPECT_EQ(out[2], 1);
}

TEST(TMMPitch, ZeroPercentPassesThroughUnchanged) {
    CountingSource source(1000);
    TMMPitch pitch;
    source.SetPWaveFormat(&mono16);
    source.SetOutput(&pitch);
    pitch.Opened();
    pitch.Started();
    const auto out = pullAll(pitch, 200);
    ASSERT_EQ(out.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(out[i], i);
}

TEST(TMMPitch, RefusesFormatsOutsideThePcmRule) {
    TMMPitch p;
    auto adpcm = mono16;
    adpcm.wFormatTag = 2;
    const auto quad = PcmBuildFormat(16, 4, 44100);
    EXPECT_THROW(p.SetPWaveFormat(&adpcm), EMMPitchError);
    EXPECT_THROW(p.SetPWaveFormat(&quad), EMMPitchError);
    EXPECT_NO_THROW(p.SetPWaveFormat(nullptr));
}

} // namespace
