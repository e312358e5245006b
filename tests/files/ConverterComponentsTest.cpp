// The converter components in a chain: a byte source upstream, pulls and pushes through them.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "files/codecs/ImaAdpcm.h"
#include "files/codecs/MsAdpcm.h"
#include "files/converters/MMACMConverter.h"
#include "files/converters/MMADPCMConverter.h"
#include "files/converters/MMPCMConverter.h"
#include "stream/MMErrors.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) {
    return PcmBuildFormat(bits, channels, rate);
}

// A chain head that serves its bytes in pieces of at most `piece`.
class ByteSource : public TMMDSPComponent {
public:
    ByteSource(const WAVEFORMATEX* format, std::vector<uint8_t> bytes, uint32_t piece = UINT32_MAX)
        : bytes_(std::move(bytes)), piece_(piece) {
        SetPWaveFormat(format);
    }
    int BufferLoad(PWaveHdr h, bool& more) override {
        const uint32_t n =
            static_cast<uint32_t>(std::min<size_t>({h->dwBufferLength, piece_, bytes_.size() - at_}));
        std::memcpy(h->lpData, bytes_.data() + at_, n);
        at_ += n;
        h->dwBytesRecorded = n;
        more = at_ < bytes_.size();
        ++pulls;
        return 0;
    }
    void rewind() { at_ = 0; }
    int pulls = 0;

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
    uint32_t piece_;
};

// A chain end that keeps what is pushed into it.
class Collector : public TMMDSPComponent {
public:
    void BufferReady(PWaveHdr h) override {
        pieces.push_back(h->dwBytesRecorded);
        bytes.insert(bytes.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    }
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> pieces;
};

void open(TMMDSPComponent& c) {
    c.Opened();
    c.Started();
}

// Pulls until the component reports the end; `lastPulls` receives how many pulls gave 0 bytes.
std::vector<uint8_t> pullAll(TMMDSPComponent& c, uint32_t size, int* emptyPulls = nullptr) {
    std::vector<uint8_t> out, buffer(size);
    int empty = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        TMMAudioBuffer h{};
        h.lpData = buffer.data();
        h.dwBufferLength = size;
        bool more = false;
        c.BufferLoad(&h, more);
        out.insert(out.end(), buffer.begin(), buffer.begin() + h.dwBytesRecorded);
        empty += h.dwBytesRecorded == 0;
        if (!more) break;
    }
    if (emptyPulls) *emptyPulls = empty;
    return out;
}

std::vector<uint8_t> convertDirectly(const WAVEFORMATEX* from, const WAVEFORMATEX* to,
                                     const std::vector<uint8_t>& in) {
    auto chain = CreateConversion(from, to, cqLow, 8192);
    std::vector<uint8_t> out;
    for (size_t at = 0; at < in.size();) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(chain->ChunkSize, in.size() - at));
        std::memcpy(ConversionInput(*chain), in.data() + at, n);
        at += n;
        const int32_t produced = ConvertChunk(*chain, n);
        out.insert(out.end(), ConversionOutput(*chain), ConversionOutput(*chain) + produced);
    }
    const int32_t produced = DrainConversion(*chain, 0);
    out.insert(out.end(), ConversionOutput(*chain), ConversionOutput(*chain) + produced);
    return out;
}

std::vector<uint8_t> ramp(size_t bytes) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i)
        v[i] = static_cast<uint8_t>((i * 37) ^ (i >> 5));
    return v;
}

struct Adpcm {
    alignas(WAVEFORMATEX) uint8_t bytes[18 + 32] = {};
    WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes); }
};

Adpcm msFormat(int channels, int blockAlign, bool standard = true) {
    Adpcm f;
    WAVEFORMATEX* w = f.get();
    w->wFormatTag = WAVE_FORMAT_ADPCM;
    w->nChannels = static_cast<uint16_t>(channels);
    w->nSamplesPerSec = 22050;
    w->nBlockAlign = static_cast<uint16_t>(blockAlign);
    w->wBitsPerSample = 4;
    w->cbSize = 32;
    const uint16_t perBlock = static_cast<uint16_t>((blockAlign - 7 * channels) * 2 / channels + 2),
                   count = 7;
    std::memcpy(f.bytes + 18, &perBlock, 2);
    std::memcpy(f.bytes + 20, &count, 2);
    std::memcpy(f.bytes + 22, MsAdpcmStandardCoefficients, sizeof MsAdpcmStandardCoefficients);
    if (!standard) f.bytes[22 + 4 * 5] ^= 1;
    w->nAvgBytesPerSec = 22050 * blockAlign / perBlock;
    return f;
}

