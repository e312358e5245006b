// The codec service: its calls, flags and texts, and the quality of what its drivers produce.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "files/codecs/CodecService.h"
#include "files/codecs/G711.h"
#include "files/codecs/ImaAdpcm.h"
#include "files/codecs/MsAdpcm.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) {
    return PcmBuildFormat(bits, channels, rate);
}

// A format record with room for extra bytes.
struct Format {
    alignas(WAVEFORMATEX) uint8_t bytes[18 + 64] = {};
    WAVEFORMATEX* operator->() { return reinterpret_cast<WAVEFORMATEX*>(bytes); }
    WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes); }
    uint8_t* extra() { return bytes + 18; }
};

Format ima(int channels, uint32_t rate, int blockAlign) {
    Format f;
    f->wFormatTag = 0x11;
    f->nChannels = static_cast<uint16_t>(channels);
    f->nSamplesPerSec = rate;
    f->nBlockAlign = static_cast<uint16_t>(blockAlign);
    f->wBitsPerSample = 4;
    f->cbSize = 2;
    const uint16_t perBlock = static_cast<uint16_t>((blockAlign - 4 * channels) * 2 / channels + 1);
    std::memcpy(f.extra(), &perBlock, 2);
    f->nAvgBytesPerSec = rate * blockAlign / perBlock;
    return f;
}

Format msAdpcm(int channels, uint32_t rate, int blockAlign) {
    Format f;
    f->wFormatTag = 2;
    f->nChannels = static_cast<uint16_t>(channels);
    f->nSamplesPerSec = rate;
    f->nBlockAlign = static_cast<uint16_t>(blockAlign);
    f->wBitsPerSample = 4;
    f->cbSize = 32;
    const uint16_t perBlock = static_cast<uint16_t>((blockAlign - 7 * channels) * 2 / channels + 2);
    const uint16_t count = 7;
    std::memcpy(f.extra(), &perBlock, 2);
    std::memcpy(f.extra() + 2, &count, 2);
    std::memcpy(f.extra() + 4, MsAdpcmStandardCoefficients, sizeof MsAdpcmStandardCoefficients);
    f->nAvgBytesPerSec = rate * blockAlign / perBlock;
    return f;
}

WAVEFORMATEX companded(uint16_t tag, int channels, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = static_cast<uint16_t>(channels);
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<uint16_t>(channels);
    f.nAvgBytesPerSec = rate * channels;
    f.wBitsPerSample = 8;
    return f;
}

Format gsm(uint32_t rate) {
    Format f;
    f->wFormatTag = 0x31;
    f->nChannels = 1;
    f->nSamplesPerSec = rate;
    f->nBlockAlign = 65;
    f->nAvgBytesPerSec = rate * 65 / 320;
    f->cbSize = 2;
    const uint16_t perBlock = 320;
    std::memcpy(f.extra(), &perBlock, 2);
    return f;
}

bool canOpen(const WAVEFORMATEX* from, const WAVEFORMATEX* to) {
    return acmStreamOpen(nullptr, from, to, ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
}

// Opens a stream with one prepared header over owned buffers.
struct Stream {
    Stream(const WAVEFORMATEX* from, const WAVEFORMATEX* to, uint32_t sourceBytes, uint32_t flags = 0) {
        EXPECT_EQ(acmStreamOpen(&handle, from, to, flags), MMSYSERR_NOERROR);
        uint32_t destinationBytes = 0;
        EXPECT_EQ(acmStreamSize(handle, sourceBytes, &destinationBytes, ACM_STREAMSIZEF_SOURCE),
                  MMSYSERR_NOERROR);
        source.assign(sourceBytes, 0);
        destination.assign(destinationBytes, 0);
        header.cbStruct = sizeof header;
        header.pbSrc = source.data();
        header.cbSrcLength = sourceBytes;
        header.pbDst = destination.data();
        header.cbDstLength = destinationBytes;
        EXPECT_EQ(acmStreamPrepareHeader(handle, &header, 0), MMSYSERR_NOERROR);
    }
    ~Stream() {
        acmStreamUnprepareHeader(handle, &header, 0);
        acmStreamClose(handle, 0);
    }
    // Converts `bytes` of `source` and returns the produced bytes.
    std::vector<uint8_t> convert(uint32_t bytes, uint32_t flags) {
        header.cbSrcLength = bytes;
        header.cbDstLength = static_cast<uint32_t>(destination.size());
        EXPECT_EQ(acmStreamConvert(handle, &header, flags), MMSYSERR_NOERROR);
        EXPECT_TRUE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
        return {destination.begin(), destination.begin() + header.cbDstLengthUsed};
    }
    HACMSTREAM handle = nullptr;
    ACMSTREAMHEADER header{};
    std::vector<uint8_t> source, destination;
};

std::vector<int16_t> as16(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

std::vector<uint8_t> sineBytes(int frames, int channels, double frequency, uint32_t rate, double amplitude) {
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * channels * 2);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const auto v = static_cast<int16_t>(
                std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate)));
            std::memcpy(&bytes[(static_cast<size_t>(i) * channels + c) * 2], &v, 2);
        }
    return bytes;
}

