#include <gtest/gtest.h>

#include "stream/MMTypes.h"
#include "stream/WaveFormat.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) { return PcmBuildFormat(bits, channels, rate); }

TEST(WaveFormat, BuildsPcmRecord) {
    auto f = pcm(16, 2, 44100);
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f.cbSize, 0);
}

TEST(WaveFormat, SupportedFormats) {
    struct Case {
        int tag, bits, channels;
        uint32_t rate;
        bool supported;
    } cases[] = {
        {1, 16, 2, 44100, true},  {1, 8, 1, 4000, true},    {1, 16, 4, 100000, true},
        {1, 16, 3, 44100, false}, {1, 24, 2, 44100, false}, {1, 16, 2, 3999, false},
        {1, 16, 2, 100001, false}, {2, 16, 2, 44100, false}, {1, 16, 0, 44100, false},
    };
    for (const auto& c : cases) {
        auto f = pcm(c.bits, c.channels, c.rate);
        f.wFormatTag = static_cast<uint16_t>(c.tag);
        EXPECT_EQ(PcmFormatSupported(&f), c.supported) << c.tag << "/" << c.bits << "/" << c.channels << "/" << c.rate;
    }
    EXPECT_FALSE(PcmFormatSupported(nullptr));
}

TEST(WaveFormat, SizeAndCopy) {
    EXPECT_EQ(WaveFormatSize(nullptr), 0);
    EXPECT_EQ(CopyWaveFormat(nullptr), nullptr);

    auto f = pcm(16, 2, 44100);
    f.cbSize = 7; // ignored for PCM, cleared in the copy
    EXPECT_EQ(WaveFormatSize(&f), 18);
    auto copy = CopyWaveFormat(&f);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_NE(copy.get(), &f);

    auto adpcm = AllocWaveFormat(18 + 32);
    adpcm->wFormatTag = 2;
    adpcm->cbSize = 32;
    reinterpret_cast<uint8_t*>(adpcm.get())[18 + 31] = 0xAB;
    EXPECT_EQ(WaveFormatSize(adpcm.get()), 50);
    auto adpcmCopy = CopyWaveFormat(adpcm.get());
    EXPECT_EQ(reinterpret_cast<uint8_t*>(adpcmCopy.get())[18 + 31], 0xAB);
    EXPECT_TRUE(IsSameWaveFormat(adpcm.get(), adpcmCopy.get()));
}

TEST(WaveFormat, MulDivRoundsHalvesAwayFromZero) {
    struct Case {
        int64_t a, b, c, expected;
    } cases[] = {{5, 1, 2, 3}, {-5, 1, 2, -3}, {4, 1, 3, 1}, {5, 1, 3, 2}, {7, 1, 0, 0}, {3, -1, 2, -2}};
    for (const auto& c : cases) EXPECT_EQ(MulDivRound(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

TEST(WaveFormat, TimeConversions) {
    const auto cd = pcm(16, 2, 44100);
    const auto odd = pcm(8, 1, 11025);
    const auto low = pcm(8, 1, 8000);
    struct Case {
        const char* name;
        int32_t (*fn)(const WAVEFORMATEX*, int32_t);
        const WAVEFORMATEX* format;
        int32_t in, expected;
    } cases[] = {
        {"SamplesToBytes 1", SamplesToBytes, &cd, 1, 4},
        {"SamplesToBytes 0", SamplesToBytes, &cd, 0, 0},
        {"BytesToSamples", BytesToSamples, &cd, 6, 2}, // 1.5 frames rounds up
        {"BytesToMs", BytesToMs, &cd, 88200, 500},
        {"BytesToMs half", BytesToMs, &low, 4, 1},
        {"SamplesToMs", SamplesToMs, &cd, 22050, 500},
        {"SamplesToMs rounding", SamplesToMs, &cd, 22, 0},
        {"SamplesToMs half", SamplesToMs, &low, 4, 1},
        {"MsToSamples odd rate", MsToSamples, &odd, 2, 22}, // 22.05
        {"MsToSamples", MsToSamples, &cd, 10, 441},
        {"MsToBytes whole frames", MsToBytes, &cd, 1, 176},
        {"MsToBytes rounds to block", MsToBytes, &cd, 3, 532}, // 529.2 -> 529 -> 532
    };
    for (const auto& c : cases) EXPECT_EQ(c.fn(c.format, c.in), c.expected) << c.name;
}

TEST(WaveFormat, ConversionsWithoutRateReturnZero) {
    WAVEFORMATEX zero{};
    zero.wFormatTag = 1;
    EXPECT_EQ(BytesToSamples(&zero, 100), 0);
    EXPECT_EQ(BytesToMs(&zero, 100), 0);
    EXPECT_EQ(SamplesToMs(&zero, 100), 0);
    EXPECT_EQ(SamplesToMs64(&zero, 100), 0);
    EXPECT_EQ(BytesToSamples64(&zero, 100), 0);
    EXPECT_EQ(MsToBytes(nullptr, 100), 0);
}

TEST(WaveFormat, SixtyFourBitConversionsTruncate) {
    const auto cd = pcm(16, 2, 44100);
    const int64_t hours = 10LL * 3600 * 44100; // beyond 32 bits once in bytes
    EXPECT_EQ(SamplesToBytes64(&cd, hours), hours * 4);
    EXPECT_EQ(BytesToSamples64(&cd, hours * 4 + 3), hours);
    EXPECT_EQ(SamplesToMs64(&cd, 44099), 999); // 999.98 truncates
    EXPECT_EQ(MsToSamples64(&cd, 1), 44);      // 44.1 truncates
    const auto odd = pcm(8, 1, 11025);
    EXPECT_EQ(MsToSamples64(&odd, 999), 11013); // 11013.975
    WAVEFORMATEX packed{2, 1, 3, 1000, 4, 4, 0}; // compressed: bytes are not a whole number of blocks
    EXPECT_EQ(SamplesToBytes64(&packed, 1), 336); // 333 raised to whole blocks
}

TEST(WaveFormat, RealBufferSize) {
    WAVEFORMATEX six = pcm(16, 3, 8000);
    ASSERT_EQ(six.nBlockAlign, 6);
    EXPECT_EQ(RealBufferSize(&six, 2048), 2046);
    EXPECT_EQ(RealBufferSize(&six, 4), 6);
    EXPECT_EQ(RealBufferSize(nullptr, 2047), 2047);
    WAVEFORMATEX zeroAlign{};
    EXPECT_EQ(RealBufferSize(&zeroAlign, 1000), 1000);
}

TEST(DeviceIds, StoredNames) {
    EXPECT_EQ(DeviceIdToString(MapperId), "MapperId");
    EXPECT_EQ(DeviceIdToString(InvalidId), "InvalidId");
    EXPECT_EQ(DeviceIdToString(3), "3");
    EXPECT_EQ(DeviceIdFromString("MapperId"), -1);
    EXPECT_EQ(DeviceIdFromString("InvalidId"), -2);
    EXPECT_EQ(DeviceIdFromString("12"), 12);
    EXPECT_EQ(DeviceIdFromString("12x"), InvalidId);
    EXPECT_EQ(ThreadPriorityValue(tpIdle), -15);
    EXPECT_EQ(ThreadPriorityValue(tpHighest), 2);
    EXPECT_EQ(ThreadPriorityValue(tpTimeCritical), 15);
}

} // namespace
