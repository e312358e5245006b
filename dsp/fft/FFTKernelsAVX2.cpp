// The AVX2 table: four complex values per 256-bit register, for processors that report AVX2
// (FFTKernels() checks before choosing it). Every function carries the target attribute rather
// than the whole file being built for AVX2, so nothing shared with other files (inline functions
// of headers) is compiled with instructions an older processor lacks. No fused multiply-adds:
// they would round differently from the portable kernels.

#include "dsp/fft/FFTSimdKernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>

#include "dsp/fft/FFTScalarSteps.h"

#define FFT_SIMD_TARGET __attribute__((target("avx2")))

namespace {

#include "dsp/fft/FFTSimdKernels.inl"

struct V256 {
    using T = __m256;
    static constexpr Index Width = 4;

    FFT_SIMD_TARGET static T Load(const float* p) { return _mm256_loadu_ps(p); }
    FFT_SIMD_TARGET static void Store(float* p, T v) { _mm256_storeu_ps(p, v); }
    FFT_SIMD_TARGET static T Set(float x) { return _mm256_set1_ps(x); }
    FFT_SIMD_TARGET static T Add(T a, T b) { return _mm256_add_ps(a, b); }
    FFT_SIMD_TARGET static T Sub(T a, T b) { return _mm256_sub_ps(a, b); }
    FFT_SIMD_TARGET static T Mul(T a, T b) { return _mm256_mul_ps(a, b); }
    FFT_SIMD_TARGET static T Xor(T a, T b) { return _mm256_xor_ps(a, b); }
    FFT_SIMD_TARGET static T SignRe() {
        return _mm256_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f);
    }
    FFT_SIMD_TARGET static T SignIm() {
        return _mm256_setr_ps(0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f);
    }
    FFT_SIMD_TARGET static T SignAll() { return _mm256_set1_ps(-0.0f); }
    FFT_SIMD_TARGET static T Swap(T v) { return _mm256_permute_ps(v, _MM_SHUFFLE(2, 3, 0, 1)); }
    FFT_SIMD_TARGET static T DupRe(T v) { return _mm256_moveldup_ps(v); }
    FFT_SIMD_TARGET static T DupIm(T v) { return _mm256_movehdup_ps(v); }
    FFT_SIMD_TARGET static T FirstFrom(T first, T rest) { return _mm256_blend_ps(rest, first, 0x03); }
    FFT_SIMD_TARGET static T Reverse(T v) {
        return _mm256_permute_ps(_mm256_permute2f128_ps(v, v, 0x01), _MM_SHUFFLE(1, 0, 3, 2));
    }
    FFT_SIMD_TARGET static void Twiddles(const float* const* records, T& c1, T& s1, T& c3, T& s3) {
        // Records 0 and 2 in one register, 1 and 3 in the other, so one in-lane shuffle per
        // factor puts the four records in order.
        const T a = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(records[0])),
                                         _mm_loadu_ps(records[2]), 1);
        const T b = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(records[1])),
                                         _mm_loadu_ps(records[3]), 1);
        c1 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 0, 0));
        s1 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 1, 1));
        c3 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 2, 2, 2));
        s3 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 3, 3, 3));
    }
};

// Tile of four rows (complex values rows * x + base .. + 3) rearranged for its partner tile:
// out[z'] = element (rev2 x', rev2 z') in slot x', with rev2 the reversal of two bits.
FFT_SIMD_TARGET inline void PermuteTile(const float* const* in, __m256* out) {
    // Rows in the order 0, 2, 1, 3, then a 4 x 4 transpose of 64-bit elements.
    const __m256d r0 = _mm256_castps_pd(_mm256_loadu_ps(in[0])),
                  r1 = _mm256_castps_pd(_mm256_loadu_ps(in[2]));
    const __m256d r2 = _mm256_castps_pd(_mm256_loadu_ps(in[1])),
                  r3 = _mm256_castps_pd(_mm256_loadu_ps(in[3]));
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
    // Columns 0, 1, 2, 3 go to rows 0, 2, 1, 3.
    out[0] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x20));
    out[2] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x20));
    out[1] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x31));
    out[3] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x31));
}

// The permutation in 4 x 4 tiles: index i = (x, y, z) with x the top two bits, z the lowest two
// and y the bits between maps to (rev z, rev y, rev x), so tile y lands transposed, with rows and
// columns reversed, on tile rev y, whose first index the table gives.
FFT_SIMD_TARGET void AVX2Permute(float* data, int32_t length, const int32_t* bitRev) {
    if (length < 16) {
        PortableFFTKernels().permute(data, length, bitRev);
        return;
    }
    const Index rows = static_cast<Index>(length) / 4;
    for (Index base = 0; base < rows; base += 4) {
        const Index partner = static_cast<Index>(bitRev[base]);
        if (partner < base) continue;
        float* p[4];
        float* q[4];
        for (Index x = 0; x < 4; ++x) {
            p[x] = data + 2 * (x * rows + base);
            q[x] = data + 2 * (x * rows + partner);
        }
        __m256 tp[4], tq[4];
        PermuteTile(p, tp);
        if (partner != base) PermuteTile(q, tq);
        for (Index x = 0; x < 4; ++x)
            _mm256_storeu_ps(q[x], tp[x]);
        if (partner != base) {
            for (Index x = 0; x < 4; ++x)
                _mm256_storeu_ps(p[x], tq[x]);
        }
    }
}

constinit const FFTKernelTable AVX2{
    "avx2",
    &SimdPass<V256, false>,
    &SimdPass<V256, true>,
    &AVX2Permute,
    &SimdComplexMultiply<V256>,
    &SimdScaleSingles<V256>,
    &SimdRealSplit<V256>,
};

} // namespace

const FFTKernelTable& AVX2FFTKernels() {
    return AVX2;
}

#endif
