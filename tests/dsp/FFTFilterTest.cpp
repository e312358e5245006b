#include "dsp/fftfilter/FFTFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using FilterPtr = std::unique_ptr<TFFTFilter>;
using Samples = std::vector<int16_t>;

// Table gain of 0 dB after the halving of the end bins: 10^(6/20) / 2.
const double FlatGain = 0.5 * std::pow(10.0, 0.3);

FilterPtr MakeFilter(int channels, int32_t length, uint32_t rate = 44100, int32_t queueSize = 1 << 16) {
    const WAVEFORMATEX format = PcmBuildFormat(16, channels, rate);
    return FilterPtr(CreateFFTFilter(&format, length, queueSize));
}

Samples Noise(size_t count, int amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    Samples s(count);
    for (int16_t& v : s)
        v = static_cast<int16_t>(dist(rng));
    return s;
}

// Interleaved stereo (or mono when right is empty) from one tone per channel.
Samples Tones(size_t frames, double leftHz, double rightHz, double amplitude, int channels,
              double rate = 44100) {
    Samples s(frames * channels);
    for (size_t t = 0; t < frames; ++t) {
        s[t * channels] =
            static_cast<int16_t>(amplitude * std::sin(2 * std::numbers::pi * leftHz * t / rate));
        if (channels == 2)
            s[t * channels + 1] =
                static_cast<int16_t>(amplitude * std::sin(2 * std::numbers::pi * rightHz * t / rate));
    }
    return s;
}

struct RunResult {
    Samples output;
    bool clipped = false;
};

// Feeds the input through in calls of callFrames[0], callFrames[1], ... (cycled) frames.
RunResult Stream(TFFTFilter* f, const Samples& input, const std::vector<size_t>& callFrames,
                 uint8_t select = 0) {
    RunResult r{input, false};
    const size_t frames = input.size() / f->Channels;
    size_t at = 0;
    for (size_t call = 0; at < frames; ++call) {
        const size_t n = std::min(callFrames[call % callFrames.size()], frames - at);
        auto* bytes = reinterpret_cast<uint8_t*>(r.output.data() + at * f->Channels);
        if (ProcessFFTFilter(f, select, bytes, static_cast<int32_t>(n * f->Channels * 2))) r.clipped = true;
        at += n;
    }
    return r;
}

// The flat filter's output: the input scaled by FlatGain, `delay` frames late, truncated.
int ExpectedFlat(const Samples& input, int channels, size_t frame, int channel, size_t delay) {
    if (frame < delay) return 0;
    return static_cast<int>(std::trunc(FlatGain * input[(frame - delay) * channels + channel]));
}

double Rms(const Samples& s, int channels, int channel, size_t fromFrame) {
    double sum = 0;
    size_t n = 0;
    for (size_t t = fromFrame; t * channels < s.size(); ++t, ++n)
        sum += double(s[t * channels + channel]) * s[t * channels + channel];
    return std::sqrt(sum / n);
}

std::vector<float> GainsOf(const TFFTFilter& f) {
    return {f.Gains.begin(), f.Gains.begin() + f.HalfLength + 1};
}

// --- creation ---------------------------------------------------------------------------------

struct LengthCase {
    int32_t requested;
    int32_t blockLength;
    int32_t bits;
};

class CreateFFTFilterLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(CreateFFTFilterLengthTest, TakesLargestPowerOfTwoUpTo1024WithFlatHammingDesign) {
    const LengthCase& c = GetParam();
    FilterPtr f = MakeFilter(2, c.requested);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->BlockLength, c.blockLength);
    EXPECT_EQ(f->HalfLength, c.blockLength / 2);
    EXPECT_EQ(f->Bits, c.bits);
    ASSERT_TRUE(f->Plan);
    EXPECT_EQ(f->Plan->Length, c.blockLength);
    EXPECT_EQ(f->SampleRate, 44100);
    EXPECT_EQ(f->Channels, 2);
    EXPECT_EQ(f->Window, fwHamming);
    for (float g : GainsOf(*f))
        EXPECT_FLOAT_EQ(g, 2 * FlatGain);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CreateFFTFilterLengthTest,
                         testing::Values(LengthCase{4096, 1024, 10}, LengthCase{2048, 1024, 10},
                                         LengthCase{1024, 1024, 10}, LengthCase{1000, 512, 9},
                                         LengthCase{100, 64, 6}, LengthCase{7, 4, 2}, LengthCase{4, 4, 2}));

