#pragma once
// Plain PCM routines over sample blocks. Reentrant; nothing here allocates, locks or logs.
//
// Gains are fixed point with 14 fraction bits (16384 = unity). 8-bit samples are unsigned with
// silence at 128, 16-bit samples signed. Formats with more than two channels are left untouched.

#include <atomic>
#include <cstdint>

#include "stream/WaveFormat.h"

constexpr int32_t UnityGain = 16384;

// Set by the stand-alone clip functions whenever they saturate; cleared only by its readers.
extern std::atomic<bool> PcmClipped;

int32_t PcmClip8(int32_t value);  // -128..127, measured from 128
int32_t PcmClip16(int32_t value); // -32768..32767
int32_t PcmScaleSample8(int32_t storedByte, int32_t gain); // stored unsigned byte in and out
int32_t PcmScaleSample16(int32_t sample, int32_t gain);

// Returns true when any sample clipped; false (and nothing done) for null or non-PCM formats.
bool PcmScaleVolume(const WAVEFORMATEX* format, uint8_t* data, int32_t bytes, int32_t leftGain,
                    int32_t rightGain);

// Mixes `count` 16-bit stereo blocks of `bytes` bytes each into `output`. `accumulator`, when not
// null, receives the raw 32-bit sums (two per frame). Returns true when anything clipped.
bool PcmMixStereo16(int32_t bytes, const int16_t* const* sources, int count, int32_t leftGain,
                    int32_t rightGain, int32_t* accumulator, int16_t* output);

// 8 <-> 16 bit; equal widths copy. Returns the number of output bytes.
int32_t PcmConvertBits(int sourceBits, uint8_t* output, int outputBits, int32_t bytes,
                       const uint8_t* source);

// Per channel the sample of largest magnitude, as stored; the first wins on ties; silence when
// no sample is above magnitude 0. Mono reports the same value twice.
void PcmFindPeak(const WAVEFORMATEX* format, const uint8_t* data, int32_t bytes, int32_t& left,
                 int32_t& right);

struct PcmMinMaxPair {
    int32_t first = 0;  // whichever of min and max comes first in the block
    int32_t second = 0;
};
// Per channel the minimum and the maximum sample (as stored), in order of occurrence.
void PcmFindMinMax(const WAVEFORMATEX* format, const uint8_t* data, int32_t bytes, PcmMinMaxPair& left,
                   PcmMinMaxPair& right);

// Copies whole frames while a 16.16 position advances by `step` per output frame. Updates the
// fraction and both byte counts; returns the output bytes written. Never reads past the input.
int32_t PcmResampleCopy(const WAVEFORMATEX* format, const uint8_t* source, uint8_t* output, uint32_t step,
                        uint32_t& fraction, int32_t& outputBytesLeft, int32_t& inputBytesLeft);
