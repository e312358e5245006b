#include "files/converters/ConversionChain.h"

#include <algorithm>
#include <cstring>

namespace {

// More steps than this never lead anywhere useful; it also ends any search that would go round.
constexpr int MaxSteps = 6;
// No step buffer is made larger than this, whatever a format asks for.
constexpr uint32_t LargestStepBuffer = 64u << 20;
// The suggestion record's room, as callers of a codec manager give it.
constexpr uint32_t SuggestionBytes = 1025;

uint32_t openFlags(TMMConvertQuality quality) {
    return quality == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0;
}

bool query(const WAVEFORMATEX* from, const WAVEFORMATEX* to, TMMConvertQuality quality) {
    return acmStreamOpen(nullptr, from, to, ACM_STREAMOPENF_QUERY | openFlags(quality)) == MMSYSERR_NOERROR;
}

struct Suggestion {
    alignas(WAVEFORMATEX) uint8_t bytes[SuggestionBytes] = {};
    WAVEFORMATEX* format() { return reinterpret_cast<WAVEFORMATEX*>(bytes); }
};

// The next hop from `current` towards `destination`, or null when there is none.
WaveFormatPtr nextHop(const WAVEFORMATEX* current, const WAVEFORMATEX* destination,
                      TMMConvertQuality quality) {
    if (query(current, destination, quality)) return CopyWaveFormat(destination);
    Suggestion s;
    WAVEFORMATEX* i = s.format();
    if (current->wFormatTag == WAVE_FORMAT_PCM) {
        if (current->nChannels == destination->nChannels &&
            current->nSamplesPerSec == destination->nSamplesPerSec)
            return nullptr;
        i->nChannels = destination->nChannels;
        i->nSamplesPerSec = destination->nSamplesPerSec;
        constexpr uint32_t shape = ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
        if (acmFormatSuggest(current, i, SuggestionBytes, shape) != MMSYSERR_NOERROR) return nullptr;
        if (!query(i, destination, quality)) {
            i->wBitsPerSample = i->wBitsPerSample == 16 ? 8 : 16;
            if (acmFormatSuggest(current, i, SuggestionBytes, shape | ACM_FORMATSUGGESTF_WBITSPERSAMPLE) !=
                MMSYSERR_NOERROR)
                return nullptr;
        }
    } else {
        i->wFormatTag = WAVE_FORMAT_PCM;
        i->nChannels = destination->nChannels;
        i->nSamplesPerSec = destination->nSamplesPerSec;
        constexpr uint32_t all =
            ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
        if (acmFormatSuggest(current, i, SuggestionBytes, all) != MMSYSERR_NOERROR) {
            std::memset(s.bytes, 0, sizeof s.bytes);
            i->wFormatTag = WAVE_FORMAT_PCM;
            if (acmFormatSuggest(current, i, SuggestionBytes, ACM_FORMATSUGGESTF_WFORMATTAG) !=
                MMSYSERR_NOERROR)
                return nullptr;
        }
    }
    if (!query(current, i, quality)) return nullptr;
    return CopyWaveFormat(i);
}

// The formats after the source, ending with the destination; empty when there is no way.
std::vector<WaveFormatPtr> findPath(const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                                    TMMConvertQuality quality) {
    std::vector<WaveFormatPtr> path;
    const WAVEFORMATEX* current = source;
    while (static_cast<int>(path.size()) < MaxSteps) {
        WaveFormatPtr hop = nextHop(current, destination, quality);
        if (!hop) break;
        const bool arrived = !FormatsDiffer(hop.get(), destination);
        path.push_back(std::move(hop));
        if (arrived) return path;
        current = path.back().get();
    }
    return {};
}

uint32_t blockOf(const WAVEFORMATEX* f) {
    return std::max<uint32_t>(1, f->nBlockAlign);
}

// Runs one call over every step; `flags` is BLOCKALIGN or END.
int32_t runSteps(TConversionChain& chain, uint32_t bytes, uint32_t flags) {
    chain.OutputBytes = chain.ReadPosition = 0;
    chain.Pending = chain.Drained = false;
    if (chain.Failed || chain.Steps.empty()) return chain.Failed ? -1 : 0;
    uint32_t input = std::min(bytes, ConversionInputRoom(chain));
    for (size_t k = 0; k < chain.Steps.size(); ++k) {
        TConversionStep& step = *chain.Steps[k];
        const uint32_t total = step.Carried + input;
        if (total > step.Source.size()) {
            chain.Failed = true;
            return -1;
        }
        ACMSTREAMHEADER& h = step.Header;
        h.cbSrcLength = total;
        h.cbDstLength = static_cast<uint32_t>(step.Destination.size());
        h.cbSrcLengthUsed = h.cbDstLengthUsed = 0;
        // The service converts synchronously; a refusal is reported at once.
        if (acmStreamConvert(step.Stream, &h, flags) != MMSYSERR_NOERROR ||
            !(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE)) {
            chain.Failed = true;
            return -1;
        }
        step.SourceUsed = std::min(h.cbSrcLengthUsed, total);
        step.DestinationUsed = std::min(h.cbDstLengthUsed, h.cbDstLength);
        const uint32_t left = total - step.SourceUsed;
        if (left > 0) std::memmove(step.Source.data(), step.Source.data() + step.SourceUsed, left);
        step.Carried = left;
        if (left > 0) chain.Pending = true;
        if (step.SourceUsed > 0 && step.DestinationUsed == 0) chain.Drained = true;
        input = step.DestinationUsed;
        if (k + 1 < chain.Steps.size()) {
            TConversionStep& next = *chain.Steps[k + 1];
            if (next.Carried + input > next.Source.size()) {
                chain.Failed = true;
                return -1;
            }
            std::memcpy(next.Source.data() + next.Carried, step.Destination.data(), input);
        }
    }
    chain.OutputBytes = input;
    return static_cast<int32_t>(input);
}

} // namespace