TEST(CreateFFTFilterTest, RefusesFormatsAndSizesItCannotFilter) {
    const WAVEFORMATEX stereo16 = PcmBuildFormat(16, 2, 44100);
    const WAVEFORMATEX mono8 = PcmBuildFormat(8, 1, 44100);
    const WAVEFORMATEX quad16 = PcmBuildFormat(16, 4, 44100);
    WAVEFORMATEX compressed = stereo16;
    compressed.wFormatTag = 2;
    struct Case {
        const WAVEFORMATEX* format;
        int32_t length;
        int32_t queueSize;
    };
    for (const Case& c :
         {Case{nullptr, 1024, 4096}, Case{&mono8, 1024, 4096}, Case{&quad16, 1024, 4096},
          Case{&compressed, 1024, 4096}, Case{&stereo16, 3, 4096}, Case{&stereo16, 0, 4096},
          Case{&stereo16, -1024, 4096}, Case{&stereo16, 1024, 0}, Case{&stereo16, 1024, -1}}) {
        TFFTFilter* f = CreateFFTFilter(c.format, c.length, c.queueSize);
        EXPECT_EQ(f, nullptr) << "length " << c.length << " queue " << c.queueSize;
        FreeFFTFilter(f);
    }
}

TEST(CreateFFTFilterTest, FreeClearsThePointerAndIgnoresNull) {
    const WAVEFORMATEX format = PcmBuildFormat(16, 1, 44100);
    TFFTFilter* f = CreateFFTFilter(&format, 256, 1024);
    ASSERT_NE(f, nullptr);
    FreeFFTFilter(f);
    EXPECT_EQ(f, nullptr);
    FreeFFTFilter(f);
}

// --- band to bins -----------------------------------------------------------------------------

struct BandCase {
    uint32_t rate;
    int32_t length;
    float f1, f2;
    int32_t first, last;
};

class SetFFTFilterBandTest : public testing::TestWithParam<BandCase> {};

