#include "dsp/pitch/MMPitch.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "stream/MMErrors.h"
#include "stream/PcmRoutines.h"

TMMPitch::~TMMPitch() { freeBuffer(); }

void TMMPitch::SetEnabled(bool value) {
    enabled_ = value;
    if (value) clearPullState();
}

void TMMPitch::SetPitch(float value) {
    pitch_ = std::clamp(value, -50.0f, 50.0f);
    step_ = static_cast<int32_t>((static_cast<double>(pitch_) + 50.0) * 65536.0 / 100.0 + 32768.0);
}

void TMMPitch::SetPWaveFormat(const WAVEFORMATEX* format) {
    // The pull state keeps two channels of frames at most, like every per-channel component.
    if (format && (!PcmFormatSupported(format) || format->nChannels > 2))
        throw EMMPitchError(MMText::InvalidWaveFormat);
    TMMDSPComponent::SetPWaveFormat(format);
}

void TMMPitch::clearPullState() {
    if (internal_) {
        internal_->dwBytesRecorded = 0;
        internal_->LoopWrapped = 0;
    }
    readPos_ = 0;
    phase_ = 0;
    moreData_ = true;
    ended_ = false;
}

void TMMPitch::freeBuffer() {
    std::free(internal_);
    internal_ = nullptr;
}

void TMMPitch::Opened() {
    if (!internal_) {
        const uint32_t length = static_cast<uint32_t>(std::max<int32_t>(RealBufferSize(GetPWaveFormat(), RequestedBufferSize()), 32));
        internal_ = static_cast<TMMAudioBuffer*>(std::calloc(1, sizeof(TMMAudioBuffer) + 2 * length));
        if (!internal_) throw std::bad_alloc();
        internal_->lpData = AudioBufferData(internal_);
        internal_->dwBufferLength = length;
        clearPullState();
    }
    TMMDSPComponent::Opened();
}

void TMMPitch::Closed() {
    freeBuffer();
    TMMDSPComponent::Closed();
}

void TMMPitch::Started() {
    clearPullState();
    TMMDSPComponent::Started();
}

void TMMPitch::Reset() {
    clearPullState();
    TMMDSPComponent::Reset();
}

int TMMPitch::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    const WAVEFORMATEX* f = GetPWaveFormat();
    const bool pending = internal_ && readPos_ < internal_->dwBytesRecorded;
    if (!enabled_ || !internal_ || !f || f->nBlockAlign == 0 || (step_ == 65536 && !pending))
        return TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    lpWaveHdr->dwBytesRecorded = 0;
    if (!GetInput()) return 0;
    const uint32_t length = internal_->dwBufferLength;
    for (;;) {
        int32_t outLeft = static_cast<int32_t>(lpWaveHdr->dwBufferLength - lpWaveHdr->dwBytesRecorded);
        int32_t inLeft = static_cast<int32_t>(internal_->dwBytesRecorded - readPos_);
        if (inLeft > 0 && outLeft > 0) {
            const int32_t written =
                PcmResampleCopy(f, internal_->lpData + readPos_, lpWaveHdr->lpData + lpWaveHdr->dwBytesRecorded,
                                static_cast<uint32_t>(step_), phase_, outLeft, inLeft);
            lpWaveHdr->dwBytesRecorded += static_cast<uint32_t>(written);
            readPos_ = internal_->dwBytesRecorded - static_cast<uint32_t>(inLeft);
        }
        // Less than one frame of room, or of input, counts as none.
        if (outLeft < f->nBlockAlign || ended_) break;
        internal_->dwBytesRecorded = 0;
        internal_->dwBufferLength = length;
        internal_->LoopEnabled = lpWaveHdr->LoopEnabled;
        if (lpWaveHdr->LoopEnabled) {
            internal_->LoopCount = lpWaveHdr->LoopCount;
            internal_->LoopsLeft = lpWaveHdr->LoopsLeft;
        }
        internal_->LoopWrapped = 0;
        bool more = false;
        TMMDSPComponent::BufferLoad(internal_, more);
        moreData_ = more;
        if (!more || internal_->dwBytesRecorded == 0) ended_ = true;
        if (internal_->LoopWrapped) {
            lpWaveHdr->LoopWrapped = -1;
            lpWaveHdr->LoopsLeft = internal_->LoopsLeft;
        }
        readPos_ = 0;
    }
    MoreBuffers = moreData_ || readPos_ + f->nBlockAlign <= internal_->dwBytesRecorded;
    return 0;
}
