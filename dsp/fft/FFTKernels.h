#pragma once
// The inner loops of the transforms, reached through one table of entry points.
//
// Complex data is interleaved (real, imaginary) float pairs. The kernels take raw pointers and
// trust their callers; the span functions at the bottom and the transforms check sizes first.
// Nothing here allocates, locks or logs. The vectorised tables repeat the portable table's
// arithmetic value for value, in the same order and without fused multiply-adds, so every table
// gives the same floats for the same input.

#include <cstdint>
#include <span>

// Twiddle factors of one split-radix butterfly: e^(-ik*theta) and e^(-3ik*theta).
struct FFTTwiddle {
    float cos1;
    float negSin1;
    float cos3;
    float negSin3;
};

// Factors of the packed real transform's split step for k: 0.5 cos(k phi), 0.5 - 0.5 sin(k phi).
struct RealFFTSplitFactor {
    float halfCos;
    float halfOneMinusSin;
};

struct FFTKernelTable {
    const char* name; // "portable", "sse2", "avx2"
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
    // The split step of the packed real transform over the `half`-point transform Z in place:
    // X[k] and X[half - k] for k = 1 .. half/2 from Z[k], Z[half - k] and record k - 1 of `split`.
    void (*realSplit)(float* data, int32_t half, const RealFFTSplitFactor* split);
};

// The plain single-precision kernels. A faster table may replace them only with a test that holds
// it against this one over awkward sizes.
const FFTKernelTable& PortableFFTKernels();
// Every table this processor can run, the portable one first and the fastest last.
std::span<const FFTKernelTable* const> AvailableFFTKernels();
// The table every transform uses: the fastest available one, chosen once at start-up and never
// changed. The environment variable TONALIS_FFT_KERNELS may name another available table
// ("portable", "sse2") to compare or debug; an unknown name keeps the fastest.
const FFTKernelTable& FFTKernels();

// data[k] := data[k] * factors[k] for the first `count` complex values. Does nothing for a count
// of 0 or less or when either array holds fewer than `count` complex values.
void ComplexMultiply(int32_t count, std::span<float> data, std::span<const float> factors);
// data[i] := data[i] * factor for the first `count` floats; nothing when count <= 0 or data is short.
void ScaleSingles(int32_t count, float factor, std::span<float> data);
