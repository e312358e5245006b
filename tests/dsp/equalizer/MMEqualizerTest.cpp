#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "dsp/equalizer/MMEqualizer.h"
#include "stream/MMErrors.h"
#include "stream/MainThreadDispatcher.h"

namespace {

const WAVEFORMATEX stereo = PcmBuildFormat(16, 2, 44100);

float dB(float linear) { return 20.0f * std::log10(linear); }
// Gains hold the block filter's 6 dB headroom offset; report the band's own gain.
float binGain(const TMMEqualizer& eq, int bin) { return dB(eq.StreamFilter()->Gains[bin]) - 6.0f; }

struct Prepared : ::testing::Test {
    TMMEqualizer eq;
    void SetUp() override {
        eq.SetFFTLength(2048);
        eq.SetPWaveFormat(&stereo);
        eq.SetBufferSize(4096);
        eq.Opened();
        ASSERT_TRUE(eq.Prepared());
    }
};

TEST(Equalizer, FFTLengthIsClampedToAPowerOfTwo) {
    struct Case {
        int32_t in, out;
    } cases[] = {{3000, 2048}, {5, 8}, {100000, 4096}, {256, 256}, {1000, 512}, {-1, 8}};
    for (const auto& c : cases) {
        TMMEqualizer eq;
        eq.SetFFTLength(c.in);
        EXPECT_EQ(eq.GetFFTLength(), c.out) << c.in;
    }
}

TEST(Equalizer, RefusesFormatsItCannotEqualize) {
    auto eight = PcmBuildFormat(8, 2, 44100);
    auto quad = PcmBuildFormat(16, 4, 44100);
    auto adpcm = stereo;
    adpcm.wFormatTag = 2;
    for (auto* f : {&eight, &quad, &adpcm}) {
        TMMEqualizer eq;
        try {
            eq.SetPWaveFormat(f);
            ADD_FAILURE();
        } catch (const EMMEqualizerError& e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
    }
    TMMEqualizer eq;
    EXPECT_NO_THROW(eq.SetPWaveFormat(nullptr));
    eq.SetPWaveFormat(&stereo);
    EXPECT_EQ(eq.GetSampleRate(), 44100);
}

TEST_F(Prepared, BlockFilterWorksWithAtMost1024) { EXPECT_EQ(eq.StreamFilter()->BlockLength, 1024); }

TEST_F(Prepared, LaterBandsOverwriteEarlierOnes) {
    // Bin width 44100/1024 = 43 Hz: 100-200 Hz is bins 2..4, 150-300 Hz bins 3..6.
    eq.Filters().Add(new TMMEQFilter(100, 200, 6));
    eq.Filters().Add(new TMMEQFilter(150, 300, -6));
    EXPECT_NEAR(binGain(eq, 2), 6, 0.01);
    for (int bin = 3; bin <= 6; ++bin) EXPECT_NEAR(binGain(eq, bin), -6, 0.01) << bin;
    EXPECT_NEAR(binGain(eq, 20), 0, 0.01);
}

TEST_F(Prepared, DisablingABandFlattensItUntilTheNextRebuild) {
    eq.Filters().Add(new TMMEQFilter(100, 300, 6));
    eq.Filters().Add(new TMMEQFilter(150, 200, -6));
    eq.Filters()[1]->SetEnabled(false);
    EXPECT_NEAR(binGain(eq, 3), 0, 0.01); // not the earlier band's +6 dB
    eq.RebuildResponse();
    EXPECT_NEAR(binGain(eq, 3), 6, 0.01);
}

TEST_F(Prepared, SliderGainChangesApplyOneBand) {
    eq.Filters().Add(new TMMEQFilter(1000, 2000, 0));
    int changes = 0;
    eq.OnChange = [&](TMMEqualizer*) { ++changes; };
    eq.Filters()[0]->SetValue(2, -12);
    EXPECT_NEAR(binGain(eq, 30), -12, 0.01);
    EXPECT_EQ(changes, 1);
    eq.Filters()[0]->SetValue(2, -12); // unchanged: no notification
    EXPECT_EQ(changes, 1);
}

std::vector<int16_t> tone(double hz, int frames, double amplitude = 8000) {
    std::vector<int16_t> s(2 * frames);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * i / 44100.0));
        s[2 * i] = v;
        s[2 * i + 1] = v;
    }
    return s;
}

double rms(const std::vector<int16_t>& s, int channel, int fromFrame) {
    double sum = 0;
    int n = 0;
    for (size_t i = 2 * fromFrame + channel; i < s.size(); i += 2, ++n) sum += double(s[i]) * s[i];
    return std::sqrt(sum / n);
}

