#pragma once
// Microsoft ADPCM (tag 2): self-contained blocks, per channel a predictor index, a 16-bit delta and
// two 16-bit starting samples, then 4-bit codes high nibble first with the channels interleaved.

#include <cstdint>

#include "stream/WaveFormat.h"

constexpr uint16_t WAVE_FORMAT_ADPCM = 0x2;

// The standard seven coefficient pairs and the delta adaptation table.
extern const int16_t MsAdpcmStandardCoefficients[7][2];
extern const int16_t MsAdpcmAdaptation[16];

struct MsAdpcmLayout {
    int channels = 0;
    int blockAlign = 0;
    int samplesPerBlock = 0;
    int coefficientCount = 0;
    int16_t coefficients[256][2] = {};
    bool standardCoefficients = false; // exactly the seven standard pairs
};

// Accepts 4-bit formats of 1 to 8 channels whose extra bytes hold wSamplesPerBlock (at least 2 and
// fitting the block after its header) and 1 to 256 coefficient pairs.
bool ParseMsAdpcmFormat(const WAVEFORMATEX& format, MsAdpcmLayout& layout);

// Decodes one block; `bytes` may fall short of blockAlign at the end of a stream, and decoding then
// stops where the input ends. A block whose header does not fit gives 0 frames. Returns the frames
// written as 16-bit interleaved samples, or -1 when a predictor index is not below the
// coefficient count.
int MsAdpcmDecodeBlock(const MsAdpcmLayout& layout, const uint8_t* block, uint32_t bytes, uint8_t* output);