// Blocks with good predictor indices and varied codes.
std::vector<uint8_t> msBlocks(int blocks, int blockAlign, int channels) {
    auto v = ramp(static_cast<size_t>(blocks) * blockAlign);
    for (int b = 0; b < blocks; ++b)
        for (int c = 0; c < channels; ++c)
            v[static_cast<size_t>(b) * blockAlign + c] %= 7;
    return v;
}

WAVEFORMATEX imaStyle(uint16_t tag, int channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = static_cast<uint16_t>(channels);
    f.nSamplesPerSec = 8000;
    f.nBlockAlign = 1;
    f.wBitsPerSample = 4;
    f.nAvgBytesPerSec = 8000 * channels / 2;
    return f;
}

// --- TMMACMConverter ---

TEST(ACMConverter, PassesBuffersUnchangedWhenTheFormatsMatch) {
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    ByteSource source(&f, ramp(10000));
    TMMACMConverter converter;
    converter.SetOutputFormat(&f);
    converter.SetInput(&source);
    EXPECT_FALSE(converter.NeedsConversion());
    open(converter);
    EXPECT_EQ(converter.Chain(), nullptr);
    EXPECT_EQ(pullAll(converter, 3000), ramp(10000));
}

TEST(ACMConverter, ConvertsPullsAsTheChainDoes) {
    const WAVEFORMATEX from = pcm(16, 2, 44100), to = pcm(8, 1, 22050);
    const auto input = ramp(44100 * 4 / 3);
    ByteSource source(&from, input, 3333);
    TMMACMConverter converter;
    converter.SetOutputFormat(&to);
    converter.SetInput(&source);
    ASSERT_TRUE(converter.CanConvert());
    EXPECT_TRUE(IsSameWaveFormat(converter.PWaveFormat(), &to));
    open(converter);
    ASSERT_NE(converter.Chain(), nullptr);
    EXPECT_EQ(converter.Chain()->ChunkSize, 8192u);
    EXPECT_EQ(converter.Chain()->Steps.size(), 2u);
    EXPECT_EQ(pullAll(converter, 1000), convertDirectly(&from, &to, input));
}

TEST(ACMConverter, HandsPushedOutputOnInBufferSizedPieces) {
    const WAVEFORMATEX from = pcm(8, 1, 11025), to = pcm(16, 2, 11025);
    TMMACMConverter converter;
    Collector sink;
    ByteSource head(&from, {});
    converter.SetOutputFormat(&to);
    converter.SetInput(&head);
    converter.SetOutput(&sink);
    converter.SetBufferSize(1000);
    open(converter);
    auto input = ramp(5000);
    TMMAudioBuffer h{};
    h.lpData = input.data();
    h.dwBufferLength = h.dwBytesRecorded = static_cast<uint32_t>(input.size());
    converter.BufferReady(&h);
    ASSERT_EQ(sink.bytes.size(), 20000u);
    for (uint32_t piece : sink.pieces)
        EXPECT_LE(piece, 1000u);
    for (size_t i = 0; i < input.size(); ++i) {
        int16_t left;
        std::memcpy(&left, &sink.bytes[4 * i], 2);
        EXPECT_EQ(left, input[i] * 256 - 32768) << i;
    }
}

TEST(ACMConverter, RefusesToOpenWithoutAWayToTheDestination) {
    WAVEFORMATEX mp3 = pcm(0, 2, 44100);
    mp3.wFormatTag = 0x55;
    mp3.nBlockAlign = 1;
    mp3.nAvgBytesPerSec = 16000;
    const WAVEFORMATEX to = pcm(16, 2, 44100);
    for (bool withService : {true, false}) {
        std::optional<ScopedCodecServiceVersion> absent;
        const WAVEFORMATEX from = withService ? mp3 : pcm(8, 2, 44100);
        if (!withService) absent.emplace(0);
        ByteSource source(&from, {});
        TMMACMConverter converter;
        converter.SetOutputFormat(&to);
        converter.SetInput(&source);
        EXPECT_TRUE(converter.NeedsConversion());
        EXPECT_FALSE(converter.CanConvert());
        EXPECT_TRUE(IsSameWaveFormat(converter.PWaveFormat(), &from));
        try {
            converter.Opened();
            ADD_FAILURE() << "opened";
        } catch (const EMMConverterError& e) {
            EXPECT_STREQ(e.what(), "Unable to convert to destination format");
        }
        EXPECT_FALSE(converter.IsOpened());
    }
}

