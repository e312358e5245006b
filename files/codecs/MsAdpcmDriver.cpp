#include "files/codecs/MsAdpcmDriver.h"

#include "files/codecs/BlockDecoderStream.h"
#include "files/codecs/CodecFormats.h"
#include "files/codecs/CodecService.h"
#include "files/codecs/MsAdpcm.h"

namespace {

struct MsCodec {
    std::shared_ptr<const MsAdpcmLayout> layout;
    uint32_t blockBytes, framesPerBlock, frameBytes;
    bool decodesPartBlocks = true;
    int decode(const uint8_t* block, uint32_t bytes, uint8_t* out) const {
        return MsAdpcmDecodeBlock(*layout, block, bytes, out);
    }
    void reset() {}
};

} // namespace

std::vector<CodecTagInfo> MsAdpcmDriver::Tags() const {
    return {{WAVE_FORMAT_ADPCM, "Microsoft ADPCM", sizeof(WAVEFORMATEX) + 4 + 4 * 256,
             ACMDRIVERDETAILS_SUPPORTF_CODEC}};
}

bool MsAdpcmDriver::Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const {
    MsAdpcmLayout layout;
    return ParseMsAdpcmFormat(source, layout) && IsDecodedPcm(source, destination);
}

bool MsAdpcmDriver::Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t bytes,
                            uint32_t flags) const {
    MsAdpcmLayout layout;
    return ParseMsAdpcmFormat(source, layout) && SuggestDecodedPcm(source, destination, bytes, flags);
}

std::unique_ptr<CodecStream> MsAdpcmDriver::Open(const WAVEFORMATEX& source, const WAVEFORMATEX&,
                                                 bool) const {
    auto layout = std::make_shared<MsAdpcmLayout>();
    ParseMsAdpcmFormat(source, *layout);
    MsCodec codec{layout, static_cast<uint32_t>(layout->blockAlign),
                  static_cast<uint32_t>(layout->samplesPerBlock), 2u * layout->channels};
    return std::make_unique<BlockDecoderStream<MsCodec>>(std::move(codec));
}

std::string MsAdpcmDriver::Describe(const WAVEFORMATEX& format) const {
    MsAdpcmLayout layout;
    return ParseMsAdpcmFormat(format, layout) ? DescribeCodecFormat(format) : std::string();
}
