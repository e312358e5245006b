#pragma once
// The wave format record and the conversions between bytes, samples and milliseconds.

#include <cstdint>
#include <cstdlib>
#include <memory>

#pragma pack(push, 1)
// The published 18-byte layout: it is written into RIFF files and handed to codecs unchanged.
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

using PWaveFormatEx = WAVEFORMATEX*;

constexpr uint16_t WAVE_FORMAT_PCM = 1;

struct WaveFormatDeleter {
    void operator()(WAVEFORMATEX* format) const { std::free(format); }
};
// An owned format record of exactly WaveFormatSize bytes (the extra bytes follow the record).
using WaveFormatPtr = std::unique_ptr<WAVEFORMATEX, WaveFormatDeleter>;

// 0 for null, 18 for PCM, 18 + cbSize otherwise.
int WaveFormatSize(const WAVEFORMATEX* format);
// An owned copy of exactly WaveFormatSize bytes; PCM copies get cbSize 0; null stays null.
WaveFormatPtr CopyWaveFormat(const WAVEFORMATEX* format);
// An owned record of `bytes` bytes (at least 18), zero-filled: for formats built field by field.
WaveFormatPtr AllocWaveFormat(int bytes);

WAVEFORMATEX PcmBuildFormat(int bits, int channels, uint32_t rate);
bool PcmFormatSupported(const WAVEFORMATEX* format);
bool IsSameWaveFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

// a * b / c rounded to nearest, halves away from zero; 0 when c is 0.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c);
// a * b / c truncated toward zero, exact for 64-bit operands; 0 when c is 0.
int64_t MulDivTrunc(int64_t a, int64_t b, int64_t c);

// Each conversion returns 0 for a null format or a zero rate.
int32_t BytesToSamples(const WAVEFORMATEX* format, int32_t bytes);
int32_t BytesToMs(const WAVEFORMATEX* format, int32_t bytes);
int32_t SamplesToBytes(const WAVEFORMATEX* format, int32_t samples);
int32_t SamplesToMs(const WAVEFORMATEX* format, int32_t samples);
int32_t MsToSamples(const WAVEFORMATEX* format, int32_t ms);
int32_t MsToBytes(const WAVEFORMATEX* format, int32_t ms);

int64_t BytesToSamples64(const WAVEFORMATEX* format, int64_t bytes);
int64_t SamplesToBytes64(const WAVEFORMATEX* format, int64_t samples);
int64_t SamplesToMs64(const WAVEFORMATEX* format, int64_t samples);
int64_t MsToSamples64(const WAVEFORMATEX* format, int64_t ms);

// Whole frames and at least one; the request as is without a format (or with nBlockAlign 0).
int32_t RealBufferSize(const WAVEFORMATEX* format, int32_t requested);
// Drivers (devices, trigger, ring buffer) never work with buffers below this size.
constexpr int32_t MinDriverBufferSize = 32;

// The value a silent sample has in this format: 128 for 8-bit PCM, 0 otherwise.
uint8_t SilenceValue(const WAVEFORMATEX* format);