std::vector<int16_t> pushThrough(TMMEqualizer& eq, std::vector<int16_t> samples) {
    const uint32_t chunk = 4096;
    for (size_t at = 0; at < samples.size() * 2; at += chunk) {
        TMMAudioBuffer b{};
        b.lpData = reinterpret_cast<uint8_t*>(samples.data()) + at;
        b.dwBufferLength = b.dwBytesRecorded = static_cast<uint32_t>(std::min<size_t>(chunk, samples.size() * 2 - at));
        eq.BufferReady(&b);
    }
    return samples;
}

TEST_F(Prepared, CutsAToneInItsBandAndLeavesOthers) {
    eq.Filters().Add(new TMMEQFilter(800, 1300, -12));
    eq.Started();
    const auto in = tone(1000, 44100);
    const auto out = pushThrough(eq, in);
    EXPECT_NEAR(dB(float(rms(out, 0, 4096) / rms(in, 0, 4096))), -12, 1.0);

    eq.Reset();
    const auto other = tone(5000, 44100);
    const auto kept = pushThrough(eq, other);
    EXPECT_NEAR(dB(float(rms(kept, 0, 4096) / rms(other, 0, 4096))), 0, 0.5);
}

TEST_F(Prepared, RightChannelOnlyLeavesLeftExactly) {
    eq.Filters().Add(new TMMEQFilter(800, 1300, -12));
    eq.Channel = chRight;
    eq.Started();
    const auto in = tone(1000, 20000);
    const auto out = pushThrough(eq, in);
    for (size_t i = 0; i < in.size(); i += 2) ASSERT_EQ(out[i], in[i]) << i;
    EXPECT_LT(rms(out, 1, 4096), rms(in, 1, 4096) / 2);
}

TEST_F(Prepared, DisabledPassesUnchangedWithoutDelay) {
    eq.Filters().Add(new TMMEQFilter(800, 1300, -12));
    eq.Started();
    eq.SetEnabled(false);
    const auto in = tone(1000, 5000);
    EXPECT_EQ(pushThrough(eq, in), in);
}

TEST_F(Prepared, OverflowFromAnAudioThreadIsPostedToTheMainThread) {
    eq.Filters().Add(new TMMEQFilter(20, 20000, 12));
    eq.Started();
    std::vector<std::thread::id> seen;
    eq.OnPcmOverflow = [&](TMMEqualizer*) { seen.push_back(std::this_thread::get_id()); };
    std::thread audio([&] { pushThrough(eq, tone(1000, 20000, 30000)); });
    audio.join();
    EXPECT_TRUE(seen.empty()); // not run on the audio thread, not yet on the main thread
    MainThreadDispatcher::Instance().ProcessPending();
    ASSERT_EQ(seen.size(), 1u); // coalesced
    EXPECT_EQ(seen[0], std::this_thread::get_id());
}

