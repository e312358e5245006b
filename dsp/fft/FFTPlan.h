#pragma once
// The complex transform of a power-of-two length over interleaved float pairs, in place.
//
// A plan is immutable once made and holds no per-call state, but one plan serves one transform
// at a time: callers that share a plan between threads serialise their calls.

#include <cstdint>
#include <span>
#include <vector>

#include "dsp/fft/FFTKernels.h"

struct TFFTPlan {
    int32_t Bits = 0;                 // log2 of the length, 1 .. 30
    int32_t Length = 0;               // N
    float InvLength = 0.0f;           // 1/N
    std::vector<int32_t> BitRev;      // N entries
    std::vector<FFTTwiddle> Twiddles; // N/4 records, k = 1 .. N/4, theta = 2pi/N
};

// A new plan owned by the caller (free it with FreeFFTPlan or a std::unique_ptr), or null when
// bits is outside 1 .. 30 or memory is short.
TFFTPlan* CreateFFTPlan(int32_t bits);
// Frees the plan and clears the pointer; nothing for a null pointer.
void FreeFFTPlan(TFFTPlan*& plan);

// Transforms plan->Length complex values in place, result in natural order.
//   direction -1: inverse, x[n] = 1/N sum X[k] e^(+2pi ikn/N)
//   direction +1 (any value >= 0): forward, unscaled, X[k] = sum x[n] e^(-2pi ikn/N)
//   direction -2 (any other negative value): forward, scaled by 1/N
// Does nothing without a plan or when data holds fewer than 2N floats.
void DoFFT(const TFFTPlan* plan, std::span<float> data, int32_t direction);
// The same through the given kernel table rather than FFTKernels(), to hold one table against another.
void DoFFT(const FFTKernelTable& kernels, const TFFTPlan* plan, std::span<float> data, int32_t direction);
