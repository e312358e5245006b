#include "files/codecs/CodecService.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "files/codecs/CodecDriver.h"

struct CodecStreamHandle {
    std::unique_ptr<CodecStream> stream;
};

namespace {

std::atomic<uint32_t> serviceVersion{CodecServiceVersion};

// Open handles, so that a stale or foreign handle is refused instead of followed.
std::mutex handlesLock;
std::unordered_set<HACMSTREAM>& handles() {
    static std::unordered_set<HACMSTREAM> set;
    return set;
}

bool present() {
    return serviceVersion.load() != 0;
}

bool isLive(HACMSTREAM stream) {
    std::lock_guard guard(handlesLock);
    return stream && handles().count(stream) != 0;
}

// A source or destination format must be readable as a whole record.
bool plausible(const WAVEFORMATEX* f) {
    return f && f->nChannels > 0 && f->nSamplesPerSec > 0 && f->nBlockAlign > 0;
}

const CodecDriver* driverFor(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) {
    for (const auto& driver : CodecDriverTable())
        if (driver->Supports(source, destination)) return driver.get();
    return nullptr;
}

void copyText(char* into, size_t size, const std::string& text) {
    const size_t n = std::min(size - 1, text.size());
    std::memcpy(into, text.data(), n);
    into[n] = '\0';
}

} // namespace

uint32_t acmGetVersion() {
    return serviceVersion.load();
}

bool CodecServiceReady() {
    return (acmGetVersion() >> 16) >= 0x0200;
}

ScopedCodecServiceVersion::ScopedCodecServiceVersion(uint32_t version)
    : previous_(serviceVersion.exchange(version)) {}
ScopedCodecServiceVersion::~ScopedCodecServiceVersion() {
    serviceVersion = previous_;
}

