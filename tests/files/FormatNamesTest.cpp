// Format-tag names and format descriptions, with and without the codec service.

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "files/codecs/CodecService.h"
#include "files/riff/FormatNames.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) {
    return PcmBuildFormat(bits, channels, rate);
}

WAVEFORMATEX tagged(uint16_t tag) {
    WAVEFORMATEX f = pcm(16, 2, 44100);
    f.wFormatTag = tag;
    return f;
}

TEST(FormatNames, NamesTagsFromTheTable) {
    struct Case {
        uint16_t tag;
        const char* name;
    } cases[] = {{0x0001, "PCM"},      {0x0002, "Microsoft ADPCM"}, {0x0011, "IMA ADPCM"},
                 {0x0031, "GSM 6.10"}, {0x0055, "MPEG Layer-3"},    {0x0209, "Dolby AC2"},
                 {0x0000, "Unknown"},  {0x4242, "Unknown"},         {0xFFFF, "*DEVELOPMENT ONLY TAG*"}};
    for (const auto& c : cases) {
        const WAVEFORMATEX f = tagged(c.tag);
        EXPECT_EQ(FormatTagName(&f), c.name) << c.tag;
    }
    EXPECT_EQ(FormatTagName(nullptr), "Unknown");
}

TEST(FormatNames, DescribesFormatsByTheirEffectiveBits) {
    WAVEFORMATEX mp3 = tagged(0x55);
    mp3.nAvgBytesPerSec = 16000; // 128 kbit/s
    WAVEFORMATEX ima = tagged(0x11);
    ima.nChannels = 1;
    ima.nSamplesPerSec = 22050;
    ima.nAvgBytesPerSec = 11100;
    WAVEFORMATEX noRate = pcm(16, 1, 0);
    struct Case {
        WAVEFORMATEX format;
        const char* text;
    } cases[] = {{pcm(16, 2, 44100), "44.100 kHz, 16 Bit, Stereo"},
                 {pcm(8, 1, 8000), "8.000 kHz, 8 Bit, Mono"},
                 {pcm(16, 4, 44100), "44.100 kHz, 16 Bit, 4 Channels"},
                 {pcm(16, 2, 11025), "11.025 kHz, 16 Bit, Stereo"},
                 {mp3, "44.100 kHz, 1 Bit, Stereo"},
                 {ima, "22.050 kHz, 4 Bit, Mono"},
                 {noRate, "0.000 kHz, 0 Bit, Mono"}};
    for (const auto& c : cases)
        EXPECT_EQ(FormatDescription(&c.format), c.text);
    EXPECT_EQ(FormatDescription(nullptr), "Unknown");
}

TEST(FormatNames, AsksTheCodecServiceFirst) {
    struct {
        alignas(WAVEFORMATEX) uint8_t bytes[20] = {};
    } raw;
    auto* ima = reinterpret_cast<WAVEFORMATEX*>(raw.bytes);
    *ima = tagged(0x11);
    ima->nChannels = 1;
    ima->nSamplesPerSec = 22050;
    ima->nBlockAlign = 512;
    ima->nAvgBytesPerSec = 11100;
    ima->wBitsPerSample = 4;
    ima->cbSize = 2;
    raw.bytes[18] = 0xF9;
    raw.bytes[19] = 0x03;
    WAVEFORMATEX mp3 = tagged(0x55);
    mp3.nAvgBytesPerSec = 16000;
    mp3.nBlockAlign = 1;
    std::string name, text;
    DescribeFormat(ima, name, text);
    EXPECT_EQ(name, "IMA ADPCM");
    EXPECT_EQ(text, "22.050 kHz, 4 Bit, Mono, 89 kBit/s");
    DescribeFormat(&mp3, name, text); // no driver knows it: the system's own texts
    EXPECT_EQ(name, "MPEG Layer-3");
    EXPECT_EQ(text, "44.100 kHz, 1 Bit, Stereo");
    ScopedCodecServiceVersion absent(0);
    DescribeFormat(ima, name, text);
    EXPECT_EQ(name, "IMA ADPCM");
    EXPECT_EQ(text, "22.050 kHz, 4 Bit, Mono");
    DescribeFormat(nullptr, name, text);
    EXPECT_EQ(name, "Unknown");
    EXPECT_EQ(text, "Unknown");
}

TEST(FormatNames, FollowsTheRegionalSeparators) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    bool found = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
        if (std::setlocale(LC_NUMERIC, name)) {
            found = true;
            break;
        }
    if (!found) GTEST_SKIP() << "no locale with a decimal comma is installed";
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    EXPECT_EQ(FormatDescription(&f), "44,100 kHz; 16 Bit; Stereo");
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(FormatDescription(&f), "44.100 kHz, 16 Bit, Stereo");
}

} // namespace
