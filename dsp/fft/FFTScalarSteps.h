#pragma once
// One-element steps shared by the portable kernels and the scalar tails of the vectorised ones,
// so a tail computes exactly what the portable kernel computes. Private to dsp/fft.

#include <cstddef>

#include "dsp/fft/FFTKernels.h"

// x := x * f for one complex value.
inline void MultiplyOne(float* x, const float* f) {
    const float r = x[0] * f[0] - x[1] * f[1];
    const float i = x[0] * f[1] + x[1] * f[0];
    x[0] = r;
    x[1] = i;
}

// X[k] = Z[k] (B - iA) + conj Z[M-k] (1 - B + iA) and, from the same four numbers,
// X[M-k] = conj( conj Z[M-k] (B - iA) + Z[k] (1 - B + iA) ), with A, B the split factors of k.
inline void SplitRealPair(float* z, size_t k, size_t m, const RealFFTSplitFactor& f) {
    const size_t j = m - k;
    const float a = f.halfCos;
    const float b = f.halfOneMinusSin;
    const float c = 1.0f - b;
    const float pr = z[2 * k], pi = z[2 * k + 1];
    const float qr = z[2 * j], qi = -z[2 * j + 1];
    z[2 * k] = pr * b + pi * a + qr * c - qi * a;
    z[2 * k + 1] = pi * b - pr * a + qi * c + qr * a;
    if (j != k) {
        z[2 * j] = qr * b + qi * a + pr * c - pi * a;
        z[2 * j + 1] = -(qi * b - qr * a + pi * c + pr * a);
    }
}
