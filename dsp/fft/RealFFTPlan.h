#pragma once
// The forward transform of N real samples through a complex transform of N/2 points.
//
// Packed result, in place: data[0] = DC, data[1] = 0, and data[2k], data[2k + 1] the real and
// imaginary parts of X[k] = sum x[n] e^(-2pi ikn/N) for k = 1 .. N/2 - 1. The Nyquist term is
// dropped, which is why there is no inverse: the packing cannot rebuild the input.

#include <cstdint>
#include <span>
#include <vector>

#include "dsp/fft/FFTKernels.h"
#include "dsp/fft/FFTTables.h"

struct TRealFFTPlan {
    int32_t Bits = 0;                      // log2 N, 1 .. 30
    int32_t Length = 0;                    // N real samples
    float InvLength = 0.0f;                // 1/N
    std::vector<int32_t> BitRev;           // N/2 entries, Bits - 1 bits
    std::vector<FFTTwiddle> Twiddles;      // N/8 records of the N/2-point complex transform
    std::vector<RealFFTSplitFactor> Split; // N/4 records, k = 1 .. N/4, phi = 2pi/N
};

// A new plan owned by the caller, or null when bits is outside 1 .. 30 or memory is short.
TRealFFTPlan* CreateRealFFTPlan(int32_t bits);
// Frees the plan and clears the pointer; nothing for a null pointer.
void FreeRealFFTPlan(TRealFFTPlan*& plan);

// Forward transform of plan->Length floats in place, unscaled, packed as above. Every direction
// gives the forward transform. Does nothing without a plan or when data holds fewer than N floats.
void DoRealFFT(const TRealFFTPlan* plan, std::span<float> data, int32_t direction);
// The same through the given kernel table rather than FFTKernels().
void DoRealFFT(const FFTKernelTable& kernels, const TRealFFTPlan* plan, std::span<float> data,
               int32_t direction);
