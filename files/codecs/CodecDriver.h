#pragma once
// One entry of the codec service's driver table: the formats it names and the streams it opens.
//
// A driver converts between its own tag and PCM (or, for the PCM driver, between PCM shapes). Adding
// a codec is adding a driver file and one line in CodecDriverTable.cpp.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream/WaveFormat.h"

// A running conversion. Convert never allocates: everything it needs is made when it is opened.
class CodecStream {
public:
    virtual ~CodecStream() = default;
    // The destination bytes `sourceBytes` can produce in one call, drain included.
    virtual uint32_t DestinationBytes(uint32_t sourceBytes) const = 0;
    // The source bytes whose output fits in `destinationBytes`.
    virtual uint32_t SourceBytes(uint32_t destinationBytes) const = 0;
    // Converts whole source blocks while they fit; with `end` the stream also drains what it holds
    // (a trailing part block included where the codec can decode one). Returns false on failure.
    virtual bool Convert(const uint8_t* source, uint32_t sourceBytes, uint8_t* destination,
                         uint32_t destinationBytes, bool end, uint32_t& sourceUsed,
                         uint32_t& destinationUsed) = 0;
    // Forgets all history, as at opening.
    virtual void Reset() = 0;
};

struct CodecTagInfo {
    uint16_t tag;
    const char* name;
    uint32_t largestFormatBytes; // the largest format record of this tag the driver handles
    uint32_t support;            // ACMDRIVERDETAILS_SUPPORTF_*
};

class CodecDriver {
public:
    virtual ~CodecDriver() = default;
    virtual std::vector<CodecTagInfo> Tags() const = 0;
    // Whether a stream source -> destination can be opened.
    virtual bool Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const = 0;
    // Completes `destination` (room for `destinationBytes`) keeping the fields `flags` fixes;
    // false when this driver reaches no such format from `source`.
    virtual bool Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t destinationBytes,
                         uint32_t flags) const = 0;
    // Only called after Supports said yes.
    virtual std::unique_ptr<CodecStream> Open(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
                                              bool highQuality) const = 0;
    // The display text of a format of one of this driver's tags; empty when it is not one it handles.
    virtual std::string Describe(const WAVEFORMATEX& format) const = 0;
};

// The drivers in the order they are asked.
const std::vector<std::unique_ptr<CodecDriver>>& CodecDriverTable();
