#pragma once
// IMA ADPCM (tag 0x11) to 16-bit PCM.

#include "files/codecs/CodecDriver.h"

class ImaAdpcmDriver : public CodecDriver {
public:
    std::vector<CodecTagInfo> Tags() const override;
    bool Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const override;
    bool Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t destinationBytes,
                 uint32_t flags) const override;
    std::unique_ptr<CodecStream> Open(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
                                      bool highQuality) const override;
    std::string Describe(const WAVEFORMATEX& format) const override;
};
