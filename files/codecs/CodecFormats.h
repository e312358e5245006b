#pragma once
// Format checks, suggestions and display texts the codec drivers share.

#include <cstdint>
#include <string>

#include "stream/WaveFormat.h"

struct PcmShape {
    int bits = 0;
    int channels = 0;
    uint32_t rate = 0;
    int blockAlign = 0;
};

// Integer PCM of 8, 16, 24 or 32 bits, 1 to 8 channels, 1 Hz to 1 MHz, with the block alignment
// its bits and channels imply (a record that says otherwise describes another data layout).
bool ParsePcmFormat(const WAVEFORMATEX& format, PcmShape& shape);

// The suggestion every decoder makes: 16-bit PCM with the source's channels and rate. False when a
// fixed field of the preset destination asks for something else or there is no room for it.
bool SuggestDecodedPcm(const WAVEFORMATEX& source, WAVEFORMATEX& destination, uint32_t destinationBytes,
                       uint32_t flags);
// Whether `destination` is the 16-bit PCM a decoder of `source` produces.
bool IsDecodedPcm(const WAVEFORMATEX& source, const WAVEFORMATEX& destination);

// "44.100 kHz, 16 Bit, Stereo" for PCM; compressed formats add their bit rate
// ("22.050 kHz, 4 Bit, Mono, 89 kBit/s") and leave out a bit count of 0.
std::string DescribeCodecFormat(const WAVEFORMATEX& format);

// The extra bytes that follow the 18-byte record.
inline const uint8_t* FormatExtra(const WAVEFORMATEX& format) {
    return reinterpret_cast<const uint8_t*>(&format) + sizeof(WAVEFORMATEX);
}
