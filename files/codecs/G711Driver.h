#pragma once
// CCITT A-law (tag 6) and mu-law (tag 7): decoding to and encoding from 16-bit PCM.

#include "files/codecs/CodecDriver.h"

class G711Driver : public CodecDriver {
public:
    std::vector<CodecTagInfo> Tags() const override;
    bool Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const override;
    bool Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t destinationBytes,
                 uint32_t flags) const override;
    std::unique_ptr<CodecStream> Open(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
                                      bool highQuality) const override;
    std::string Describe(const WAVEFORMATEX& format) const override;
};
