#pragma once
// The PCM driver: changes the sample width (8, 16, 24, 32 bits), or the channels (equal, one to
// many, many to one) and the sample rate (by at most a factor of 64), but never the width together
// with the shape. Conversion chains reach the rest in two steps.

#include "files/codecs/CodecDriver.h"

class PcmDriver : public CodecDriver {
public:
    std::vector<CodecTagInfo> Tags() const override;
    bool Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const override;
    bool Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t destinationBytes,
                 uint32_t flags) const override;
    std::unique_ptr<CodecStream> Open(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
                                      bool highQuality) const override;
    std::string Describe(const WAVEFORMATEX& format) const override;
};
