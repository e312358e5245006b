#include "files/codecs/GsmDriver.h"

#include <gsm/gsm.h>

#include "files/codecs/BlockDecoderStream.h"
#include "files/codecs/CodecFormats.h"
#include "files/codecs/CodecService.h"
#include "files/codecs/SampleIO.h"

namespace {

constexpr uint16_t WAVE_FORMAT_GSM610 = 0x31;
constexpr uint32_t GsmBlockBytes = 65;
constexpr uint32_t GsmBlockSamples = 320;

bool isGsm(const WAVEFORMATEX& f) {
    if (f.wFormatTag != WAVE_FORMAT_GSM610 || f.nChannels != 1 || f.nBlockAlign != GsmBlockBytes)
        return false;
    if (f.nSamplesPerSec < 1 || f.nSamplesPerSec > 1000000) return false;
    return f.cbSize < 2 || LoadU16(FormatExtra(f)) == GsmBlockSamples;
}

struct GsmHandleDeleter {
    void operator()(gsm_state* handle) const { gsm_destroy(handle); }
};

// The decoder carries state from frame to frame, so a stream owns one handle and makes a fresh
// one when it is reset.
struct GsmCodec {
    std::unique_ptr<gsm_state, GsmHandleDeleter> handle;
    uint32_t blockBytes = GsmBlockBytes, framesPerBlock = GsmBlockSamples, frameBytes = 2;
    bool decodesPartBlocks = false;

    int decode(const uint8_t* block, uint32_t bytes, uint8_t* out) {
        if (bytes < GsmBlockBytes || !handle) return -1;
        gsm_signal samples[GsmBlockSamples];
        // The library takes non-const frames but only reads them.
        auto* frame = const_cast<gsm_byte*>(block);
        if (gsm_decode(handle.get(), frame, samples) < 0 ||
            gsm_decode(handle.get(), frame + 33, samples + 160) < 0)
            return -1;
        for (uint32_t i = 0; i < GsmBlockSamples; ++i)
            StoreS16(out + 2 * i, samples[i]);
        return static_cast<int>(GsmBlockSamples);
    }
    void reset() {
        handle.reset(gsm_create());
        if (handle) {
            int wav49 = 1;
            gsm_option(handle.get(), GSM_OPT_WAV49, &wav49);
        }
    }
};

} // namespace

std::vector<CodecTagInfo> GsmDriver::Tags() const {
    return {{WAVE_FORMAT_GSM610, "GSM 6.10", sizeof(WAVEFORMATEX) + 2, ACMDRIVERDETAILS_SUPPORTF_CODEC}};
}

bool GsmDriver::Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const {
    return isGsm(source) && IsDecodedPcm(source, destination);
}

bool GsmDriver::Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t bytes,
                        uint32_t flags) const {
    return isGsm(source) && SuggestDecodedPcm(source, destination, bytes, flags);
}

std::unique_ptr<CodecStream> GsmDriver::Open(const WAVEFORMATEX&, const WAVEFORMATEX&, bool) const {
    GsmCodec codec;
    codec.reset();
    if (!codec.handle) return nullptr;
    return std::make_unique<BlockDecoderStream<GsmCodec>>(std::move(codec));
}

std::string GsmDriver::Describe(const WAVEFORMATEX& format) const {
    return isGsm(format) ? DescribeCodecFormat(format) : std::string();
}
