#pragma once
// Conversions between the 16-bit samples of the plug-in interface and the float blocks the DSP
// works on. Full scale is 32768, so every 16-bit value converts there and back exactly.

#include <algorithm>
#include <cmath>
#include <cstdint>

constexpr float Pcm16Scale = 32768.0f;
constexpr float Pcm16ToFloat = 1.0f / 32768.0f;

// Rounds to the nearest step and saturates at +-limit (at most 32767). A NaN, which no block
// should ever produce, becomes silence rather than undefined behaviour.
inline int16_t FloatToPcm16(float value, float limit) {
    const float x = value == value ? value * Pcm16Scale : 0.0f;
    const float scaled = std::clamp(x, -limit, limit);
    return static_cast<int16_t>(static_cast<int32_t>(scaled + std::copysign(0.5f, scaled)));
}