MMRESULT acmFormatSuggest(const WAVEFORMATEX* source, WAVEFORMATEX* destination, uint32_t destinationBytes,
                          uint32_t flags) {
    if (!present()) return MMSYSERR_ERROR;
    constexpr uint32_t known = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                               ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
    if (flags & ~known) return MMSYSERR_INVALFLAG;
    if (!plausible(source) || !destination || destinationBytes < sizeof(WAVEFORMATEX))
        return MMSYSERR_INVALPARAM;
    // Drivers fill a scratch copy, so a refusing driver leaves nothing behind for the next one.
    for (const auto& driver : CodecDriverTable()) {
        WAVEFORMATEX candidate = *destination;
        if (driver->Suggest(*source, candidate, destinationBytes, flags)) {
            std::memcpy(destination, &candidate, sizeof candidate);
            return MMSYSERR_NOERROR;
        }
    }
    return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                       uint32_t flags) {
    if (stream) *stream = nullptr;
    if (!present()) return MMSYSERR_ERROR;
    if (flags & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME)) return MMSYSERR_INVALFLAG;
    if (!plausible(source) || !plausible(destination)) return MMSYSERR_INVALPARAM;
    const CodecDriver* driver = driverFor(*source, *destination);
    if (!driver) return ACMERR_NOTPOSSIBLE;
    if (flags & ACM_STREAMOPENF_QUERY) return MMSYSERR_NOERROR;
    if (!stream) return MMSYSERR_INVALPARAM;
    auto opened = driver->Open(*source, *destination, (flags & ACM_STREAMOPENF_NONREALTIME) != 0);
    if (!opened) return MMSYSERR_NOMEM;
    auto* handle = new CodecStreamHandle{std::move(opened)};
    {
        std::lock_guard guard(handlesLock);
        handles().insert(handle);
    }
    *stream = handle;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags) {
    if (flags != 0) return MMSYSERR_INVALFLAG;
    {
        std::lock_guard guard(handlesLock);
        if (!stream || handles().erase(stream) == 0) return MMSYSERR_INVALHANDLE;
    }
    delete stream;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags) {
    if (!isLive(stream)) return MMSYSERR_INVALHANDLE;
    if (!output) return MMSYSERR_INVALPARAM;
    if (flags == ACM_STREAMSIZEF_SOURCE)
        *output = stream->stream->DestinationBytes(input);
    else if (flags == ACM_STREAMSIZEF_DESTINATION)
        *output = stream->stream->SourceBytes(input);
    else
        return MMSYSERR_INVALFLAG;
    return *output == 0 && input != 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
    if (!isLive(stream)) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER) || !header->pbSrc || !header->pbDst)
        return MMSYSERR_INVALPARAM;
    if (header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return MMSYSERR_NOERROR;
    header->preparedSrc = header->pbSrc;
    header->preparedSrcLength = header->cbSrcLength;
    header->preparedDst = header->pbDst;
    header->preparedDstLength = header->cbDstLength;
    header->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
    if (!isLive(stream)) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    header->preparedSrc = header->preparedDst = nullptr;
    header->preparedSrcLength = header->preparedDstLength = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
    if (!isLive(stream)) return MMSYSERR_INVALHANDLE;
    constexpr uint32_t known =
        ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
    if (flags & ~known) return MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    if (header->pbSrc != header->preparedSrc || header->pbDst != header->preparedDst ||
        header->cbSrcLength > header->preparedSrcLength || header->cbDstLength > header->preparedDstLength)
        return MMSYSERR_INVALPARAM;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    if (flags & ACM_STREAMCONVERTF_START) stream->stream->Reset();
    uint32_t used = 0, produced = 0;
    const bool end = (flags & ACM_STREAMCONVERTF_END) != 0;
    if (!stream->stream->Convert(header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength, end,
                                 used, produced))
        return MMSYSERR_ERROR;
    header->cbSrcLengthUsed = used;
    header->cbDstLengthUsed = produced;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetailsA(ACMFORMATTAGDETAILSA* details, uint32_t flags) {
    if (!present()) return MMSYSERR_ERROR;
    if (flags != ACM_FORMATTAGDETAILSF_FORMATTAG) return MMSYSERR_INVALFLAG;
    if (!details || details->cbStruct < sizeof(ACMFORMATTAGDETAILSA)) return MMSYSERR_INVALPARAM;
    for (const auto& driver : CodecDriverTable())
        for (const auto& info : driver->Tags())
            if (info.tag == details->dwFormatTag) {
                details->dwFormatTagIndex = 0;
                details->cbFormatSize = info.largestFormatBytes;
                details->fdwSupport = info.support;
                details->cFormatDetails = 0;
                copyText(details->szFormatTag, sizeof details->szFormatTag, info.name);
                return MMSYSERR_NOERROR;
            }
    return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmFormatDetailsA(ACMFORMATDETAILSA* details, uint32_t flags) {
    if (!present()) return MMSYSERR_ERROR;
    if (flags != ACM_FORMATDETAILSF_FORMAT) return MMSYSERR_INVALFLAG;
    if (!details || details->cbStruct < sizeof(ACMFORMATDETAILSA) || !details->pwfx ||
        details->cbwfx < sizeof(WAVEFORMATEX))
        return MMSYSERR_INVALPARAM;
    const WAVEFORMATEX& format = *details->pwfx;
    // The record must hold its own extra bytes.
    if (format.wFormatTag != WAVE_FORMAT_PCM && details->cbwfx < sizeof(WAVEFORMATEX) + format.cbSize)
        return MMSYSERR_INVALPARAM;
    for (const auto& driver : CodecDriverTable()) {
        const std::string text = driver->Describe(format);
        if (!text.empty()) {
            details->dwFormatIndex = 0;
            details->dwFormatTag = format.wFormatTag;
            details->fdwSupport = 0;
            copyText(details->szFormat, sizeof details->szFormat, text);
            return MMSYSERR_NOERROR;
        }
    }
    return ACMERR_NOTPOSSIBLE;
}