// Amplitude of one frequency in a block of one channel (Goertzel).
double toneAmplitude(const std::vector<int16_t>& s, int channels, int channel, size_t first, size_t count,
                     double frequency, uint32_t rate) {
    const double w = 2 * std::numbers::pi * frequency / rate;
    double re = 0, im = 0;
    for (size_t i = 0; i < count; ++i) {
        const double v = s[(first + i) * channels + channel];
        re += v * std::cos(w * i);
        im -= v * std::sin(w * i);
    }
    return 2 * std::hypot(re, im) / count;
}

TEST(CodecService, IsPresentInVersionTwoAndCanBeTakenAway) {
    EXPECT_TRUE(CodecServiceReady());
    EXPECT_GE(acmGetVersion() >> 16, 0x0200u);
    const WAVEFORMATEX a = pcm(16, 2, 44100), b = pcm(8, 2, 44100);
    {
        ScopedCodecServiceVersion absent(0);
        EXPECT_FALSE(CodecServiceReady());
        EXPECT_NE(acmStreamOpen(nullptr, &a, &b, ACM_STREAMOPENF_QUERY), MMSYSERR_NOERROR);
    }
    {
        ScopedCodecServiceVersion old(0x01030000);
        EXPECT_FALSE(CodecServiceReady());
    }
    EXPECT_TRUE(CodecServiceReady());
}

