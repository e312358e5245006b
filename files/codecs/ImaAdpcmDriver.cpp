#include "files/codecs/ImaAdpcmDriver.h"

#include "files/codecs/BlockDecoderStream.h"
#include "files/codecs/CodecFormats.h"
#include "files/codecs/CodecService.h"
#include "files/codecs/ImaAdpcm.h"

namespace {

struct ImaCodec {
    ImaAdpcmLayout layout;
    uint32_t blockBytes, framesPerBlock, frameBytes;
    bool decodesPartBlocks = true;
    int decode(const uint8_t* block, uint32_t bytes, uint8_t* out) const {
        return ImaAdpcmDecodeBlock(layout, block, bytes, out);
    }
    void reset() {}
};

} // namespace

std::vector<CodecTagInfo> ImaAdpcmDriver::Tags() const {
    return {{WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", sizeof(WAVEFORMATEX) + 2, ACMDRIVERDETAILS_SUPPORTF_CODEC}};
}

bool ImaAdpcmDriver::Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const {
    ImaAdpcmLayout layout;
    return ParseImaAdpcmFormat(source, layout) && IsDecodedPcm(source, destination);
}

bool ImaAdpcmDriver::Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t bytes,
                             uint32_t flags) const {
    ImaAdpcmLayout layout;
    return ParseImaAdpcmFormat(source, layout) && SuggestDecodedPcm(source, destination, bytes, flags);
}

std::unique_ptr<CodecStream> ImaAdpcmDriver::Open(const WAVEFORMATEX& source, const WAVEFORMATEX&,
                                                  bool) const {
    ImaCodec codec{};
    ParseImaAdpcmFormat(source, codec.layout);
    codec.blockBytes = codec.layout.blockAlign;
    codec.framesPerBlock = codec.layout.samplesPerBlock;
    codec.frameBytes = 2u * codec.layout.channels;
    return std::make_unique<BlockDecoderStream<ImaCodec>>(codec);
}

std::string ImaAdpcmDriver::Describe(const WAVEFORMATEX& format) const {
    ImaAdpcmLayout layout;
    return ParseImaAdpcmFormat(format, layout) ? DescribeCodecFormat(format) : std::string();
}
