#pragma once
// GSM 6.10 (tag 0x31) in its WAVE form, 65-byte blocks of two frames (320 samples), mono, decoded
// to 16-bit PCM through libgsm.

#include "files/codecs/CodecDriver.h"

class GsmDriver : public CodecDriver {
public:
    std::vector<CodecTagInfo> Tags() const override;
    bool Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const override;
    bool Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t destinationBytes,
                 uint32_t flags) const override;
    std::unique_ptr<CodecStream> Open(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
                                      bool highQuality) const override;
    std::string Describe(const WAVEFORMATEX& format) const override;
};
