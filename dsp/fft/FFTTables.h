#pragma once
// The tables a plan computes once, so no transform evaluates a sine or a reversed index.

#include <cstdint>
#include <span>

#include "dsp/fft/FFTKernels.h"

// table[i] := i with its `bits` low bits reversed, for i < 2^bits. Does nothing when bits is
// outside 0 .. 30 or the table is shorter than 2^bits.
void BitReverseTable(std::span<int32_t> table, int32_t bits);

// Record k - 1 := cos k*theta, -sin k*theta, cos 3k*theta, -sin 3k*theta with theta = 2pi/length,
// for k = 1 .. twiddles.size().
void FillTwiddles(std::span<FFTTwiddle> twiddles, int32_t length);

// Record k - 1 := 0.5 cos k*phi, 0.5 - 0.5 sin k*phi with phi = 2pi/length, for k = 1 .. factors.size().
void FillSplitFactors(std::span<RealFFTSplitFactor> factors, int32_t length);
