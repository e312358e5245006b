// Conversion chains: the search for intermediate formats, the steps built, and the carrying of
// part blocks between calls.

#include <gtest/gtest.h>

#include <cstring>

#include "files/codecs/ImaAdpcm.h"
#include "files/converters/ConversionChain.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) {
    return PcmBuildFormat(bits, channels, rate);
}

struct ImaFormat {
    alignas(WAVEFORMATEX) uint8_t bytes[20] = {};
    WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes); }
};

ImaFormat ima(int channels, uint32_t rate, int blockAlign) {
    ImaFormat f;
    WAVEFORMATEX* w = f.get();
    w->wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    w->nChannels = static_cast<uint16_t>(channels);
    w->nSamplesPerSec = rate;
    w->nBlockAlign = static_cast<uint16_t>(blockAlign);
    w->wBitsPerSample = 4;
    w->cbSize = 2;
    const uint16_t perBlock = static_cast<uint16_t>((blockAlign - 4 * channels) * 2 / channels + 1);
    std::memcpy(f.bytes + 18, &perBlock, 2);
    w->nAvgBytesPerSec = rate * blockAlign / perBlock;
    return f;
}

// IMA blocks whose codes walk up and down, so that every block decodes differently.
std::vector<uint8_t> imaBlocks(int blocks, int blockAlign, int channels) {
    std::vector<uint8_t> data(static_cast<size_t>(blocks) * blockAlign);
    uint32_t x = 12345;
    for (int b = 0; b < blocks; ++b)
        for (int i = 0; i < blockAlign; ++i) {
            x = x * 1103515245 + 12345;
            uint8_t v = static_cast<uint8_t>(x >> 16);
            if (i < 4 * channels) v = (i % 4 == 2) ? static_cast<uint8_t>(x % 60) : (i % 4 == 3 ? 0 : v);
            data[static_cast<size_t>(b) * blockAlign + i] = v;
        }
    return data;
}

// Runs `input` through a chain in pieces of the given sizes (cycled), then drains.
std::vector<uint8_t> runChain(TConversionChain& chain, const std::vector<uint8_t>& input,
                              std::vector<uint32_t> pieces) {
    std::vector<uint8_t> out;
    size_t at = 0, k = 0;
    while (at < input.size()) {
        const uint32_t n = static_cast<uint32_t>(
            std::min<size_t>({pieces[k++ % pieces.size()], input.size() - at, ConversionInputRoom(chain)}));
        std::memcpy(ConversionInput(chain), input.data() + at, n);
        at += n;
        const int32_t produced = ConvertChunk(chain, n);
        EXPECT_GE(produced, 0);
        out.insert(out.end(), ConversionOutput(chain), ConversionOutput(chain) + std::max(0, produced));
    }
    const int32_t produced = DrainConversion(chain, 0);
    EXPECT_GE(produced, 0);
    out.insert(out.end(), ConversionOutput(chain), ConversionOutput(chain) + std::max(0, produced));
    return out;
}

TEST(ConversionChain, FormatsDifferInTagBitsChannelsOrRate) {
    const WAVEFORMATEX a = pcm(16, 2, 44100);
    WAVEFORMATEX odd = a;
    odd.nAvgBytesPerSec = 1; // not one of the four fields compared
    const WAVEFORMATEX b = pcm(8, 2, 44100), c = pcm(16, 1, 44100), d = pcm(16, 2, 48000);
    WAVEFORMATEX e = a;
    e.wFormatTag = 3;
    EXPECT_FALSE(FormatsDiffer(&a, &odd));
    for (const WAVEFORMATEX* other : std::initializer_list<const WAVEFORMATEX*>{&b, &c, &d, &e})
        EXPECT_TRUE(FormatsDiffer(&a, other));
    EXPECT_FALSE(FormatsDiffer(&a, nullptr));
    EXPECT_FALSE(FormatsDiffer(nullptr, nullptr));
}

