#pragma once
// TMMADPCMConverter: a chain component with the system's own ADPCM decoders: Microsoft ADPCM with
// the standard coefficients, and the headerless IMA-style streams of tags 3, 0x0033 and 0x0206.
// Output is PCM with the input's channels and rate at 8 or 16 bits.
//
// PCM input passes unchanged. A compressed input it does not decode also passes unchanged while
// the component is disabled (the audio file component disables it and leaves such input to the
// PCM converter); enabled, opening with it raises.
//
// Input is pulled in whole blocks; a block that arrives in pieces is completed by the next pull.
//
// Threads: formats and open/close on the main thread; pulls on the driver's thread.

#include <vector>

#include "files/codecs/MsAdpcm.h"
#include "files/converters/ImaStyleAdpcm.h"
#include "stream/MMDSPComponent.h"
#include "stream/MMTypes.h"

class TMMADPCMConverter : public TMMDSPComponent {
public:
    TMMADPCMConverter();

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    TMMBits BitLength() const { return bitLength_; }
    void SetBitLength(TMMBits value);

    const WAVEFORMATEX* InputFormat() const { return input_.get(); }
    bool NeedsConversion() const { return needsConversion_; }
    bool CanConvert() const { return canConvert_; }
    // True when the input needs no conversion or is one of the formats decoded here.
    bool CanHandleInput() const { return !needsConversion_ || canConvert_; }

    void InputFormatChanged(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Reset() override;
    int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

private:
    enum class Kind { None, MsAdpcm, ImaStyle };
    void updateFormats();
    void clearStream();
    // Decodes `bytes` at the front of the source buffer; returns false when a block is damaged.
    bool decode(uint32_t bytes, bool atEnd);
    bool active() const { return enabled_ && opened_ && started_ && needsConversion_ && canConvert_; }

    bool enabled_ = true;
    TMMBits bitLength_ = b16Bit;
    WaveFormatPtr input_, output_;
    bool needsConversion_ = false, canConvert_ = false;
    Kind kind_ = Kind::None;
    MsAdpcmLayout ms_;
    ImaStyleFamily family_ = ImaStyleFamily::Saturating;
    int channels_ = 0;

    std::vector<uint8_t> source_, decoded_;
    uint32_t pullBytes_ = 0; // whole blocks, at most 4096 bytes unless one block is larger
    uint32_t carried_ = 0;   // a part block at the front of source_
    uint32_t decodedBytes_ = 0, readPosition_ = 0;
    bool endOfInput_ = false, failed_ = false;
    TMMADPCMState state_{};
};
