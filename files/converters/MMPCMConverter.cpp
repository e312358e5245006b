#include "files/converters/MMPCMConverter.h"

#include <algorithm>

#include "stream/MMErrors.h"

TMMPCMConverter::TMMPCMConverter() = default;

void TMMPCMConverter::SetAutoConvert(bool value) {
    autoConvert_ = value;
    UpdateConversion();
}

void TMMPCMConverter::SetSampleRate(int32_t value) {
    sampleRate_ = std::clamp(value, 8000, 88200);
    UpdateConversion();
}

void TMMPCMConverter::SetBitLength(TMMBits value) {
    bitLength_ = value;
    UpdateConversion();
}

void TMMPCMConverter::SetMode(TMMMode value) {
    if (value != mMono && value != mStereo) return;
    mode_ = value;
    UpdateConversion();
}

void TMMPCMConverter::SetRequired(TMMRequiredParams value) {
    required_ = value & (rpBits | rpChannels | rpSampleRate);
    UpdateConversion();
}

void TMMPCMConverter::SetOutputFormat(const WAVEFORMATEX* format) {
    if (!format) return;
    if (!PcmFormatSupported(format)) throw EMMConverterError(MMText::InvalidWaveFormat);
    bitLength_ = format->wBitsPerSample == 8 ? b8Bit : b16Bit;
    if (format->nChannels == 1 || format->nChannels == 2) mode_ = format->nChannels == 1 ? mMono : mStereo;
    sampleRate_ = std::clamp<int32_t>(static_cast<int32_t>(format->nSamplesPerSec), 8000, 88200);
    UpdateConversion();
}

bool TMMPCMConverter::InputMustConvert() const {
    return Enabled() && InputFormat() && InputFormat()->wFormatTag != WAVE_FORMAT_PCM;
}

WaveFormatPtr TMMPCMConverter::ComputeDestination() const {
    if (!Enabled()) return nullptr;
    const int bits = bitLength_ == b8Bit ? 8 : 16;
    const int channels = mode_ == mStereo ? 2 : 1;
    const WAVEFORMATEX* input = InputFormat();
    if (!input) {
        const WAVEFORMATEX f = PcmBuildFormat(bits, channels, static_cast<uint32_t>(sampleRate_));
        return CopyWaveFormat(&f);
    }
    WaveFormatPtr equivalent = PcmEquivalent(input);
    // A shape no driver converts is left as it is rather than rebuilt from absurd fields.
    if (autoConvert_ || !equivalent || equivalent->nChannels > 8 || equivalent->wBitsPerSample > 32)
        return equivalent;
    const WAVEFORMATEX f = PcmBuildFormat((required_ & rpBits) ? bits : equivalent->wBitsPerSample,
                                          (required_ & rpChannels) ? channels : equivalent->nChannels,
                                          (required_ & rpSampleRate) ? static_cast<uint32_t>(sampleRate_)
                                                                     : equivalent->nSamplesPerSec);
    return CopyWaveFormat(&f);
}
