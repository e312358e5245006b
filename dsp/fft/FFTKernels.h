#pragma once
// The inner loops of the transforms, reached through one table of entry points.
//
// Complex data is interleaved (real, imaginary) float pairs. The kernels take raw pointers and
// trust their callers; the span functions at the bottom and the transforms check sizes first.
// Nothing here allocates, locks or logs.

#include <cstdint>
#include <span>

// Twiddle factors of one split-radix butterfly: e^(-ik*theta) and e^(-3ik*theta).
struct FFTTwiddle {
    float cos1;
    float negSin1;
    float cos3;
    float negSin3;
};

struct FFTKernelTable {
    // Split-radix decimation in frequency over `length` complex values, in place, leaving the
    // result in bit-reversed order. Record k - 1 of `twiddles` holds the factors of k * 2pi/length.
    void (*forwardPass)(float* data, int32_t length, const FFTTwiddle* twiddles);
    void (*inversePass)(float* data, int32_t length, const FFTTwiddle* twiddles);
    // Swaps complex elements i and bitRev[i] wherever i < bitRev[i].
    void (*permute)(float* data, int32_t length, const int32_t* bitRev);
    // data[k] *= factors[k] for `count` complex values.
    void (*complexMultiply)(int32_t count, float* data, const float* factors);
    // data[i] *= factor for `count` floats.
    void (*scaleSingles)(int32_t count, float factor, float* data);
};

// The plain single-precision kernels. A faster table may replace them only with a test that holds
// it against this one over awkward sizes.
const FFTKernelTable& PortableFFTKernels();
// The table every transform uses; fixed before main runs and never changed.
const FFTKernelTable& FFTKernels();

// data[k] := data[k] * factors[k] for the first `count` complex values. Does nothing for a count
// of 0 or less or when either array holds fewer than `count` complex values.
void ComplexMultiply(int32_t count, std::span<float> data, std::span<const float> factors);
// data[i] := data[i] * factor for the first `count` floats; nothing when count <= 0 or data is short.
void ScaleSingles(int32_t count, float factor, std::span<float> data);