TEST(ConversionChain, PcmEquivalentDecodesToTheSameShape) {
    const WAVEFORMATEX p = pcm(8, 1, 11025);
    EXPECT_TRUE(IsSameWaveFormat(PcmEquivalent(&p).get(), &p));
    ImaFormat f = ima(2, 22050, 1024);
    const WAVEFORMATEX expected = pcm(16, 2, 22050);
    auto equivalent = PcmEquivalent(f.get());
    ASSERT_TRUE(equivalent);
    EXPECT_TRUE(IsSameWaveFormat(equivalent.get(), &expected));
    WAVEFORMATEX mp3 = pcm(0, 2, 44100);
    mp3.wFormatTag = 0x55;
    mp3.nBlockAlign = 1;
    EXPECT_FALSE(PcmEquivalent(&mp3));
    EXPECT_FALSE(PcmEquivalent(nullptr));
    ScopedCodecServiceVersion absent(0);
    EXPECT_FALSE(PcmEquivalent(f.get()));
    EXPECT_TRUE(PcmEquivalent(&p)); // PCM needs no service
}

TEST(ConversionChain, FindsTheStepsBetweenFormats) {
    ImaFormat imaMono = ima(1, 22050, 512);
    const WAVEFORMATEX p44s16 = pcm(16, 2, 44100), p22m8 = pcm(8, 1, 22050), p22m16 = pcm(16, 1, 22050),
                       p44s8 = pcm(8, 2, 44100), p44s16b = pcm(16, 2, 44100);
    struct Case {
        const char* what;
        const WAVEFORMATEX* from;
        const WAVEFORMATEX* to;
        std::vector<WAVEFORMATEX> steps; // the destination of each step
    } cases[] = {
        {"shape first, then width", &p44s16, &p22m8, {pcm(16, 1, 22050), pcm(8, 1, 22050)}},
        {"one step", &p44s16, &p44s8, {pcm(8, 2, 44100)}},
        {"decode, then shape", imaMono.get(), &p44s16b, {pcm(16, 1, 22050), pcm(16, 2, 44100)}},
        {"decode, shape, width",
         imaMono.get(),
         &p44s8,
         {pcm(16, 1, 22050), pcm(16, 2, 44100), pcm(8, 2, 44100)}},
        {"decode only", imaMono.get(), &p22m16, {pcm(16, 1, 22050)}},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(CanConvert(c.from, c.to, cqLow)) << c.what;
        auto chain = CreateConversion(c.from, c.to, cqHigh, 8192);
        ASSERT_TRUE(chain) << c.what;
        ASSERT_EQ(chain->Steps.size(), c.steps.size()) << c.what;
        for (size_t k = 0; k < c.steps.size(); ++k)
            EXPECT_TRUE(IsSameWaveFormat(chain->Steps[k]->DestinationFormat.get(), &c.steps[k]))
                << c.what << " step " << k;
        // Every step can take all the previous step can give, after what it kept.
        for (size_t k = 1; k < chain->Steps.size(); ++k)
            EXPECT_GE(chain->Steps[k]->Source.size(), chain->Steps[k - 1]->Destination.size()) << c.what;
    }
}

TEST(ConversionChain, AnswersNoWhereThereIsNoWay) {
    const WAVEFORMATEX p = pcm(16, 2, 44100);
    WAVEFORMATEX mp3 = pcm(0, 2, 44100);
    mp3.wFormatTag = 0x55;
    mp3.nBlockAlign = 1;
    mp3.nAvgBytesPerSec = 16000;
    const WAVEFORMATEX p8 = pcm(8, 1, 8000);
    WAVEFORMATEX alaw = pcm(8, 1, 8000);
    alaw.wFormatTag = 6;
    EXPECT_FALSE(CanConvert(&mp3, &p, cqLow));
    EXPECT_FALSE(CreateConversion(&mp3, &p, cqLow, 8192));
    // An 8-bit source reaches A-law only through a width step the search does not try.
    EXPECT_FALSE(CanConvert(&p8, &alaw, cqLow));
    EXPECT_TRUE(CanConvert(&p, &p, cqLow));
    EXPECT_FALSE(CreateConversion(&p, &p, cqLow, 8192)); // nothing to convert: no chain
    ScopedCodecServiceVersion absent(0);
    const WAVEFORMATEX q = pcm(8, 2, 44100);
    EXPECT_FALSE(CanConvert(&p, &q, cqLow));
    EXPECT_FALSE(CreateConversion(&p, &q, cqLow, 8192));
}

