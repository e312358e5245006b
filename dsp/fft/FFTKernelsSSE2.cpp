// The SSE2 table: two complex values per register. SSE2 is part of every x86-64 processor, so
// this file needs no run-time check.

#include "dsp/fft/FFTSimdKernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>

#include "dsp/fft/FFTScalarSteps.h"

#define FFT_SIMD_TARGET

namespace {

#include "dsp/fft/FFTSimdKernels.inl"

// The permutation in 2 x 2 tiles: index i = (x, y, z) with x the top bit, z the lowest and y the
// bits between maps to (z, rev y, x), so tile y of rows x = 0, 1 and columns z = 0, 1 lands
// transposed on tile rev y. The table gives rev y as the reversal of the tile's first index.
void SSE2Permute(float* data, int32_t length, const int32_t* bitRev) {
    if (length < 4) {
        PortableFFTKernels().permute(data, length, bitRev);
        return;
    }
    const Index rows = static_cast<Index>(length) / 2; // complex values from row 0 to row 1
    for (Index base = 0; base < rows; base += 2) {
        const Index partner = static_cast<Index>(bitRev[base]);
        if (partner < base) continue;
        float* p0 = data + 2 * base;
        float* p1 = data + 2 * (rows + base);
        const __m128d a0 = _mm_castps_pd(_mm_loadu_ps(p0)), a1 = _mm_castps_pd(_mm_loadu_ps(p1));
        const __m128 t0 = _mm_castpd_ps(_mm_unpacklo_pd(a0, a1)), t1 = _mm_castpd_ps(_mm_unpackhi_pd(a0, a1));
        if (partner == base) {
            _mm_storeu_ps(p0, t0);
            _mm_storeu_ps(p1, t1);
            continue;
        }
        float* q0 = data + 2 * partner;
        float* q1 = data + 2 * (rows + partner);
        const __m128d b0 = _mm_castps_pd(_mm_loadu_ps(q0)), b1 = _mm_castps_pd(_mm_loadu_ps(q1));
        _mm_storeu_ps(p0, _mm_castpd_ps(_mm_unpacklo_pd(b0, b1)));
        _mm_storeu_ps(p1, _mm_castpd_ps(_mm_unpackhi_pd(b0, b1)));
        _mm_storeu_ps(q0, t0);
        _mm_storeu_ps(q1, t1);
    }
}

constinit const FFTKernelTable SSE2{
    "sse2",
    &SimdPass<V128, false>,
    &SimdPass<V128, true>,
    &SSE2Permute,
    &SimdComplexMultiply<V128>,
    &SimdScaleSingles<V128>,
    &SimdRealSplit<V128>,
};

} // namespace

const FFTKernelTable& SSE2FFTKernels() {
    return SSE2;
}

#endif
