#pragma once
// IMA ADPCM (tag 0x11) as stored in WAVE files: self-contained blocks, per channel a 4-byte header
// (first sample, step index, a reserved byte) and then 4-byte groups of eight 4-bit codes per
// channel in turn, low nibble first.

#include <cstdint>

#include "stream/WaveFormat.h"

constexpr uint16_t WAVE_FORMAT_IMA_ADPCM = 0x11;

// The 89 step sizes and the step-index changes of the IMA ADPCM algorithm, shared with the other
// IMA-style decoders.
extern const int16_t ImaStepTable[89];
extern const int8_t ImaIndexTable[16];

struct ImaAdpcmLayout {
    int channels = 0;
    int blockAlign = 0;
    int samplesPerBlock = 0;
};

// Accepts 4-bit formats of 1 to 8 channels whose blocks hold their header and whose
// wSamplesPerBlock (when given) is at least 2 and fits the block.
bool ParseImaAdpcmFormat(const WAVEFORMATEX& format, ImaAdpcmLayout& layout);

// Decodes one block (`bytes` may fall short of blockAlign at the end of a stream: the whole
// groups present are decoded) into 16-bit interleaved frames. Returns the frames written.
int ImaAdpcmDecodeBlock(const ImaAdpcmLayout& layout, const uint8_t* block, uint32_t bytes, uint8_t* output);
