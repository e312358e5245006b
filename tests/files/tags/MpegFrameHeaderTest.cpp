#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/mpeg/MpegFrameHeader.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(MpegFrameHeader, ParsesKnownHeaders) {
    struct Case {
        uint8_t h[4];
        int version, layer, bitrate, rate, bytes, channels;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, 1, 3, 128, 44100, 417, 2},  // MPEG-1 layer III 128k 44.1k
        {{0xFF, 0xFB, 0x92, 0xC4}, 1, 3, 128, 44100, 418, 1},  // padded, mono
        {{0xFF, 0xFD, 0x94, 0x04}, 1, 2, 160, 48000, 480, 2},  // layer II
        {{0xFF, 0xF3, 0x84, 0x44}, 2, 3, 64, 24000, 192, 2},   // MPEG-2 layer III (72 x)
        {{0xFF, 0xE3, 0x18, 0xC4}, 25, 3, 8, 8000, 72, 1},     // MPEG-2.5
    };
    for (const auto& c : cases) {
        MpegFrameInfo f;
        ASSERT_TRUE(ParseMpegFrameHeader(c.h, 4, f)) << c.bytes;
        EXPECT_EQ(f.Version, c.version);
        EXPECT_EQ(f.Layer, c.layer);
        EXPECT_EQ(f.Bitrate, c.bitrate);
        EXPECT_EQ(f.SampleRate, c.rate);
        EXPECT_EQ(f.FrameBytes, c.bytes);
        EXPECT_EQ(f.Channels(), c.channels);
    }
    const uint8_t bad[][4] = {{0xFF, 0xFB, 0xF0, 0x64}, {0xFF, 0xFB, 0x9C, 0x64}, {0xFF, 0xF9, 0x90, 0x64},
                              {0xFF, 0xFB, 0x00, 0x64}, {0x52, 0x49, 0x46, 0x46}};
    for (const auto& b : bad) {
        MpegFrameInfo f;
        EXPECT_FALSE(ParseMpegFrameHeader(b, 4, f));
    }
}

TEST(MpegFrameHeader, FindsRealFramesAndRefusesOtherData) {
    if (std::system("command -v lame >/dev/null && command -v sox >/dev/null") != 0) GTEST_SKIP() << "lame/sox missing";
    char tmpl[] = "/tmp/tonalis-mpeg-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    const auto wav = dir / "tone.wav", mp3 = dir / "tone.mp3";
    const std::string make = "sox -q -n -r 44100 -c 2 -b 16 '" + wav.string() + "' synth 1 sine 440 && lame --quiet -b 128 '" +
                             wav.string() + "' '" + mp3.string() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const auto mp3Bytes = readFile(mp3);
    MpegFrameInfo first;
    const int64_t at = FindMpegFrames(mp3Bytes.data(), mp3Bytes.size(), 3, &first);
    ASSERT_GE(at, 0);
    EXPECT_EQ(first.SampleRate, 44100);
    EXPECT_EQ(first.Layer, 3);

    const auto wavBytes = readFile(wav);
    EXPECT_EQ(FindMpegFrames(wavBytes.data(), wavBytes.size(), 3), -1);
    const std::string text(20000, 'x');
    EXPECT_EQ(FindMpegFrames(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 3), -1);
    // A lone sync-looking word is not a stream.
    std::vector<uint8_t> lone(5000, 0);
    lone[100] = 0xFF, lone[101] = 0xFB, lone[102] = 0x90, lone[103] = 0x64;
    EXPECT_EQ(FindMpegFrames(lone.data(), lone.size(), 3), -1);
    fs::remove_all(dir);
}

} // namespace
