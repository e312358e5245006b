#include "files/converters/MMACMConverter.h"

#include <algorithm>
#include <cstring>

#include "stream/MMErrors.h"

namespace {

constexpr const char* UnableToConvert = "Unable to convert to destination format";
// A pull may meet this many conversions in a row that yield nothing before it gives up.
constexpr int EmptyConversionsAllowed = 5;

// A header for an inner call that carries the caller's looping fields.
TMMAudioBuffer innerHeader(const TMMAudioBuffer* outer, uint8_t* data, uint32_t length) {
    TMMAudioBuffer h{};
    if (outer) h = *outer;
    h.lpData = data;
    h.dwBufferLength = length;
    h.dwBytesRecorded = 0;
    return h;
}

void returnLoopFields(TMMAudioBuffer* outer, const TMMAudioBuffer& inner) {
    outer->LoopsLeft = inner.LoopsLeft;
    outer->LoopWrapped = inner.LoopWrapped;
}

} // namespace

TMMACMConverter::TMMACMConverter() = default;

TMMACMConverter::~TMMACMConverter() {
    FreeConversion(chain_);
}

void TMMACMConverter::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateConversion();
}

void TMMACMConverter::SetQuality(TMMConvertQuality value) {
    if (value == quality_) return;
    quality_ = value;
    UpdateConversion();
}

void TMMACMConverter::SetOutputFormat(const WAVEFORMATEX* format) {
    output_ = CopyWaveFormat(format);
    UpdateConversion();
}

void TMMACMConverter::InputFormatChanged(const WAVEFORMATEX* format) {
    input_ = CopyWaveFormat(format);
    UpdateConversion();
}

WaveFormatPtr TMMACMConverter::ComputeDestination() const {
    return enabled_ ? CopyWaveFormat(output_.get()) : nullptr;
}

void TMMACMConverter::UpdateConversion() {
    destination_ = ComputeDestination();
    needsConversion_ =
        FormatsDiffer(input_.get(), destination_.get()) || (input_ && !destination_ && InputMustConvert());
    canConvert_ =
        needsConversion_ && destination_ && ::CanConvert(input_.get(), destination_.get(), quality_);
    SetPWaveFormat(canConvert_ ? destination_.get() : input_.get());
}

void TMMACMConverter::Opened() {
    if (opened_) return;
    if (enabled_ && needsConversion_) {
        if (!canConvert_) throw EMMConverterError(UnableToConvert);
        chunk_ = static_cast<uint32_t>(std::min<int32_t>(8192, std::max<int32_t>(BufferSize(), 65536)));
        chain_ = CreateConversion(input_.get(), destination_.get(), quality_, chunk_);
        if (!chain_) throw EMMConverterError(UnableToConvert);
        chunk_ = chain_->ChunkSize;
    }
    TMMDSPComponent::Opened();
    if (chain_) pushBlock_.assign(sizeof(TMMAudioBuffer) + std::max<int32_t>(1, BufferSize()), 0);
}

void TMMACMConverter::Closed() {
    Stopped();
    FreeConversion(chain_);
    pushBlock_.clear();
    pushBlock_.shrink_to_fit();
    TMMDSPComponent::Closed();
}

void TMMACMConverter::Started() {
    TMMDSPComponent::Started();
    endOfInput_ = drainedOnce_ = false;
}

void TMMACMConverter::Stopped() {
    if (chain_) chain_->ReadPosition = chain_->OutputBytes;
    TMMDSPComponent::Stopped();
}

void TMMACMConverter::Reset() {
    if (chain_) ResetConversion(*chain_);
    endOfInput_ = drainedOnce_ = false;
    TMMDSPComponent::Reset();
}

void TMMACMConverter::BufferReady(PWaveHdr lpWaveHdr) {
    if (!opened_ || !started_ || !converting() || !lpWaveHdr) {
        TMMDSPComponent::BufferReady(lpWaveHdr);
        return;
    }
    auto* out = reinterpret_cast<TMMAudioBuffer*>(pushBlock_.data());
    const uint32_t piece = static_cast<uint32_t>(pushBlock_.size() - sizeof(TMMAudioBuffer));
    const uint8_t* in = lpWaveHdr->lpData;
    uint32_t left = lpWaveHdr->dwBytesRecorded;
    while (left > 0) {
        const uint32_t portion = std::min(left, ConversionInputRoom(*chain_));
        if (portion == 0) throw EMMConverterError(UnableToConvert);
        std::memcpy(ConversionInput(*chain_), in, portion);
        in += portion;
        left -= portion;
        const int32_t produced = ConvertChunk(*chain_, portion);
        if (produced < 0 || (produced == 0 && !chain_->Pending && !chain_->Drained))
            throw EMMConverterError(UnableToConvert);
        const uint8_t* result = ConversionOutput(*chain_);
        for (uint32_t sent = 0; sent < static_cast<uint32_t>(produced);) {
            const uint32_t n = std::min(piece, static_cast<uint32_t>(produced) - sent);
            *out = innerHeader(lpWaveHdr, AudioBufferData(out), piece);
            std::memcpy(out->lpData, result + sent, n);
            out->dwBytesRecorded = n;
            TMMDSPComponent::BufferReady(out);
            sent += n;
        }
        chain_->ReadPosition = chain_->OutputBytes;
    }
}

int TMMACMConverter::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (!opened_ || !started_ || !converting() || !lpWaveHdr)
        return TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);

    TConversionChain& chain = *chain_;
    const uint32_t want = lpWaveHdr->dwBufferLength;
    uint32_t filled = 0;
    auto take = [&] {
        const uint32_t n = std::min(chain.OutputBytes - chain.ReadPosition, want - filled);
        if (n == 0) return;
        std::memcpy(lpWaveHdr->lpData + filled, ConversionOutput(chain) + chain.ReadPosition, n);
        chain.ReadPosition += n;
        filled += n;
    };

    take();
    int empty = 0;
    while (filled < want && !endOfInput_) {
        const uint32_t room = ConversionInputRoom(chain);
        TMMAudioBuffer inner = innerHeader(lpWaveHdr, ConversionInput(chain), room);
        bool upstreamMore = false;
        if (TMMDSPComponent* in = Input()) in->BufferLoad(&inner, upstreamMore);
        returnLoopFields(lpWaveHdr, inner);
        const uint32_t got = std::min(inner.dwBytesRecorded, room);
        if (!upstreamMore || got == 0) endOfInput_ = true;
        if (got == 0) break;
        const int32_t produced = ConvertChunk(chain, got);
        if (produced < 0) throw EMMConverterError(UnableToConvert);
        if (produced == 0) {
            if (++empty >= EmptyConversionsAllowed) throw EMMConverterError(UnableToConvert);
            continue;
        }
        empty = 0;
        take();
    }
    if (filled < want && endOfInput_ && !drainedOnce_ && chain.ReadPosition >= chain.OutputBytes) {
        drainedOnce_ = true;
        if (DrainConversion(chain, 0) < 0) throw EMMConverterError(UnableToConvert);
        take();
    }
    lpWaveHdr->dwBytesRecorded = filled;
    MoreBuffers = !endOfInput_ || chain.ReadPosition < chain.OutputBytes || chain.Pending ||
                  (endOfInput_ && !drainedOnce_);
    return 0;
}