TEST(ACMConverter, DisabledPassesTheInputOn) {
    const WAVEFORMATEX from = pcm(16, 2, 44100), to = pcm(8, 1, 22050);
    ByteSource source(&from, ramp(999));
    TMMACMConverter converter;
    converter.SetOutputFormat(&to);
    converter.SetInput(&source);
    converter.SetEnabled(false);
    EXPECT_TRUE(IsSameWaveFormat(converter.PWaveFormat(), &from));
    open(converter);
    EXPECT_EQ(pullAll(converter, 400), ramp(999));
}

TEST(ACMConverter, ResetStartsTheConversionAfresh) {
    const WAVEFORMATEX from = pcm(16, 1, 44100), to = pcm(16, 1, 32000);
    const auto input = ramp(20000);
    ByteSource source(&from, input);
    TMMACMConverter converter;
    converter.SetOutputFormat(&to);
    converter.SetInput(&source);
    open(converter);
    const auto first = pullAll(converter, 777);
    source.rewind();
    converter.Reset();
    EXPECT_EQ(pullAll(converter, 777), first);
}

// --- TMMPCMConverter ---

TEST(PCMConverter, ComputesItsDestination) {
    struct Ima {
        alignas(WAVEFORMATEX) uint8_t bytes[20] = {};
    } imaBytes;
    auto* imaFormat = reinterpret_cast<WAVEFORMATEX*>(imaBytes.bytes);
    imaFormat->wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    imaFormat->nChannels = 2;
    imaFormat->nSamplesPerSec = 22050;
    imaFormat->nBlockAlign = 1024;
    imaFormat->wBitsPerSample = 4;
    imaFormat->cbSize = 2;
    imaFormat->nAvgBytesPerSec = 22201;
    const uint16_t perBlock = 1017;
    std::memcpy(imaBytes.bytes + 18, &perBlock, 2);
    const WAVEFORMATEX p44 = pcm(16, 2, 44100);
    struct Case {
        const char* what;
        const WAVEFORMATEX* input;
        bool autoConvert;
        TMMRequiredParams required;
        WAVEFORMATEX expected;
    } cases[] = {
        {"auto: PCM stays", &p44, true, rpBits, pcm(16, 2, 44100)},
        {"auto: IMA decodes", imaFormat, true, rpBits, pcm(16, 2, 22050)},
        {"all required", &p44, false, rpBits | rpChannels | rpSampleRate, pcm(8, 1, 32000)},
        {"bits only", &p44, false, rpBits, pcm(8, 2, 44100)},
        {"rate only, from IMA", imaFormat, false, rpSampleRate, pcm(16, 2, 32000)},
        {"no input", nullptr, false, 0, pcm(8, 1, 32000)},
    };
    for (const auto& c : cases) {
        TMMPCMConverter converter;
        converter.SetAutoConvert(c.autoConvert);
        converter.SetRequired(c.required);
        converter.SetSampleRate(32000);
        converter.SetBitLength(b8Bit);
        converter.SetMode(mMono);
        converter.InputFormatChanged(c.input);
        ASSERT_TRUE(converter.DestinationFormat()) << c.what;
        EXPECT_TRUE(IsSameWaveFormat(converter.DestinationFormat(), &c.expected)) << c.what;
        if (c.input) {
            EXPECT_TRUE(IsSameWaveFormat(converter.PWaveFormat(), &c.expected)) << c.what;
        }
    }
}

TEST(PCMConverter, HoldsItsPropertiesInRange) {
    TMMPCMConverter converter;
    EXPECT_EQ(converter.SampleRate(), 11025);
    EXPECT_EQ(converter.BitLength(), b8Bit);
    EXPECT_EQ(converter.Mode(), mMono);
    converter.SetSampleRate(4000);
    EXPECT_EQ(converter.SampleRate(), 8000);
    converter.SetSampleRate(100000);
    EXPECT_EQ(converter.SampleRate(), 88200);
    converter.SetMode(mStereo);
    converter.SetMode(mMultiChannel);
    EXPECT_EQ(converter.Mode(), mStereo);
}

