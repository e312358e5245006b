#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stream/PcmRoutines.h"

namespace {

std::vector<uint8_t> bytesOf(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> out(samples.size() * 2);
    std::memcpy(out.data(), samples.data(), out.size());
    return out;
}
std::vector<int16_t> samplesOf(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
}

TEST(PcmScaleVolume, SixteenBitTable) {
    const auto stereo = PcmBuildFormat(16, 2, 44100);
    const auto mono = PcmBuildFormat(16, 1, 44100);
    struct Case {
        const char* name;
        const WAVEFORMATEX* format;
        std::vector<int16_t> in;
        int32_t left, right;
        std::vector<int16_t> out;
        bool clipped;
    } cases[] = {
        {"unity untouched", &stereo, {1000, -1000, 32767, -32768}, 16384, 16384, {1000, -1000, 32767, -32768}, false},
        {"half", &stereo, {1000, -1000, 3, -3}, 8192, 8192, {500, -500, 1, -2}, false},
        {"left and right apart", &stereo, {1000, 1000}, 16384, 0, {1000, 0}, false},
        {"double clips", &stereo, {20000, -20000, 100, 100}, 32768, 32768, {32767, -32768, 200, 200}, true},
        {"mono uses left", &mono, {1000, 2000}, 8192, 0, {500, 1000}, false},
        {"large gain stays exact", &stereo, {2, -2}, 1 << 20, 1 << 20, {128, -128}, false},
        {"large gain clips", &stereo, {30000, -30000}, 1 << 20, 1 << 20, {32767, -32768}, true},
    };
    for (const auto& c : cases) {
        auto data = bytesOf(c.in);
        const bool clipped = PcmScaleVolume(c.format, data.data(), static_cast<int32_t>(data.size()), c.left, c.right);
        EXPECT_EQ(samplesOf(data), c.out) << c.name;
        EXPECT_EQ(clipped, c.clipped) << c.name;
    }
}

TEST(PcmScaleVolume, EightBit) {
    const auto f = PcmBuildFormat(8, 2, 8000);
    std::vector<uint8_t> data = {255, 0, 128, 200};
    EXPECT_TRUE(PcmScaleVolume(&f, data.data(), 4, 32768, 32768));
    EXPECT_EQ(data, (std::vector<uint8_t>{255, 0, 128, 255}));
    std::vector<uint8_t> half = {228, 28};
    EXPECT_FALSE(PcmScaleVolume(&f, half.data(), 2, 8192, 8192));
    EXPECT_EQ(half, (std::vector<uint8_t>{178, 78}));
}

TEST(PcmScaleVolume, RefusesNonPcm) {
    auto f = PcmBuildFormat(16, 2, 44100);
    f.wFormatTag = 2;
    std::vector<uint8_t> data(8, 0x40);
    EXPECT_FALSE(PcmScaleVolume(&f, data.data(), 8, 32768, 32768));
    EXPECT_FALSE(PcmScaleVolume(nullptr, data.data(), 8, 32768, 32768));
    EXPECT_EQ(data, std::vector<uint8_t>(8, 0x40));
    const auto quad = PcmBuildFormat(16, 4, 44100);
    EXPECT_FALSE(PcmScaleVolume(&quad, data.data(), 8, 32768, 32768));
    EXPECT_EQ(data, std::vector<uint8_t>(8, 0x40));
}

TEST(PcmMixStereo16, Table) {
    struct Case {
        const char* name;
        std::vector<std::vector<int16_t>> sources;
        int32_t left, right;
        std::vector<int16_t> out;
        bool clipped;
    } cases[] = {
        {"no source zeroes", {}, 16384, 16384, {0, 0, 0, 0}, false},
        {"sum at unity", {{1, 2, 3, 4}, {10, 20, 30, 40}}, 16384, 16384, {11, 22, 33, 44}, false},
        {"sum clips", {{30000, -30000, 0, 0}, {30000, -30000, 0, 0}}, 16384, 16384, {32767, -32768, 0, 0}, true},
        {"gains per channel", {{100, 100, 100, 100}, {100, 100, 100, 100}}, 8192, 0, {100, 0, 100, 0}, false},
        {"four sources", {{32767, 1, 0, 0}, {32767, 1, 0, 0}, {32767, 1, 0, 0}, {32767, 1, 0, 0}}, 8192, 16384,
         {32767, 4, 0, 0}, true},
        {"big sum with big gain no overflow", {{32767, 0, 0, 0}, {32767, 0, 0, 0}}, 32768, 32768, {32767, 0, 0, 0}, true},
    };
    for (const auto& c : cases) {
        std::vector<const int16_t*> ptrs;
        for (const auto& s : c.sources) ptrs.push_back(s.data());
        std::vector<int16_t> out(4, 99);
        std::vector<int32_t> acc(4);
        const bool clipped =
            PcmMixStereo16(8, ptrs.empty() ? nullptr : ptrs.data(), static_cast<int>(ptrs.size()), c.left, c.right,
                           acc.data(), out.data());
        EXPECT_EQ(out, c.out) << c.name;
        EXPECT_EQ(clipped, c.clipped) << c.name;
    }
}

TEST(PcmConvertBits, Table) {
    std::vector<int16_t> wide = {-32768, -255, 0, 32767, 256, -256};
    auto src = bytesOf(wide);
    std::vector<uint8_t> narrow(6);
    EXPECT_EQ(PcmConvertBits(16, narrow.data(), 8, 12, src.data()), 6);
    EXPECT_EQ(narrow, (std::vector<uint8_t>{0, 128, 128, 255, 129, 127}));

    std::vector<uint8_t> eight = {0, 128, 255, 1};
    std::vector<uint8_t> out(8);
    EXPECT_EQ(PcmConvertBits(8, out.data(), 16, 4, eight.data()), 8);
    EXPECT_EQ(samplesOf(out), (std::vector<int16_t>{-32768, 0, 32512, -32512}));

    std::vector<uint8_t> copy(4);
    EXPECT_EQ(PcmConvertBits(8, copy.data(), 8, 4, eight.data()), 4);
    EXPECT_EQ(copy, eight);
}

TEST(PcmFindPeak, Table) {
    const auto s16 = PcmBuildFormat(16, 2, 44100);
    const auto m16 = PcmBuildFormat(16, 1, 44100);
    const auto s8 = PcmBuildFormat(8, 2, 8000);
    struct Case {
        const char* name;
        const WAVEFORMATEX* format;
        std::vector<uint8_t> data;
        int32_t left, right;
    } cases[] = {
        {"stereo 16", &s16, bytesOf({100, -5, -300, 7, 200, -7}), -300, 7},
        {"first wins on tie", &s16, bytesOf({300, 0, -300, 0}), 300, 0},
        {"minus full scale", &s16, bytesOf({-32768, 32767}), -32768, 32767},
        {"mono reports twice", &m16, bytesOf({1, -9, 4}), -9, -9},
        {"8-bit silence", &s8, {128, 128, 128, 128}, 128, 128},
        {"8-bit values as stored", &s8, {130, 0, 100, 129}, 100, 0},
        {"empty", &s16, {}, 0, 0},
    };
    for (const auto& c : cases) {
        int32_t l = -1, r = -1;
        PcmFindPeak(c.format, c.data.data(), static_cast<int32_t>(c.data.size()), l, r);
        EXPECT_EQ(l, c.left) << c.name;
        EXPECT_EQ(r, c.right) << c.name;
    }
}

TEST(PcmFindMinMax, OrderOfOccurrence) {
    const auto s16 = PcmBuildFormat(16, 2, 44100);
    const auto m8 = PcmBuildFormat(8, 1, 8000);
    PcmMinMaxPair l, r;
    auto data = bytesOf({5, 9, -3, 1, 7, -2});
    PcmFindMinMax(&s16, data.data(), static_cast<int32_t>(data.size()), l, r);
    EXPECT_EQ(l.first, -3); // min (frame 1) before max (frame 2)
    EXPECT_EQ(l.second, 7);
    EXPECT_EQ(r.first, 9); // max (frame 0) before min (frame 2)
    EXPECT_EQ(r.second, -2);

    std::vector<uint8_t> eight = {128, 200, 10};
    PcmFindMinMax(&m8, eight.data(), 3, l, r);
    EXPECT_EQ(l.first, 200);
    EXPECT_EQ(l.second, 10);
    EXPECT_EQ(r.first, 200);

    PcmFindMinMax(&s16, nullptr, 0, l, r);
    EXPECT_EQ(l.first, 0);
    EXPECT_EQ(r.second, 0);
}

TEST(PcmResampleCopy, StepsThroughInput) {
    const auto m16 = PcmBuildFormat(16, 1, 8000);
    struct Case {
        const char* name;
        uint32_t step;
        int32_t outBytes;
        std::vector<int16_t> expected;
        int32_t inputLeft;
    } cases[] = {
        {"unity copies", 65536, 8, {0, 1, 2, 3}, 6},
        {"double skips", 131072, 6, {0, 2, 4}, 2},
        {"half repeats", 32768, 10, {0, 0, 1, 1, 2}, 10},
        {"stops at end of input", 65536 * 3, 16, {0, 3, 6}, 0},
    };
    std::vector<int16_t> src = {0, 1, 2, 3, 4, 5, 6};
    for (const auto& c : cases) {
        std::vector<int16_t> out(8, -1);
        uint32_t fraction = 0;
        int32_t outLeft = c.outBytes, inLeft = 14;
        const int32_t n = PcmResampleCopy(&m16, reinterpret_cast<const uint8_t*>(src.data()),
                                          reinterpret_cast<uint8_t*>(out.data()), c.step, fraction, outLeft, inLeft);
        out.resize(n / 2);
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_EQ(inLeft, c.inputLeft) << c.name;
        EXPECT_EQ(outLeft, c.outBytes - n) << c.name;
    }
}

TEST(PcmClip, SetsTheProcessWideFlag) {
    PcmClipped = false;
    EXPECT_EQ(PcmClip16(40000), 32767);
    EXPECT_TRUE(PcmClipped.exchange(false));
    EXPECT_EQ(PcmClip8(-129), -128);
    EXPECT_TRUE(PcmClipped.exchange(false));
    EXPECT_EQ(PcmScaleSample16(100, 8192), 50);
    EXPECT_EQ(PcmScaleSample8(255, 32768), 255);
    EXPECT_TRUE(PcmClipped.exchange(false));
    EXPECT_EQ(PcmClip16(-32768), -32768);
    EXPECT_FALSE(PcmClipped.load());
}

} // namespace
