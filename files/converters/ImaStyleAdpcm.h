#pragma once
// The headerless IMA-style ADPCM streams the ADPCM converter decodes itself: tag 3 (a 16-bit
// predictor that wraps around, with its own step table) and tags 0x0033 and 0x0206 (a saturated
// predictor, steps from the IMA step table). Every byte holds two 4-bit codes: mono decodes the
// high nibble first, stereo takes the low nibble for the left channel and the high one for the
// right, so one byte is one stereo frame.

#include <cstdint>

enum class ImaStyleFamily { Wrapping, Saturating };

// The state a stream carries from call to call, zeroed at every start.
struct TMMADPCMState {
    int32_t Predictor[2];
    int16_t Index[2];
};
static_assert(sizeof(TMMADPCMState) == 12);

// The family of an accepted tag (3, 0x33, 0x206).
bool ImaStyleFamilyOf(uint16_t tag, ImaStyleFamily& family);

// Decodes `bytes` input bytes of a 1- or 2-channel stream into 16-bit samples; returns the output
// bytes (4 per input byte).
uint32_t ImaStyleDecode(ImaStyleFamily family, int channels, const uint8_t* input, uint32_t bytes,
                        TMMADPCMState& state, uint8_t* output);

// The difference table entry of step index `index` (0..88) and magnitude code `m` (0..7).
int16_t ImaStyleDifference(ImaStyleFamily family, int index, int m);
