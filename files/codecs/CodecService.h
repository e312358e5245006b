#pragma once
// The codec service: format conversion between wave formats, answered by our own in-process driver
// table (PCM shape and width, A-law, mu-law, IMA ADPCM, Microsoft ADPCM, GSM 6.10).
//
// The calls keep the shape callers of a codec manager expect: streams are opened between two
// formats (or only queried), sized, given prepared headers and converted; suggestions complete a
// partly filled destination into a format reachable from a source; tags and formats have display
// texts. There are no driver handles, filters or callbacks. Conversions run synchronously: a header
// is DONE when acmStreamConvert returns, and a failing call returns its error without touching the
// DONE bit, so nobody ever waits on it.
//
// Threads: every call may be made from any thread; one stream is used by one thread at a time.

#include <cstdint>

#include "stream/WaveFormat.h"

using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

constexpr uint32_t ACM_STREAMOPENF_QUERY = 0x1;
constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 0x4;

constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x10000;
constexpr uint32_t ACM_FORMATSUGGESTF_NCHANNELS = 0x20000;
constexpr uint32_t ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x40000;
constexpr uint32_t ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x80000;

constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x0;
constexpr uint32_t ACM_STREAMSIZEF_DESTINATION = 0x1;

constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x4;
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x10;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x20;

constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x10000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x20000;

constexpr uint32_t ACM_FORMATTAGDETAILSF_FORMATTAG = 0x1;
constexpr uint32_t ACM_FORMATDETAILSF_FORMAT = 0x1;

constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x1;
constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x2;

// Version 2.00: the high word is major.minor.
constexpr uint32_t CodecServiceVersion = 0x02000000;

struct CodecStreamHandle;
using HACMSTREAM = CodecStreamHandle*;

struct ACMSTREAMHEADER {
    uint32_t cbStruct;
    uint32_t fdwStatus;
    uintptr_t dwUser;
    uint8_t* pbSrc;
    uint32_t cbSrcLength;
    uint32_t cbSrcLengthUsed;
    uintptr_t dwSrcUser;
    uint8_t* pbDst;
    uint32_t cbDstLength;
    uint32_t cbDstLengthUsed;
    uintptr_t dwDstUser;
    // What the header was prepared with; a converted header must not exceed it.
    uint8_t* preparedSrc;
    uint32_t preparedSrcLength;
    uint8_t* preparedDst;
    uint32_t preparedDstLength;
};

constexpr int ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;
constexpr int ACMFORMATDETAILS_FORMAT_CHARS = 128;

struct ACMFORMATTAGDETAILSA {
    uint32_t cbStruct;
    uint32_t dwFormatTagIndex;
    uint32_t dwFormatTag;
    uint32_t cbFormatSize;
    uint32_t fdwSupport;
    uint32_t cFormatDetails;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};
static_assert(sizeof(ACMFORMATTAGDETAILSA) == 72);

struct ACMFORMATDETAILSA {
    uint32_t cbStruct;
    uint32_t dwFormatIndex;
    uint32_t dwFormatTag;
    uint32_t fdwSupport;
    WAVEFORMATEX* pwfx;
    uint32_t cbwfx;
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
};

// The service's version; 0 while the service is absent.
uint32_t acmGetVersion();

// Completes `destination` (at least 18 bytes; more when the suggested format carries extra bytes)
// into a format a stream from `source` can reach. The fields named by the flags are kept as
// preset; the others are chosen from the source.
MMRESULT acmFormatSuggest(const WAVEFORMATEX* source, WAVEFORMATEX* destination, uint32_t destinationBytes,
                          uint32_t flags);

// Opens a stream (`stream` receives it), or with ACM_STREAMOPENF_QUERY only answers whether one could
// be opened (`stream` may be null then). NONREALTIME asks for the better, slower conversion.
MMRESULT acmStreamOpen(HACMSTREAM* stream, const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                       uint32_t flags);
MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags);

// SOURCE: the destination bytes `input` source bytes can produce at most. DESTINATION: the source
// bytes that produce at most `input` destination bytes.
MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags);

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);

// Converts cbSrcLength bytes into at most cbDstLength bytes and reports both used lengths.
// BLOCKALIGN converts whole source blocks only (the rest stays unused), END also drains what the
// stream still holds, START forgets the stream's history first.
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);

MMRESULT acmFormatTagDetailsA(ACMFORMATTAGDETAILSA* details, uint32_t flags);
MMRESULT acmFormatDetailsA(ACMFORMATDETAILSA* details, uint32_t flags);

// True when the service is present in version 2.00 or later: every caller tests this first and
// otherwise takes its fallback.
bool CodecServiceReady();

// Makes the service absent (version 0) or reports another version, for as long as the object
// lives: the built-in service cannot be missing otherwise, and callers' fallbacks need testing.
class ScopedCodecServiceVersion {
public:
    explicit ScopedCodecServiceVersion(uint32_t version);
    ~ScopedCodecServiceVersion();
    ScopedCodecServiceVersion(const ScopedCodecServiceVersion&) = delete;
    ScopedCodecServiceVersion& operator=(const ScopedCodecServiceVersion&) = delete;

private:
    uint32_t previous_;
};