TEST(PCMConverter, AcceptsOnlyValidPcmAsOutputFormat) {
    TMMPCMConverter converter;
    WAVEFORMATEX bad = pcm(24, 2, 44100);
    EXPECT_THROW(
        {
            try {
                converter.SetOutputFormat(&bad);
            } catch (const EMMConverterError& e) {
                EXPECT_STREQ(e.what(), "Invalid WaveFormat");
                throw;
            }
        },
        EMMConverterError);
    bad = pcm(16, 2, 44100);
    bad.wFormatTag = 2;
    EXPECT_THROW(converter.SetOutputFormat(&bad), EMMConverterError);
    converter.SetOutputFormat(nullptr); // a null format is always accepted
    const WAVEFORMATEX good = pcm(16, 2, 22050);
    converter.SetOutputFormat(&good);
    EXPECT_EQ(converter.BitLength(), b16Bit);
    EXPECT_EQ(converter.Mode(), mStereo);
    EXPECT_EQ(converter.SampleRate(), 22050);
}

TEST(PCMConverter, RefusesACompressedInputItCannotDecode) {
    Adpcm f = msFormat(1, 256);
    ScopedCodecServiceVersion absent(0);
    ByteSource source(f.get(), {});
    TMMPCMConverter converter;
    converter.SetInput(&source);
    EXPECT_TRUE(converter.NeedsConversion());
    EXPECT_FALSE(converter.CanConvert());
    EXPECT_THROW(converter.Opened(), EMMConverterError);
}

// --- TMMADPCMConverter ---

TEST(ADPCMConverter, DecodesMicrosoftAdpcmInWholeBlocksWhateverPiecesArrive) {
    Adpcm f = msFormat(2, 1024);
    const auto input = msBlocks(9, 1024, 2);
    MsAdpcmLayout layout;
    ASSERT_TRUE(ParseMsAdpcmFormat(*f.get(), layout));
    std::vector<uint8_t> expected(9 * 1012 * 4);
    for (int b = 0; b < 9; ++b)
        ASSERT_EQ(MsAdpcmDecodeBlock(layout, input.data() + b * 1024, 1024, expected.data() + b * 1012 * 4),
                  1012);
    for (uint32_t piece : {1000u, 1024u, 333u, 5000u}) {
        ByteSource source(f.get(), input, piece);
        TMMADPCMConverter converter;
        converter.SetInput(&source);
        ASSERT_TRUE(converter.CanHandleInput());
        const WAVEFORMATEX out = pcm(16, 2, 22050);
        EXPECT_TRUE(IsSameWaveFormat(converter.PWaveFormat(), &out));
        open(converter);
        EXPECT_EQ(pullAll(converter, 3000), expected) << piece;
    }
}

TEST(ADPCMConverter, NarrowsToEightBitsByTruncation) {
    Adpcm f = msFormat(1, 256);
    const auto input = msBlocks(3, 256, 1);
    ByteSource wide(f.get(), input), narrow(f.get(), input);
    TMMADPCMConverter sixteen, eight;
    eight.SetBitLength(b8Bit);
    sixteen.SetInput(&wide);
    eight.SetInput(&narrow);
    open(sixteen);
    open(eight);
    const auto a = pullAll(sixteen, 4096), b = pullAll(eight, 4096);
    ASSERT_EQ(a.size(), 2 * b.size());
    for (size_t i = 0; i < b.size(); ++i) {
        int16_t s;
        std::memcpy(&s, &a[2 * i], 2);
        EXPECT_EQ(b[i], static_cast<uint8_t>(s / 256 + 128)) << i;
    }
}

TEST(ADPCMConverter, LeavesNonStandardCoefficientsToThePcmConverter) {
    Adpcm f = msFormat(1, 256, false);
    ByteSource source(f.get(), msBlocks(2, 256, 1));
    TMMADPCMConverter converter;
    converter.SetInput(&source);
    EXPECT_TRUE(converter.NeedsConversion());
    EXPECT_FALSE(converter.CanHandleInput());
    EXPECT_TRUE(IsSameWaveFormat(converter.PWaveFormat(), f.get()));
    try {
        converter.Opened();
        ADD_FAILURE() << "opened";
    } catch (const EMMADPCMError& e) {
        EXPECT_STREQ(e.what(), "Unable to convert to destination format");
    }
    converter.SetEnabled(false); // as the audio file component does: the data goes on undecoded
    open(converter);
    EXPECT_EQ(pullAll(converter, 4096), msBlocks(2, 256, 1));
}

