#pragma once
// Conversion chains: any destination format reached from a source format through one or more
// codec-service streams, e.g. 44.1 kHz/16/stereo -> 22.05 kHz/16/mono -> 22.05 kHz/8/mono.
//
// Each step owns a source buffer that holds the bytes it kept from the last call (a part block)
// followed by everything the previous step produced, and a destination buffer sized by the
// service for that whole source buffer, so no step ever overruns its neighbour. The caller writes
// new input at ConversionInput and converts it with ConvertChunk; the result lies at
// ConversionOutput.

#include <cstdint>
#include <memory>
#include <vector>

#include "files/codecs/CodecService.h"
#include "stream/WaveFormat.h"

enum TMMConvertQuality { cqHigh, cqLow };

struct TConversionStep {
    TConversionStep() = default;
    TConversionStep(const TConversionStep&) = delete;
    TConversionStep& operator=(const TConversionStep&) = delete;
    ~TConversionStep(); // unprepares the header and closes the stream

    HACMSTREAM Stream = nullptr;
    ACMSTREAMHEADER Header{};
    bool Prepared = false;
    WaveFormatPtr SourceFormat, DestinationFormat;
    std::vector<uint8_t> Source; // carried bytes, then this call's input
    std::vector<uint8_t> Destination;
    uint32_t Carried = 0;                         // bytes at the front of Source kept from the last call
    uint32_t SourceUsed = 0, DestinationUsed = 0; // the header's used lengths of the last call
};

struct TConversionChain {
    std::vector<std::unique_ptr<TConversionStep>> Steps;
    WaveFormatPtr Source, Destination;
    uint32_t ChunkSize = 0;    // the most source bytes one call accepts: whole source blocks
    uint32_t OutputBytes = 0;  // produced by the last call
    uint32_t ReadPosition = 0; // how much of that output the owner has used
    bool Pending = false;      // a step kept source bytes for the next call
    bool Drained = false;      // a step took input and produced nothing (it is filling up)
    bool Failed = false;       // the service refused a call; the chain delivers nothing more
};

using PConversionChain = std::unique_ptr<TConversionChain>;

// True when both formats exist and differ in tag, bits, channels or rate.
bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

// The PCM format a format decodes to: PCM itself unchanged; otherwise the service's suggestion with
// the tag fixed, when a stream to it can be opened. Null without the service or a decoder.
WaveFormatPtr PcmEquivalent(const WAVEFORMATEX* format);

bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* destination, TMMConvertQuality quality);

// Null when the formats do not differ, no chain reaches the destination, or a step cannot be made.
PConversionChain CreateConversion(const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                                  TMMConvertQuality quality, uint32_t chunkBytes);

// Where the caller puts new source bytes before ConvertChunk, and how many fit there (ChunkSize
// unless a step kept unusually much).
uint8_t* ConversionInput(TConversionChain& chain);
uint32_t ConversionInputRoom(const TConversionChain& chain);
const uint8_t* ConversionOutput(const TConversionChain& chain);

// Converts `bytes` new source bytes (limited to ConversionInputRoom). Returns the bytes produced, or -1 when
// the service refused a call (Failed is set then).
int32_t ConvertChunk(TConversionChain& chain, uint32_t bytes);
// The same, also draining what every step still holds: for the end of the stream.
int32_t DrainConversion(TConversionChain& chain, uint32_t bytes);
// Forgets all carried bytes and every step's history.
void ResetConversion(TConversionChain& chain);
void FreeConversion(PConversionChain& chain);
