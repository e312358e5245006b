#include "files/converters/MMADPCMConverter.h"

#include <algorithm>
#include <cstring>

#include "stream/MMErrors.h"
#include "stream/PcmRoutines.h"

namespace {
constexpr const char* UnableToConvert = "Unable to convert to destination format";
constexpr uint32_t SourceBufferBytes = 4096;
} // namespace

TMMADPCMConverter::TMMADPCMConverter() = default;

void TMMADPCMConverter::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    updateFormats();
}

void TMMADPCMConverter::SetBitLength(TMMBits value) {
    if (value == bitLength_) return;
    bitLength_ = value;
    updateFormats();
}

void TMMADPCMConverter::InputFormatChanged(const WAVEFORMATEX* format) {
    input_ = CopyWaveFormat(format);
    updateFormats();
}

void TMMADPCMConverter::updateFormats() {
    kind_ = Kind::None;
    output_.reset();
    needsConversion_ = input_ && input_->wFormatTag != WAVE_FORMAT_PCM;
    canConvert_ = false;
    if (needsConversion_) {
        if (input_->wFormatTag == WAVE_FORMAT_ADPCM) {
            if (ParseMsAdpcmFormat(*input_, ms_) && ms_.standardCoefficients && ms_.channels <= 4)
                kind_ = Kind::MsAdpcm;
        } else if (ImaStyleFamilyOf(input_->wFormatTag, family_) &&
                   (input_->nChannels == 1 || input_->nChannels == 2) && input_->nSamplesPerSec > 0) {
            kind_ = Kind::ImaStyle;
        }
        canConvert_ = kind_ != Kind::None;
    }
    if (canConvert_) {
        channels_ = input_->nChannels;
        const WAVEFORMATEX f =
            PcmBuildFormat(bitLength_ == b8Bit ? 8 : 16, channels_, input_->nSamplesPerSec);
        output_ = CopyWaveFormat(&f);
    }
    SetPWaveFormat(enabled_ && canConvert_ ? output_.get() : input_.get());
}

void TMMADPCMConverter::Opened() {
    if (opened_) return;
    if (enabled_ && needsConversion_) {
        if (!canConvert_) throw EMMADPCMError(UnableToConvert);
        const int outFrameBytes = 2 * channels_; // decoded at 16 bits, narrowed in place when asked
        try {
            if (kind_ == Kind::MsAdpcm) {
                const uint32_t block = ms_.blockAlign;
                pullBytes_ = std::max<uint32_t>(1, SourceBufferBytes / block) * block;
                source_.assign(pullBytes_, 0);
                decoded_.assign(static_cast<size_t>(pullBytes_ / block) * ms_.samplesPerBlock * outFrameBytes,
                                0);
            } else {
                pullBytes_ = SourceBufferBytes;
                source_.assign(pullBytes_, 0);
                decoded_.assign(static_cast<size_t>(pullBytes_) * 4, 0);
            }
        } catch (const std::bad_alloc&) {
            throw EMMADPCMError(UnableToConvert);
        }
    }
    TMMDSPComponent::Opened();
}

void TMMADPCMConverter::Closed() {
    Stopped();
    source_.clear();
    source_.shrink_to_fit();
    decoded_.clear();
    decoded_.shrink_to_fit();
    clearStream();
    TMMDSPComponent::Closed();
}

void TMMADPCMConverter::clearStream() {
    carried_ = decodedBytes_ = readPosition_ = 0;
    endOfInput_ = failed_ = false;
    state_ = {};
}

void TMMADPCMConverter::Started() {
    TMMDSPComponent::Started();
    clearStream();
}

void TMMADPCMConverter::Stopped() {
    readPosition_ = decodedBytes_;
    TMMDSPComponent::Stopped();
}

void TMMADPCMConverter::Reset() {
    // The stream continues elsewhere: nothing held or carried belongs to it any more.
    clearStream();
    TMMDSPComponent::Reset();
}

bool TMMADPCMConverter::decode(uint32_t bytes, bool atEnd) {
    decodedBytes_ = readPosition_ = 0;
    uint32_t used = 0;
    if (kind_ == Kind::ImaStyle) {
        // A stereo frame is one byte, a mono byte two samples: any byte count decodes.
        decodedBytes_ = ImaStyleDecode(family_, channels_, source_.data(), bytes, state_, decoded_.data());
        used = bytes;
    } else {
        const uint32_t block = ms_.blockAlign;
        const uint32_t frameBytes = 2u * ms_.channels;
        while (used < bytes && (bytes - used >= block || atEnd)) {
            const int frames =
                MsAdpcmDecodeBlock(ms_, source_.data() + used, bytes - used, decoded_.data() + decodedBytes_);
            if (frames < 0) {
                decodedBytes_ = 0;
                return false;
            }
            decodedBytes_ += static_cast<uint32_t>(frames) * frameBytes;
            used += std::min(block, bytes - used);
        }
    }
    carried_ = bytes - used;
    if (carried_ > 0) std::memmove(source_.data(), source_.data() + used, carried_);
    if (bitLength_ == b8Bit)
        decodedBytes_ = static_cast<uint32_t>(
            PcmConvertBits(16, decoded_.data(), 8, static_cast<int32_t>(decodedBytes_), decoded_.data()));
    return true;
}

int TMMADPCMConverter::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (!active() || !lpWaveHdr) return TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);

    const uint32_t want = lpWaveHdr->dwBufferLength;
    uint32_t filled = 0;
    for (;;) {
        const uint32_t n = std::min(decodedBytes_ - readPosition_, want - filled);
        std::memcpy(lpWaveHdr->lpData + filled, decoded_.data() + readPosition_, n);
        readPosition_ += n;
        filled += n;
        if (filled == want || endOfInput_ || failed_) break;

        TMMAudioBuffer inner = *lpWaveHdr;
        inner.lpData = source_.data() + carried_;
        inner.dwBufferLength = pullBytes_ - carried_;
        inner.dwBytesRecorded = 0;
        bool upstreamMore = false;
        if (TMMDSPComponent* in = Input()) in->BufferLoad(&inner, upstreamMore);
        lpWaveHdr->LoopsLeft = inner.LoopsLeft;
        lpWaveHdr->LoopWrapped = inner.LoopWrapped;
        const uint32_t got = std::min(inner.dwBytesRecorded, pullBytes_ - carried_);
        if (!upstreamMore || got == 0) endOfInput_ = true;
        const uint32_t total = carried_ + got;
        const bool wholeBlock =
            kind_ == Kind::ImaStyle ? total > 0 : total >= static_cast<uint32_t>(ms_.blockAlign);
        if (!decode(total, endOfInput_)) {
            failed_ = true;
            break;
        }
        if (decodedBytes_ == 0 && wholeBlock && !endOfInput_) failed_ = true;
    }
    lpWaveHdr->dwBytesRecorded = filled;
    MoreBuffers = (!endOfInput_ && !failed_) || readPosition_ < decodedBytes_;
    return 0;
}