TEST(CodecService, QueriesWhichStreamsExist) {
    Format ima22 = ima(2, 22050, 1024), ms22 = msAdpcm(1, 22050, 512), gsm8 = gsm(8000);
    const WAVEFORMATEX pcm16s44 = pcm(16, 2, 44100), pcm8s44 = pcm(8, 2, 44100), pcm16m22 = pcm(16, 1, 22050),
                       pcm8m22 = pcm(8, 1, 22050), pcm16s22 = pcm(16, 2, 22050), pcm16m8 = pcm(16, 1, 8000),
                       pcm24s44 = pcm(24, 2, 44100), alaw = companded(6, 1, 8000),
                       mulaw = companded(7, 2, 44100);
    WAVEFORMATEX pcm16q4 = pcm(16, 4, 44100);
    struct Case {
        const char* what;
        const WAVEFORMATEX* from;
        const WAVEFORMATEX* to;
        bool possible;
    } cases[] = {
        {"width only", &pcm16s44, &pcm8s44, true},
        {"24 to 16 bits", &pcm24s44, &pcm16s44, true},
        {"rate and channels", &pcm16s44, &pcm16m22, true},
        {"width with rate is two steps", &pcm16s44, &pcm8m22, false},
        {"four channels to two is not mapped", &pcm16q4, &pcm16s44, false},
        {"IMA decodes to its own shape", ima22.get(), &pcm16s22, true},
        {"IMA does not resample", ima22.get(), &pcm16s44, false},
        {"MS ADPCM decodes", ms22.get(), &pcm16m22, true},
        {"MS ADPCM only to 16 bits", ms22.get(), &pcm8m22, false},
        {"GSM decodes", gsm8.get(), &pcm16m8, true},
        {"A-law decodes", &alaw, &pcm16m8, true},
        {"A-law encodes", &pcm16m8, &alaw, true},
        {"mu-law decodes", &mulaw, &pcm16s44, true},
        {"no encoder for IMA", &pcm16s22, ima22.get(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(canOpen(c.from, c.to), c.possible) << c.what;
}

TEST(CodecService, RefusesMalformedCompressedFormats) {
    Format noRoom = msAdpcm(1, 22050, 512);
    noRoom->cbSize = 20; // too short for its seven coefficient pairs
    Format tooMany = ima(1, 22050, 512);
    const uint16_t perBlock = 2000;
    std::memcpy(tooMany.extra(), &perBlock, 2);
    Format oneSample = ima(1, 22050, 512);
    const uint16_t one = 1;
    std::memcpy(oneSample.extra(), &one, 2);
    Format misaligned = ima(2, 22050, 1020);
    const WAVEFORMATEX out = pcm(16, 1, 22050), out2 = pcm(16, 2, 22050);
    EXPECT_FALSE(canOpen(noRoom.get(), &out));
    EXPECT_FALSE(canOpen(tooMany.get(), &out));
    EXPECT_FALSE(canOpen(oneSample.get(), &out));
    EXPECT_FALSE(canOpen(misaligned.get(), &out2));
}

TEST(CodecService, SuggestsWhatTheFlagsLeaveOpen) {
    Format ima22 = ima(2, 22050, 1024);
    const WAVEFORMATEX pcm16s44 = pcm(16, 2, 44100), pcm8m8 = pcm(8, 1, 8000);
    struct Case {
        const char* what;
        const WAVEFORMATEX* source;
        WAVEFORMATEX preset;
        uint32_t flags;
        bool found;
        WAVEFORMATEX expected;
    } cases[] = {
        {"PCM tag for IMA", ima22.get(), pcm(0, 0, 0), ACM_FORMATSUGGESTF_WFORMATTAG, true,
         pcm(16, 2, 22050)},
        {"IMA cannot fix another rate",
         ima22.get(),
         pcm(16, 2, 44100),
         ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC,
         false,
         {}},
        {"PCM keeps its width when the shape is fixed", &pcm16s44, pcm(0, 1, 22050),
         ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC, true, pcm(16, 1, 22050)},
        {"PCM width and shape together are refused",
         &pcm16s44,
         pcm(8, 1, 22050),
         ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE,
         false,
         {}},
        {"PCM width alone", &pcm8m8, pcm(16, 0, 0), ACM_FORMATSUGGESTF_WBITSPERSAMPLE, true,
         pcm(16, 1, 8000)},
    };
    for (const auto& c : cases) {
        Format d;
        std::memcpy(d.bytes, &c.preset, sizeof c.preset);
        const MMRESULT r = acmFormatSuggest(c.source, d.get(), sizeof d.bytes, c.flags);
        EXPECT_EQ(r == MMSYSERR_NOERROR, c.found) << c.what;
        if (c.found && r == MMSYSERR_NOERROR) {
            EXPECT_EQ(std::memcmp(d.get(), &c.expected, 18), 0) << c.what;
        }
    }
    const WAVEFORMATEX alaw = companded(6, 1, 8000);
    WAVEFORMATEX d = pcm(0, 0, 0);
    d.wFormatTag = 6;
    const WAVEFORMATEX source = pcm(16, 1, 8000);
    ASSERT_EQ(acmFormatSuggest(&source, &d, sizeof d, ACM_FORMATSUGGESTF_WFORMATTAG), MMSYSERR_NOERROR);
    EXPECT_EQ(std::memcmp(&d, &alaw, 18), 0);
    EXPECT_EQ(acmFormatSuggest(&source, &d, sizeof d, 0x100), MMSYSERR_INVALFLAG);
}

TEST(CodecService, RefusesMisusedHandlesAndHeaders) {
    const WAVEFORMATEX a = pcm(16, 2, 44100), b = pcm(8, 2, 44100);
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(acmStreamOpen(&stream, &a, &b, 0), MMSYSERR_NOERROR);
    uint8_t src[64] = {}, dst[64] = {};
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src;
    h.cbSrcLength = sizeof src;
    h.pbDst = dst;
    h.cbDstLength = sizeof dst;
    EXPECT_EQ(acmStreamConvert(stream, &h, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(stream, &h, 0), MMSYSERR_NOERROR);
    h.cbSrcLength = sizeof src + 1; // more than was prepared
    EXPECT_EQ(acmStreamConvert(stream, &h, 0), MMSYSERR_INVALPARAM);
    h.cbSrcLength = sizeof src;
    EXPECT_EQ(acmStreamConvert(stream, &h, 0x1000), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 64u);
    EXPECT_EQ(h.cbDstLengthUsed, 32u);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &h, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_INVALHANDLE);
    uint32_t size = 0;
    EXPECT_EQ(acmStreamSize(stream, 10, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamOpen(&stream, &a, &b, 0x100), MMSYSERR_INVALFLAG);
}

TEST(CodecService, NamesTagsAndFormats) {
    struct Case {
        uint16_t tag;
        const char* name;
    } tags[] = {{1, "PCM"},          {2, "Microsoft ADPCM"}, {6, "CCITT A-Law"},
                {7, "CCITT mu-Law"}, {0x11, "IMA ADPCM"},    {0x31, "GSM 6.10"}};
    for (const auto& c : tags) {
        ACMFORMATTAGDETAILSA d{};
        d.cbStruct = sizeof d;
        d.dwFormatTag = c.tag;
        ASSERT_EQ(acmFormatTagDetailsA(&d, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR) << c.tag;
        EXPECT_STREQ(d.szFormatTag, c.name);
    }
    ACMFORMATTAGDETAILSA unknown{};
    unknown.cbStruct = sizeof unknown;
    unknown.dwFormatTag = 0x55;
    EXPECT_EQ(acmFormatTagDetailsA(&unknown, ACM_FORMATTAGDETAILSF_FORMATTAG), ACMERR_NOTPOSSIBLE);

    Format ima22 = ima(1, 22050, 512);
    WAVEFORMATEX stereo = pcm(16, 2, 44100);
    struct Text {
        WAVEFORMATEX* format;
        uint32_t bytes;
        const char* text;
    } texts[] = {{&stereo, 18, "44.100 kHz, 16 Bit, Stereo"},
                 {ima22.get(), 20, "22.050 kHz, 4 Bit, Mono, 89 kBit/s"}};
    for (const auto& t : texts) {
        ACMFORMATDETAILSA d{};
        d.cbStruct = sizeof d;
        d.pwfx = t.format;
        d.cbwfx = t.bytes;
        ASSERT_EQ(acmFormatDetailsA(&d, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
        EXPECT_STREQ(d.szFormat, t.text);
    }
    ACMFORMATDETAILSA cut{};
    cut.cbStruct = sizeof cut;
    cut.pwfx = ima22.get();
    cut.cbwfx = 18; // without the extra bytes its cbSize announces
    EXPECT_EQ(acmFormatDetailsA(&cut, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_INVALPARAM);
}

TEST(CodecService, ChangesWidthExactly) {
    const WAVEFORMATEX s16 = pcm(16, 1, 8000), s8 = pcm(8, 1, 8000), s24 = pcm(24, 1, 8000),
                       s32 = pcm(32, 1, 8000);
    const int16_t in[] = {-32768, -257, -256, -255, -1, 0, 1, 255, 256, 32767};
    Stream narrow(&s16, &s8, sizeof in);
    std::memcpy(narrow.source.data(), in, sizeof in);
    const auto bytes8 = narrow.convert(sizeof in, ACM_STREAMCONVERTF_BLOCKALIGN);
    const uint8_t expected8[] = {0, 127, 127, 128, 128, 128, 128, 128, 129, 255}; // truncated toward zero
    ASSERT_EQ(bytes8.size(), sizeof expected8);
    EXPECT_EQ(std::memcmp(bytes8.data(), expected8, sizeof expected8), 0);

    // 16 -> 24 -> 32 -> 16 gives every sample back.
    Stream widen(&s16, &s24, sizeof in);
    std::memcpy(widen.source.data(), in, sizeof in);
    auto bytes24 = widen.convert(sizeof in, 0);
    Stream wider(&s24, &s32, static_cast<uint32_t>(bytes24.size()));
    std::memcpy(wider.source.data(), bytes24.data(), bytes24.size());
    auto bytes32 = wider.convert(static_cast<uint32_t>(bytes24.size()), 0);
    Stream back(&s32, &s16, static_cast<uint32_t>(bytes32.size()));
    std::memcpy(back.source.data(), bytes32.data(), bytes32.size());
    EXPECT_EQ(as16(back.convert(static_cast<uint32_t>(bytes32.size()), 0)),
              std::vector<int16_t>(std::begin(in), std::end(in)));
}

TEST(CodecService, MapsChannelsExactlyAtOneRate) {
    const WAVEFORMATEX mono = pcm(16, 1, 22050), stereo = pcm(16, 2, 22050);
    const int16_t frames[] = {100, -300, 32767, 32767, -32768, -32767, 5, 6};
    Stream down(&stereo, &mono, sizeof frames);
    std::memcpy(down.source.data(), frames, sizeof frames);
    EXPECT_EQ(as16(down.convert(sizeof frames, 0)), (std::vector<int16_t>{-100, 32767, -32767, 5}));
    Stream up(&mono, &stereo, 4);
    std::memcpy(up.source.data(), frames, 4);
    EXPECT_EQ(as16(up.convert(4, 0)), (std::vector<int16_t>{100, 100, -300, -300}));
}

TEST(CodecService, ResamplesWithoutDriftOrAliasing) {
    struct Case {
        uint32_t from, to;
        double tone;  // kept: its amplitude must survive
        double alias; // above the new band: must be filtered out (0 for none)
        bool high;
    } cases[] = {{44100, 22050, 1000, 15000, false},
                 {44100, 22050, 3000, 15000, true},
                 {8000, 44100, 1000, 0, false},
                 {22050, 48000, 5000, 0, true},
                 {48000, 8000, 440, 6000, false}};
    for (const auto& c : cases) {
        const int frames = static_cast<int>(c.from); // one second
        const WAVEFORMATEX a = pcm(16, 2, c.from), b = pcm(16, 2, c.to);
        auto input = sineBytes(frames, 2, c.tone, c.from, 10000);
        if (c.alias > 0) {
            auto high = sineBytes(frames, 2, c.alias, c.from, 10000);
            for (size_t i = 0; i < input.size(); i += 2) {
                int16_t x, y;
                std::memcpy(&x, &input[i], 2);
                std::memcpy(&y, &high[i], 2);
                const int16_t sum = static_cast<int16_t>(x + y);
                std::memcpy(&input[i], &sum, 2);
            }
        }
        // Fed in uneven pieces to exercise the carried window.
        Stream s(&a, &b, 4 * 1237, c.high ? ACM_STREAMOPENF_NONREALTIME : 0);
        std::vector<uint8_t> output;
        for (size_t at = 0; at < input.size();) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(4 * 1237, input.size() - at));
            std::memcpy(s.source.data(), &input[at], n);
            auto out = s.convert(n, ACM_STREAMCONVERTF_BLOCKALIGN);
            EXPECT_EQ(s.header.cbSrcLengthUsed, n);
            output.insert(output.end(), out.begin(), out.end());
            at += n;
        }
        auto tail = s.convert(0, ACM_STREAMCONVERTF_END);
        output.insert(output.end(), tail.begin(), tail.end());
        const auto samples = as16(output);
        const size_t outFrames = samples.size() / 2;
        EXPECT_EQ(outFrames, (static_cast<uint64_t>(frames) * c.to + c.from - 1) / c.from)
            << c.from << "->" << c.to;
        // Measured away from the edges, over a whole number of tone periods.
        const size_t first = outFrames / 4, count = outFrames / 2;
        EXPECT_NEAR(toneAmplitude(samples, 2, 0, first, count, c.tone, c.to), 10000, 150)
            << c.from << "->" << c.to;
        EXPECT_NEAR(toneAmplitude(samples, 2, 1, first, count, c.tone, c.to), 10000, 150);
        if (c.alias > 0) {
            const double folded = std::abs(static_cast<double>(c.to) - c.alias);
            EXPECT_LT(toneAmplitude(samples, 2, 0, first, count, folded, c.to), 100)
                << c.from << "->" << c.to;
        }
    }
}

TEST(CodecService, StartForgetsTheResamplersHistory) {
    const WAVEFORMATEX a = pcm(16, 1, 44100), b = pcm(16, 1, 32000);
    const auto input = sineBytes(3000, 1, 700, 44100, 8000);
    Stream s(&a, &b, static_cast<uint32_t>(input.size()));
    std::memcpy(s.source.data(), input.data(), input.size());
    const auto first = s.convert(static_cast<uint32_t>(input.size()), ACM_STREAMCONVERTF_END);
    const auto again =
        s.convert(static_cast<uint32_t>(input.size()), ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
    EXPECT_EQ(first, again);
    EXPECT_EQ(first.size() / 2, (3000u * 32000 + 44099) / 44100);
}

TEST(CodecService, CompandingRoundTripsEveryCode) {
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(LinearToALaw(ALawToLinear(static_cast<uint8_t>(code))), code) << code;
        // mu-law has two codes for zero (0x7F and 0xFF); both decode to 0, which encodes as 0xFF.
        if (code != 0x7F) {
            EXPECT_EQ(LinearToMuLaw(MuLawToLinear(static_cast<uint8_t>(code))), code) << code;
        }
    }
    EXPECT_EQ(ALawToLinear(0xD5), 8);
    EXPECT_EQ(MuLawToLinear(0x00), -32124);
    EXPECT_EQ(MuLawToLinear(0xFF), 0);
}

TEST(CodecService, DecodesImaBlocksAndTheirTrailingPart) {
    Format f = ima(1, 8000, 36); // 4-byte header, 32 bytes of codes: 65 samples a block
    ImaAdpcmLayout layout;
    ASSERT_TRUE(ParseImaAdpcmFormat(*f.get(), layout));
    EXPECT_EQ(layout.samplesPerBlock, 65);
    std::vector<uint8_t> block(36, 0x77); // the largest positive step again and again
    block[0] = 0x10;
    block[1] = 0x00; // first sample 16
    block[2] = 0;    // step index 0
    const WAVEFORMATEX out = pcm(16, 1, 8000);
    Stream s(f.get(), &out, 36 + 20);
    std::memcpy(s.source.data(), block.data(), 36);
    std::memcpy(s.source.data() + 36, block.data(), 20);
    const auto whole = as16(s.convert(56, ACM_STREAMCONVERTF_BLOCKALIGN));
    EXPECT_EQ(s.header.cbSrcLengthUsed, 36u);
    ASSERT_EQ(whole.size(), 65u);
    EXPECT_EQ(whole[0], 16);
    EXPECT_EQ(whole[1], 16 + 7 + 3 + 1 + 0); // step 7: 7>>3 + 7 + 7>>1 + 7>>2
    EXPECT_EQ(whole[64], 32767);             // saturated
    // At the end, the part block's whole groups: its header sample and 4 groups of 8.
    std::memmove(s.source.data(), s.source.data() + 36, 20);
    EXPECT_EQ(as16(s.convert(22, ACM_STREAMCONVERTF_END)).size(), 33u);
}

TEST(CodecService, SilencesAMicrosoftAdpcmBlockWithABadPredictor) {
    Format f = msAdpcm(1, 8000, 64);
    const WAVEFORMATEX out = pcm(16, 1, 8000);
    Stream s(f.get(), &out, 128);
    std::fill(s.source.begin(), s.source.end(), 0x11);
    s.source[0] = 0;  // good block
    s.source[64] = 9; // predictor index beyond the seven pairs
    const auto pcm16 = as16(s.convert(128, ACM_STREAMCONVERTF_BLOCKALIGN));
    ASSERT_EQ(pcm16.size(), 2u * 116);
    EXPECT_NE(pcm16[0], 0);
    EXPECT_TRUE(std::all_of(pcm16.begin() + 116, pcm16.end(), [](int16_t v) { return v == 0; }));
}

} // namespace