TEST(ADPCMConverter, DecodesEachStereoImaStyleByteIntoOneFrame) {
    const WAVEFORMATEX f = imaStyle(0x33, 2);
    const std::vector<uint8_t> input = {0x17, 0x7F, 0x00, 0xF1};
    ByteSource source(&f, input);
    TMMADPCMConverter converter;
    converter.SetInput(&source);
    open(converter);
    const auto out = pullAll(converter, 4096);
    ASSERT_EQ(out.size(), 4 * input.size());
    std::vector<int16_t> s(out.size() / 2);
    std::memcpy(s.data(), out.data(), out.size());
    // Left takes the low nibble: 7 is +15/8 of step 7 -> 13 (floor of 105/8); right takes the high one: 1
    // -> 2.
    EXPECT_EQ(s[0], 13);
    EXPECT_EQ(s[1], 2);
    // Second byte: left code 15 (negative 7) at index 8, right code 7 at index 0 again.
    EXPECT_EQ(s[2], 13 - (15 * 16) / 8);
    EXPECT_EQ(s[3], 2 + 13);
}

TEST(ADPCMConverter, WrapsOrSaturatesByFamily) {
    const std::vector<uint8_t> input(200, 0x77); // the largest positive step, over and over
    struct Case {
        uint16_t tag;
        bool wraps;
    } cases[] = {{3, true}, {0x33, false}, {0x206, false}};
    for (const auto& c : cases) {
        const WAVEFORMATEX f = imaStyle(c.tag, 1);
        ByteSource source(&f, input);
        TMMADPCMConverter converter;
        converter.SetInput(&source);
        open(converter);
        const auto out = pullAll(converter, 4096);
        std::vector<int16_t> s(out.size() / 2);
        std::memcpy(s.data(), out.data(), out.size());
        ASSERT_EQ(s.size(), 400u);
        const bool anyNegative = std::any_of(s.begin(), s.end(), [](int16_t v) { return v < 0; });
        EXPECT_EQ(anyNegative, c.wraps) << c.tag;
        if (!c.wraps) {
            EXPECT_EQ(s.back(), 32767) << c.tag;
        }
    }
    EXPECT_EQ(ImaStyleDifference(ImaStyleFamily::Wrapping, 88, 4), -28673);
    EXPECT_EQ(ImaStyleDifference(ImaStyleFamily::Wrapping, 40, 7), 633);
    EXPECT_EQ(ImaStyleDifference(ImaStyleFamily::Saturating, 88, 7), 32767);
    EXPECT_EQ(ImaStyleDifference(ImaStyleFamily::Saturating, 0, 7), 13);
}

TEST(ADPCMConverter, StartsEveryRunWithAZeroState) {
    const WAVEFORMATEX f = imaStyle(0x206, 1);
    const auto input = ramp(3000);
    ByteSource source(&f, input);
    TMMADPCMConverter converter;
    converter.SetInput(&source);
    open(converter);
    const auto first = pullAll(converter, 1500);
    converter.Stopped();
    source.rewind();
    converter.Started();
    EXPECT_EQ(pullAll(converter, 1500), first);
}

TEST(ADPCMConverter, StopsDeliveringAfterADamagedFirstBlock) {
    Adpcm f = msFormat(1, 256);
    auto input = msBlocks(4, 256, 1);
    input[0] = 7; // predictor index beyond the standard pairs
    ByteSource source(f.get(), input);
    TMMADPCMConverter converter;
    converter.SetInput(&source);
    open(converter);
    int empty = 0;
    EXPECT_TRUE(pullAll(converter, 2048, &empty).empty());
    EXPECT_EQ(empty, 1);
}

TEST(ADPCMConverter, PassesPcmUnchanged) {
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    ByteSource source(&f, ramp(5000));
    TMMADPCMConverter converter;
    converter.SetInput(&source);
    EXPECT_FALSE(converter.NeedsConversion());
    EXPECT_TRUE(converter.CanHandleInput());
    open(converter);
    EXPECT_EQ(pullAll(converter, 1024), ramp(5000));
}

} // namespace
