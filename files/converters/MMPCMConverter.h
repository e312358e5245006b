#pragma once
// TMMPCMConverter: a TMMACMConverter whose destination is always PCM: the input's PCM equivalent,
// optionally with the bits, channels and rate the properties require.

#include "files/converters/MMACMConverter.h"
#include "stream/MMTypes.h"

enum TMMRequiredParam { rpBits = 1, rpChannels = 2, rpSampleRate = 4 };
using TMMRequiredParams = unsigned; // a set of TMMRequiredParam

class TMMPCMConverter : public TMMACMConverter {
public:
    TMMPCMConverter();

    bool AutoConvert() const { return autoConvert_; }
    void SetAutoConvert(bool value);
    int32_t SampleRate() const { return sampleRate_; }
    void SetSampleRate(int32_t value); // held within 8000 ... 88200
    TMMBits BitLength() const { return bitLength_; }
    void SetBitLength(TMMBits value);
    TMMMode Mode() const { return mode_; }
    void SetMode(TMMMode value); // mMultiChannel is ignored
    TMMRequiredParams Required() const { return required_; }
    void SetRequired(TMMRequiredParams value);

    // Takes bits, channels and rate from a valid PCM format; anything else that is not null
    // raises "Invalid WaveFormat".
    void SetOutputFormat(const WAVEFORMATEX* format) override;

protected:
    WaveFormatPtr ComputeDestination() const override;
    bool InputMustConvert() const override;

private:
    bool autoConvert_ = true;
    int32_t sampleRate_ = 11025;
    TMMBits bitLength_ = b8Bit;
    TMMMode mode_ = mMono;
    TMMRequiredParams required_ = rpBits | rpChannels | rpSampleRate;
};