TEST_P(SetFFTFilterBandTest, SetsInclusiveBinRange) {
    const BandCase& c = GetParam();
    FilterPtr f = MakeFilter(2, c.length, c.rate);
    ASSERT_TRUE(f);
    SetFFTFilterBand(f.get(), c.f1, c.f2, -12.0f);
    const std::vector<float> gains = GainsOf(*f);
    const float cut = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    for (int32_t k = 0; k <= f->HalfLength; ++k) {
        const bool inBand = k >= c.first && k <= c.last;
        EXPECT_FLOAT_EQ(gains[k], inBand ? cut : 2 * FlatGain)
            << "bin " << k << " band " << c.f1 << ".." << c.f2;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bands, SetFFTFilterBandTest,
    testing::Values(BandCase{44100, 1024, 1000, 1000, 23, 23},    // 1000 and 1001 Hz share bin 23
                    BandCase{44100, 1024, 200, 100, 2, 4},        // swapped
                    BandCase{44100, 1024, 30000, 5000, 116, 511}, // F1 clamped to 22049, then swapped
                    BandCase{44100, 1024, 30000, 30000, 511, 512}, BandCase{44100, 1024, 0, 22050, 0, 512},
                    BandCase{44100, 1024, 0, 0, 0, 0},
                    BandCase{44100, 1024, -50, 10, 0, 0}, // negative frequencies count as 0
                    BandCase{48000, 256, 1000, 2000, 5, 10}, BandCase{8000, 64, 3000, 9000, 24, 32}));

TEST(SetFFTFilterGainsTest, ClampsBinsAndSkipsEmptyRangesAndNaN) {
    FilterPtr f = MakeFilter(1, 64);
    ASSERT_TRUE(f);
    const std::vector<float> flat = GainsOf(*f);
    SetFFTFilterGains(f.get(), 10, 5, -20.0f);
    SetFFTFilterGains(f.get(), 0, 32, std::nanf(""));
    SetFFTFilterBand(f.get(), std::nanf(""), 1000.0f, -20.0f);
    EXPECT_EQ(GainsOf(*f), flat);
    SetFFTFilterGains(f.get(), -100, 100000, 14.0f);
    for (float g : GainsOf(*f))
        EXPECT_FLOAT_EQ(g, 10.0f);
    EXPECT_EQ(f->Gains[f->HalfLength + 1], 0.0f);
}

// --- filtering --------------------------------------------------------------------------------

struct FlatCase {
    int channels;
    int32_t length;
    uint32_t rate;
    TMMFFTWindow window;
};

class FlatFilterTest : public testing::TestWithParam<FlatCase> {};

TEST_P(FlatFilterTest, DelaysByQuarterBlockAndScalesBy0_99763) {
    const FlatCase& c = GetParam();
    FilterPtr f = MakeFilter(c.channels, c.length, c.rate);
    ASSERT_TRUE(f);
    SetFFTFilterWindow(f.get(), c.window);
    const size_t n = f->BlockLength, frames = 6 * n;
    const Samples input = Noise(frames * c.channels, 30000, 7);
    const RunResult r = Stream(f.get(), input, {n, 2 * n});
    EXPECT_FALSE(r.clipped);
    for (size_t t = 0; t < frames; ++t)
        for (int ch = 0; ch < c.channels; ++ch)
            ASSERT_NEAR(r.output[t * c.channels + ch], ExpectedFlat(input, c.channels, t, ch, n / 4), 1)
                << "frame " << t << " channel " << ch;
}

INSTANTIATE_TEST_SUITE_P(Configurations, FlatFilterTest,
                         testing::Values(FlatCase{2, 1024, 44100, fwHamming},
                                         FlatCase{1, 1024, 48000, fwHanning},
                                         FlatCase{2, 256, 44100, fwBlackman},
                                         FlatCase{2, 64, 22050, fwGaussian}, FlatCase{1, 16, 8000, fwWelch},
                                         FlatCase{2, 4, 44100, fwParzen},
                                         FlatCase{2, 512, 44100, fwRectangular},
                                         // Odd rate: SampleRate/2 falls short of the Nyquist bin.
                                         FlatCase{2, 1024, 11025, fwHamming}));

TEST(FFTFilterTest, BandCutAttenuatesToneInsideAndPassesToneOutside) {
    FilterPtr f = MakeFilter(2, 1024);
    ASSERT_TRUE(f);
    SetFFTFilterBand(f.get(), 2000.0f, 4000.0f, -40.0f);
    const size_t frames = 16 * 1024;
    const Samples input = Tones(frames, 3000, 10000, 10000, 2); // left in the band, right outside
    const RunResult r = Stream(f.get(), input, {1024});
    const size_t settled = 2048;
    const double leftDb = 20 * std::log10(Rms(r.output, 2, 0, settled) / Rms(input, 2, 0, settled));
    const double rightDb = 20 * std::log10(Rms(r.output, 2, 1, settled) / Rms(input, 2, 1, settled));
    EXPECT_NEAR(leftDb, -40.0, 1.0);
    EXPECT_NEAR(rightDb, -0.02, 0.05);
}

TEST(FFTFilterTest, ChannelsDoNotLeakIntoEachOther) {
    FilterPtr f = MakeFilter(2, 256);
    ASSERT_TRUE(f);
    SetFFTFilterBand(f.get(), 500.0f, 3000.0f, 12.0f);
    Samples input = Noise(8 * 256 * 2, 8000, 3);
    for (size_t t = 0; t < input.size(); t += 2)
        input[t] = 0;
    const RunResult r = Stream(f.get(), input, {256});
    for (size_t t = 0; t < r.output.size(); t += 2)
        ASSERT_EQ(r.output[t], 0) << "frame " << t / 2;
    EXPECT_GT(Rms(r.output, 2, 1, 256), 1000.0);
}

struct SelectCase {
    int channels;
    uint8_t select;
    bool firstFiltered;
    bool secondFiltered;
};

class ChannelSelectTest : public testing::TestWithParam<SelectCase> {};

TEST_P(ChannelSelectTest, FiltersChosenChannelAndLeavesTheOtherAsIs) {
    const SelectCase& c = GetParam();
    FilterPtr f = MakeFilter(c.channels, 256);
    ASSERT_TRUE(f);
    const size_t frames = 8 * 256;
    const Samples input = Noise(frames * c.channels, 20000, 11);
    // Calls of 1.5 blocks: the filtered channel starts with half a block of silence.
    const RunResult r = Stream(f.get(), input, {384}, c.select);
    for (int ch = 0; ch < c.channels; ++ch) {
        const bool filtered = ch == 0 ? c.firstFiltered : c.secondFiltered;
        for (size_t t = 0; t < frames; ++t) {
            const int got = r.output[t * c.channels + ch];
            if (filtered)
                ASSERT_NEAR(got, ExpectedFlat(input, c.channels, t, ch, 128 + 64), 1)
                    << "frame " << t << " ch " << ch;
            else
                ASSERT_EQ(got, input[t * c.channels + ch]) << "frame " << t << " ch " << ch;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Selections, ChannelSelectTest,
                         testing::Values(SelectCase{2, 0, true, true}, SelectCase{2, 1, true, false},
                                         SelectCase{2, 2, false, true}, SelectCase{2, 3, true, true},
                                         SelectCase{1, 1, true, false}, SelectCase{1, 2, true, false}));

struct QueueCase {
    int32_t length;
    int32_t queueSize;
    std::vector<size_t> callFrames;
    size_t leadFrames; // silence the stream starts with
};

class FFTFilterQueueTest : public testing::TestWithParam<QueueCase> {};

TEST_P(FFTFilterQueueTest, PartialCallsReturnTheWholeBlockStreamAfterLeadingSilence) {
    const QueueCase& c = GetParam();
    FilterPtr whole = MakeFilter(2, c.length);
    FilterPtr split = MakeFilter(2, c.length, 44100, c.queueSize);
    ASSERT_TRUE(whole && split);
    const size_t n = whole->BlockLength, frames = 12 * n;
    const Samples input = Noise(frames * 2, 20000, 5);
    const Samples reference = Stream(whole.get(), input, {n}).output;
    const Samples got = Stream(split.get(), input, c.callFrames).output;
    for (size_t i = 0; i < got.size(); ++i) {
        const int want = i < 2 * c.leadFrames ? 0 : reference[i - 2 * c.leadFrames];
        ASSERT_EQ(got[i], want) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(CallPatterns, FFTFilterQueueTest,
                         testing::Values(QueueCase{256, 1 << 16, {384}, 128}, // 1.5 blocks a call
                                         QueueCase{256, 1 << 16, {64}, 192},  // quarter blocks
                                         QueueCase{256, 1 << 16, {256}, 0},
                                         QueueCase{256, 1 << 16, {512, 256, 768}, 0},
                                         QueueCase{1024, 256, {64}, 960}, // calls and queue far below a block
                                         QueueCase{1024, 1 << 16, {1536, 512}, 512}));

TEST(FFTFilterTest, SaturatesAndReportsClippingPerCall) {
    FilterPtr f = MakeFilter(2, 256);
    ASSERT_TRUE(f);
    SetFFTFilterGains(f.get(), 0, f->HalfLength, 12.0f);
    const Samples loud = Tones(4 * 256, 1000, 2000, 20000, 2);
    const RunResult r = Stream(f.get(), loud, {4 * 256});
    EXPECT_TRUE(r.clipped);
    EXPECT_EQ(*std::max_element(r.output.begin(), r.output.end()), 32767);
    EXPECT_EQ(*std::min_element(r.output.begin(), r.output.end()), -32768);

    ResetFFTFilter(f.get());
    const Samples quiet = Tones(4 * 256, 1000, 2000, 4000, 2);
    EXPECT_FALSE(Stream(f.get(), quiet, {256}).clipped);
}

TEST(FFTFilterTest, ResetStartsAFreshStream) {
    FilterPtr used = MakeFilter(2, 256);
    FilterPtr fresh = MakeFilter(2, 256);
    ASSERT_TRUE(used && fresh);
    Stream(used.get(), Noise(1000 * 2, 20000, 1), {300}); // leaves queued bytes and overlap tails
    ResetFFTFilter(used.get());
    const Samples input = Noise(2048 * 2, 20000, 2);
    EXPECT_EQ(Stream(used.get(), input, {256}).output, Stream(fresh.get(), input, {256}).output);
}

TEST(FFTFilterTest, RefusedCallsLeaveDataAndStreamAlone) {
    FilterPtr f = MakeFilter(2, 64, 44100, 1024);
    FilterPtr fresh = MakeFilter(2, 64, 44100, 1024);
    ASSERT_TRUE(f && fresh);
    Samples data = Noise(1024, 20000, 9);
    const Samples original = data;
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    EXPECT_FALSE(ProcessFFTFilter(f.get(), 0, bytes, 1028)); // above the queue size
    EXPECT_FALSE(ProcessFFTFilter(f.get(), 0, bytes, 6));    // a part frame
    EXPECT_FALSE(ProcessFFTFilter(f.get(), 0, bytes, 0));
    EXPECT_FALSE(ProcessFFTFilter(f.get(), 0, bytes, -4));
    EXPECT_FALSE(ProcessFFTFilter(f.get(), 0, nullptr, 256));
    EXPECT_FALSE(ProcessFFTFilter(nullptr, 0, bytes, 256));
    EXPECT_EQ(data, original);
    EXPECT_EQ(Stream(f.get(), original, {256}).output, Stream(fresh.get(), original, {256}).output);
}

// Each block sees one whole design: with two flat tables every settled output sample of a constant
// input is one of the two scaled values, never a torn mixture.
TEST(FFTFilterTest, DesignOnAnotherThreadNeverTearsABlock) {
    FilterPtr f = MakeFilter(2, 256);
    ASSERT_TRUE(f);
    std::atomic<bool> stop{false};
    std::thread designer([&] {
        for (int i = 0; !stop.load(); ++i)
            SetFFTFilterGains(f.get(), 0, f->HalfLength, i % 2 ? -6.0f : 0.0f);
    });
    const int x = 10000;
    const int loud = static_cast<int>(FlatGain * x);
    const int soft = static_cast<int>(FlatGain * std::pow(10.0, -6.0 / 20.0) * x);
    Samples block(256 * 2);
    for (int call = 0; call < 400; ++call) {
        std::fill(block.begin(), block.end(), static_cast<int16_t>(x));
        ProcessFFTFilter(f.get(), 0, reinterpret_cast<uint8_t*>(block.data()),
                         static_cast<int32_t>(block.size() * 2));
        for (size_t i = call == 0 ? 2 * 64 : 0; i < block.size(); ++i) {
            const int v = block[i];
            if (std::abs(v - loud) > 1 && std::abs(v - soft) > 1) {
                ADD_FAILURE() << "call " << call << " sample " << i << " = " << v;
                call = 400;
                break;
            }
        }
    }
    stop = true;
    designer.join();
}

TEST(FFTFilterTest, WindowChangeRedesignsTheKernel) {
    FilterPtr f = MakeFilter(1, 256);
    ASSERT_TRUE(f);
    SetFFTFilterBand(f.get(), 3000.0f, 6000.0f, -30.0f);
    const std::array<float, 2 * FFTFilterArraySize> hamming = f->Response;
    SetFFTFilterWindow(f.get(), fwRectangular);
    EXPECT_EQ(f->Window, fwRectangular);
    EXPECT_NE(f->Response, hamming);
    SetFFTFilterWindow(f.get(), fwHamming);
    EXPECT_EQ(f->Response, hamming);
}

} // namespace