TEST(ConversionChain, RoundsTheChunkToWholeSourceBlocks) {
    ImaFormat f = ima(2, 22050, 1024);
    const WAVEFORMATEX to = pcm(16, 2, 22050);
    EXPECT_EQ(CreateConversion(f.get(), &to, cqLow, 8192 + 1000)->ChunkSize, 8192u);
    EXPECT_EQ(CreateConversion(f.get(), &to, cqLow, 100)->ChunkSize, 1024u); // never below one block
}

TEST(ConversionChain, CarriesPartBlocksSoPieceSizesDoNotMatter) {
    ImaFormat f = ima(2, 22050, 1024);
    const WAVEFORMATEX to = pcm(8, 1, 16000);
    const auto input = imaBlocks(23, 1024, 2);
    auto whole = CreateConversion(f.get(), &to, cqLow, 8192);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->Steps.size(), 3u);
    const auto reference = runChain(*whole, input, {8192});
    EXPECT_EQ(reference.size(), (23u * 1017 * 16000 + 22049) / 22050);
    for (std::vector<uint32_t> pieces : {std::vector<uint32_t>{1000}, {1}, {1023, 3, 4000}, {2048}}) {
        auto chain = CreateConversion(f.get(), &to, cqLow, 8192);
        EXPECT_EQ(runChain(*chain, input, pieces), reference) << pieces[0];
    }
}

TEST(ConversionChain, FlagsWhatAStepKeptOrSwallowed) {
    ImaFormat f = ima(1, 22050, 512);
    const WAVEFORMATEX to = pcm(16, 1, 22050);
    auto chain = CreateConversion(f.get(), &to, cqLow, 8192);
    const auto input = imaBlocks(2, 512, 1);
    std::memcpy(ConversionInput(*chain), input.data(), 300);
    EXPECT_EQ(ConvertChunk(*chain, 300), 0); // less than a block: kept for later
    EXPECT_TRUE(chain->Pending);
    EXPECT_EQ(chain->Steps[0]->Carried, 300u);
    std::memcpy(ConversionInput(*chain), input.data() + 300, 724);
    EXPECT_EQ(ConvertChunk(*chain, 724), 2 * 2 * 1017);
    EXPECT_FALSE(chain->Pending);

    // A resampler filling its window takes input and gives nothing yet.
    const WAVEFORMATEX from = pcm(16, 1, 44100), low = pcm(16, 1, 8000);
    auto resampling = CreateConversion(&from, &low, cqLow, 8192);
    std::memset(ConversionInput(*resampling), 0, 20);
    EXPECT_EQ(ConvertChunk(*resampling, 20), 0);
    EXPECT_TRUE(resampling->Drained);
}

TEST(ConversionChain, ResetForgetsCarriedBytesAndHistory) {
    const WAVEFORMATEX from = pcm(16, 2, 44100), to = pcm(8, 1, 22050);
    std::vector<uint8_t> input(44100 * 4 / 10);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>(i * 7);
    auto chain = CreateConversion(&from, &to, cqLow, 4096);
    const auto first = runChain(*chain, input, {4096});
    std::memcpy(ConversionInput(*chain), input.data(), 3);
    ConvertChunk(*chain, 3);
    EXPECT_TRUE(chain->Pending);
    ResetConversion(*chain);
    EXPECT_EQ(chain->Steps[0]->Carried, 0u);
    EXPECT_EQ(runChain(*chain, input, {4096}), first);
}

} // namespace
