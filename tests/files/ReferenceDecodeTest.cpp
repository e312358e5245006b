// Our decode of files written by sox and ffmpeg, held against the tools' own decodes.
//
// PCM, A-law, mu-law and GSM 6.10 (both tools decode GSM alike) must match both tools exactly.
// IMA ADPCM must match sox exactly; ffmpeg's IMA decoder forms the step difference by
// multiplication, (2 x code + 1) x step / 8, which rounds differently from the shift-and-add of the
// published algorithm. Microsoft ADPCM must match ffmpeg exactly; sox shifts the prediction
// (rounding toward minus infinity) where the published algorithm divides (toward zero), and the
// predictor carries that difference on, so sox is held to files both tools agree on.

#include <gtest/gtest.h>

#include <cstring>

#include "FileTestSupport.h"
#include "files/converters/MMADPCMConverter.h"
#include "files/converters/MMPCMConverter.h"
#include "files/riff/RiffWave.h"

namespace {

struct Fixture {
    const char* name;
    bool matchesSox;
    bool matchesFfmpeg;
};

const Fixture fixtures[] = {
    {"pcm8_mono", true, true},        {"pcm8_stereo", true, true},      {"pcm16_mono", true, true},
    {"pcm16_stereo", true, true},     {"alaw_stereo", true, true},      {"mulaw_mono", true, true},
    {"alaw_ffmpeg", true, true},      {"mulaw_ffmpeg", true, true},     {"ima_sox_mono", true, false},
    {"ima_sox_stereo", true, false},  {"ima_ffmpeg_mono", true, false}, {"ima_ffmpeg_stereo", true, false},
    {"ms_sox_mono", false, true},     {"ms_sox_stereo", false, true},   {"ms_ffmpeg_mono", true, true},
    {"ms_ffmpeg_stereo", true, true}, {"gsm_sox", true, true},          {"gsm_ffmpeg", true, true},
};

std::vector<int16_t> toSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

void expectSame(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference,
                const std::string& what) {
    ASSERT_EQ(ours.size(), reference.size()) << what;
    size_t first = 0;
    while (first < ours.size() && ours[first] == reference[first])
        ++first;
    EXPECT_EQ(first, ours.size()) << what << ": first difference at sample " << first;
}

class ReferenceDecode : public ::testing::TestWithParam<Fixture> {
protected:
    void SetUp() override {
        if (ReferenceFixtures().empty()) GTEST_SKIP() << "sox or ffmpeg is missing";
    }
    std::string path(const std::string& suffix) const {
        return ReferenceFixtures() + "/" + GetParam().name + suffix;
    }
    void expectReferences(const std::vector<int16_t>& ours, const std::string& how) const {
        if (GetParam().matchesSox) expectSame(ours, ReadSamples16(path(".sox.raw")), how + " against sox");
        if (GetParam().matchesFfmpeg)
            expectSame(ours, ReadSamples16(path(".ffmpeg.raw")), how + " against ffmpeg");
    }
};

TEST_P(ReferenceDecode, ThroughAConversionChain) {
    for (uint32_t piece : {5000u, 333u}) {
        const DecodedWave decoded = DecodeWave(path(".wav"), piece);
        ASSERT_EQ(decoded.result, rcOK);
        expectReferences(decoded.pcm, "chain, pieces of " + std::to_string(piece));
    }
}

// The players' road: the file's bytes through the ADPCM converter (which decodes what it knows
// and passes the rest on) and a PCM converter.
TEST_P(ReferenceDecode, ThroughTheConverterComponents) {
    PRiffWaveInfo info;
    ASSERT_EQ(RiffWaveOpen(path(".wav"), info), rcOK);
    ASSERT_EQ(RiffWaveReopen(info.get()), rcOK);

    class WaveSource : public TMMDSPComponent {
    public:
        explicit WaveSource(TRiffWaveInfo* info) : info_(info) { SetPWaveFormat(info->Format.get()); }
        int BufferLoad(PWaveHdr h, bool& more) override {
            const int32_t n = RiffWaveRead(info_, h->lpData, static_cast<int32_t>(h->dwBufferLength));
            h->dwBytesRecorded = static_cast<uint32_t>(std::max(0, n));
            more = info_->BytesLeft > 0;
            return 0;
        }

    private:
        TRiffWaveInfo* info_;
    } source(info.get());

    TMMADPCMConverter adpcm;
    TMMPCMConverter converter;
    adpcm.SetInput(&source);
    adpcm.SetEnabled(adpcm.CanHandleInput());
    converter.SetInput(&adpcm);
    // The file's own shape, always at 16 bits.
    converter.SetAutoConvert(false);
    converter.SetRequired(rpBits);
    converter.SetBitLength(b16Bit);
    for (TMMDSPComponent* c : std::initializer_list<TMMDSPComponent*>{&adpcm, &converter}) {
        c->Opened();
        c->Started();
    }
    ASSERT_EQ(converter.PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    ASSERT_EQ(converter.PWaveFormat()->wBitsPerSample, 16);
    std::vector<uint8_t> out, buffer(4096);
    for (bool more = true; more;) {
        TMMAudioBuffer h{};
        h.lpData = buffer.data();
        h.dwBufferLength = static_cast<uint32_t>(buffer.size());
        more = false;
        converter.BufferLoad(&h, more);
        out.insert(out.end(), buffer.begin(), buffer.begin() + h.dwBytesRecorded);
    }
    expectReferences(toSamples(out), adpcm.Enabled() ? "own ADPCM decoder" : "codec service");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReferenceDecode, ::testing::ValuesIn(fixtures),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