TEST(EqualizerStream, ReadsAndWritesTheStoredExample) {
    const std::vector<uint8_t> example = {
        0x45, 0x51, 0x55, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 'U',  'n',  't',  'i',  't',  'l',  'e',
        'd',  0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x0B, 'T',  'M',  'M',  'E',  'Q',  'F',  'i',  'l',
        't',  'e',  'r',  0x01, 0x00, 0x00, 0xA0, 0x41, 0x00, 0x00, 0xC8, 0x41, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(example.size(), 48u);
    TMMEqualizer eq;
    eq.Description = "Other";
    eq.Filters().ReadData(example);
    ASSERT_EQ(eq.Filters().Count(), 1);
    EXPECT_EQ(eq.Description, "Untitled");
    EXPECT_EQ(eq.GetFFTLength(), 2048);
    EXPECT_TRUE(eq.Filters()[0]->Enabled);
    EXPECT_EQ(eq.Filters()[0]->F1, 20.0f);
    EXPECT_EQ(eq.Filters()[0]->F2, 25.0f);
    EXPECT_EQ(eq.Filters()[0]->Gain, 0.0f);
    EXPECT_EQ(eq.Filters().WriteData(), example);
}

TEST(EqualizerStream, DamagedStreamsLeaveTheListAsItWas) {
    TMMEqualizer source;
    source.Filters().Add(new TMMEQFilter(100, 200, 3));
    source.Filters().Add(new TMMEQFilter(200, 400, -3));
    const auto good = source.Filters().WriteData();

    auto badMagic = good;
    badMagic[0] = 'X';
    auto truncated = good;
    truncated.resize(good.size() - 3);
    auto hugeDescription = good;
    hugeDescription[5] = 0xFF; // length 0x000000FF past the end
    auto negativeCount = good; // "Untitled" puts the count at offset 15 + 8
    negativeCount[23] = negativeCount[24] = 0xFF;
    auto unknownClass = good;
    unknownClass[15 + 8 + 1] = 'X'; // "XMMEQFilter"

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {"bad magic", badMagic, "Invalid Object stream"},
        {"truncated", truncated, "Invalid Object stream"},
        {"description past the end", hugeDescription, "Invalid Object stream"},
        {"unknown class", unknownClass, "Class <XMMEQFilter> not registered"},
        {"negative count", negativeCount, "Invalid Object stream"},
        {"empty", {}, "Invalid Object stream"},
    };
    for (const auto& c : cases) {
        TMMEqualizer eq;
        eq.Filters().Add(new TMMEQFilter(1, 2, 3));
        try {
            eq.Filters().ReadData(c.bytes);
            ADD_FAILURE() << c.name;
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
        ASSERT_EQ(eq.Filters().Count(), 1) << c.name;
        EXPECT_EQ(eq.Filters()[0]->Gain, 3.0f) << c.name;
        EXPECT_EQ(eq.Filters().UpdateCount(), 0) << c.name;
        EXPECT_FALSE(eq.LoadingSuppressed()) << c.name;
    }
}

TEST(EqualizerStream, ListIndexOutOfBounds) {
    TMMEqualizer eq;
    try {
        eq.Filters().Items(3);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (3)");
    }
}

TEST(EqualizerStream, AssignCopiesTheListAndRebuildsOnce) {
    TMMEqualizer a, b;
    a.Filters().Add(new TMMEQFilter(100, 200, 3));
    a.Filters().Add(new TMMEQFilter(300, 400, 4));
    a.Description = "Mine";
    a.SetFFTLength(1024);
    int changes = 0;
    b.OnChange = [&](TMMEqualizer*) { ++changes; };
    b.Assign(a);
    EXPECT_EQ(b.Filters().Count(), 2);
    EXPECT_NE(b.Filters()[0], a.Filters()[0]);
    EXPECT_EQ(b.Filters()[1]->Gain, 4.0f);
    EXPECT_EQ(b.Description, "Mine");
    EXPECT_EQ(b.GetFFTLength(), 1024);
    EXPECT_EQ(changes, 1);
}

struct FakeAnalyser : EqualizerResponseDisplay {
    WAVEFORMATEX format{};
    TMMFFTWindow window = fwHamming;
    std::function<void()> needData;
    std::vector<int16_t> analysed;
    void SetResponseFormat(const WAVEFORMATEX* f) override { format = *f; }
    void SetResponseWindow(TMMFFTWindow w) override { window = w; }
    void SetOnNeedData(std::function<void()> h) override { needData = std::move(h); }
    void RefreshResponse() override {
        if (needData) needData();
    }
    int32_t AnalysisBlockBytes() const override { return 1024; }
    void AnalyseResponse(const uint8_t* data, int32_t bytes) override {
        analysed.assign(reinterpret_cast<const int16_t*>(data), reinterpret_cast<const int16_t*>(data + bytes));
    }
};

TEST(EqualizerDisplay, ShowsTheImpulseResponseOfTheKernelInUse) {
    TMMEqualizer eq;
    eq.SetFFTLength(1024);
    eq.SetSampleRate(44100);
    FakeAnalyser view;
    eq.SetSpectrum(&view);
    EXPECT_EQ(view.window, fwRectangular);
    EXPECT_EQ(view.format.nChannels, 1);
    EXPECT_EQ(view.format.nSamplesPerSec, 44100u);
    ASSERT_EQ(view.analysed.size(), 1024u); // max(1024 bytes, 2 x 1024) bytes of 16-bit samples
    double energyFlat = 0;
    for (auto s : view.analysed) energyFlat += double(s) * s;
    EXPECT_GT(energyFlat, 0);

    eq.Filters().Add(new TMMEQFilter(20, 22000, -12)); // the whole band down by 12 dB
    double energyCut = 0;
    for (auto s : view.analysed) energyCut += double(s) * s;
    EXPECT_NEAR(10 * std::log10(energyCut / energyFlat), -12, 1.0);

    eq.SetSpectrum(nullptr);
    EXPECT_FALSE(view.needData);
}

} // namespace

namespace {

TEST_F(Prepared, SliderMovesWhileAnotherThreadEqualizes) {
    double lo = 20;
    for (int band = 0; band < 31; ++band) {
        const double hi = lo * std::pow(2.0, 1.0 / 3.0);
        eq.Filters().Add(new TMMEQFilter(float(lo), float(hi), 0));
        lo = hi;
    }
    eq.Started();
    std::atomic<bool> stop{false};
    std::atomic<int> buffers{0};
    std::thread audio([&] {
        auto samples = tone(1000, 2048, 3000);
        while (!stop) {
            pushThrough(eq, samples);
            ++buffers;
        }
    });
    for (int round = 0; round < 3; ++round)
        for (int band = 0; band < 31; ++band) eq.Filters()[band]->SetValue(2, double((band + round) % 25 - 12));
    while (buffers < 3) std::this_thread::yield();
    stop = true;
    audio.join();
    EXPECT_NEAR(binGain(eq, 21), double((16 + 2) % 25 - 12), 0.01); // bin 21 (904 Hz) lies in band 16
}

} // namespace