TConversionStep::~TConversionStep() {
    if (Prepared) acmStreamUnprepareHeader(Stream, &Header, 0);
    if (Stream) acmStreamClose(Stream, 0);
}

bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    if (!a || !b) return false;
    return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample ||
           a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

WaveFormatPtr PcmEquivalent(const WAVEFORMATEX* format) {
    if (!format) return nullptr;
    if (format->wFormatTag == WAVE_FORMAT_PCM) return CopyWaveFormat(format);
    if (!CodecServiceReady()) return nullptr;
    Suggestion s;
    s.format()->wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(format, s.format(), SuggestionBytes, ACM_FORMATSUGGESTF_WFORMATTAG) !=
        MMSYSERR_NOERROR)
        return nullptr;
    if (!query(format, s.format(), cqLow)) return nullptr;
    return CopyWaveFormat(s.format());
}

bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* destination, TMMConvertQuality quality) {
    if (!CodecServiceReady() || !source || !destination) return false;
    if (!FormatsDiffer(source, destination)) return true;
    return !findPath(source, destination, quality).empty();
}

PConversionChain CreateConversion(const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                                  TMMConvertQuality quality, uint32_t chunkBytes) {
    if (!CodecServiceReady() || !source || !destination || !FormatsDiffer(source, destination))
        return nullptr;
    auto path = findPath(source, destination, quality);
    if (path.empty()) return nullptr;

    auto chain = std::make_unique<TConversionChain>();
    chain->Source = CopyWaveFormat(source);
    chain->Destination = CopyWaveFormat(destination);
    const uint32_t block = blockOf(source);
    chain->ChunkSize = std::max(block, chunkBytes / block * block);

    const WAVEFORMATEX* from = source;
    uint32_t incoming = chain->ChunkSize; // the most new bytes a step receives per call
    for (auto& to : path) {
        auto step = std::make_unique<TConversionStep>();
        step->SourceFormat = CopyWaveFormat(from);
        step->DestinationFormat = std::move(to);
        if (acmStreamOpen(&step->Stream, from, step->DestinationFormat.get(), openFlags(quality)) !=
            MMSYSERR_NOERROR)
            return nullptr;
        // Room for the carried part block ahead of a full input; the first step's buffer is also
        // where the caller writes, so it gets generous room.
        const uint64_t carried = blockOf(from) - 1;
        const uint64_t wanted = chain->Steps.empty()
                                    ? std::max<uint64_t>(uint64_t{4} * chain->ChunkSize, incoming + carried)
                                    : incoming + carried;
        if (wanted > LargestStepBuffer) return nullptr;
        const auto sourceBytes = static_cast<uint32_t>(wanted);
        uint32_t destinationBytes = 0;
        if (acmStreamSize(step->Stream, static_cast<uint32_t>(incoming + carried), &destinationBytes,
                          ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR ||
            destinationBytes == 0 || destinationBytes > LargestStepBuffer)
            return nullptr;
        step->Source.assign(sourceBytes, 0);
        step->Destination.assign(destinationBytes, 0);
        ACMSTREAMHEADER& h = step->Header;
        h.cbStruct = sizeof(ACMSTREAMHEADER);
        h.pbSrc = step->Source.data();
        h.cbSrcLength = sourceBytes;
        h.pbDst = step->Destination.data();
        h.cbDstLength = destinationBytes;
        if (acmStreamPrepareHeader(step->Stream, &h, 0) != MMSYSERR_NOERROR) return nullptr;
        step->Prepared = true;
        incoming = destinationBytes;
        from = step->DestinationFormat.get();
        chain->Steps.push_back(std::move(step));
    }
    return chain;
}

uint8_t* ConversionInput(TConversionChain& chain) {
    if (chain.Steps.empty()) return nullptr;
    TConversionStep& first = *chain.Steps.front();
    return first.Source.data() + first.Carried;
}

uint32_t ConversionInputRoom(const TConversionChain& chain) {
    if (chain.Steps.empty()) return 0;
    const TConversionStep& first = *chain.Steps.front();
    return std::min<uint32_t>(chain.ChunkSize, static_cast<uint32_t>(first.Source.size()) - first.Carried);
}

const uint8_t* ConversionOutput(const TConversionChain& chain) {
    return chain.Steps.empty() ? nullptr : chain.Steps.back()->Destination.data();
}

int32_t ConvertChunk(TConversionChain& chain, uint32_t bytes) {
    return runSteps(chain, bytes, ACM_STREAMCONVERTF_BLOCKALIGN);
}

int32_t DrainConversion(TConversionChain& chain, uint32_t bytes) {
    return runSteps(chain, bytes, ACM_STREAMCONVERTF_END);
}

void ResetConversion(TConversionChain& chain) {
    for (auto& step : chain.Steps) {
        step->Carried = 0;
        ACMSTREAMHEADER& h = step->Header;
        h.cbSrcLength = 0;
        h.cbDstLength = static_cast<uint32_t>(step->Destination.size());
        acmStreamConvert(step->Stream, &h, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
    }
    chain.OutputBytes = chain.ReadPosition = 0;
    chain.Pending = chain.Drained = chain.Failed = false;
}

void FreeConversion(PConversionChain& chain) {
    chain.reset();
}
