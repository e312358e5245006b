#include "dsp/fft/FFTKernels.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "dsp/fft/FFTScalarSteps.h"
#include "dsp/fft/FFTSimdKernels.h"

namespace {

// Offsets are counted in size_t: 2^30 complex values are 2^31 floats.
using Index = size_t;

constexpr float InvSqrt2 = 0.70710677f;

inline void Butterfly2(float* x) {
    const float r = x[0], i = x[1];
    x[0] = r + x[2];
    x[1] = i + x[3];
    x[2] = r - x[2];
    x[3] = i - x[3];
}

// Four points in, X0 X2 X1 X3 out.
template <bool Inverse> inline void Butterfly4(float* x) {
    const float t0r = x[0] + x[4], t0i = x[1] + x[5];
    const float t1r = x[2] + x[6], t1i = x[3] + x[7];
    const float ur = x[0] - x[4], ui = x[1] - x[5];
    const float vr = x[2] - x[6], vi = x[3] - x[7];
    x[0] = t0r + t1r;
    x[1] = t0i + t1i;
    x[2] = t0r - t1r;
    x[3] = t0i - t1i;
    if constexpr (Inverse) { // u + iv, u - iv
        x[4] = ur - vi;
        x[5] = ui + vr;
        x[6] = ur + vi;
        x[7] = ui - vr;
    } else { // u - iv, u + iv
        x[4] = ur + vi;
        x[5] = ui - vr;
        x[6] = ur - vi;
        x[7] = ui + vr;
    }
}

// The L-shaped split of one block: the even half keeps a + c and b + d, the two odd quarters
// get (a - c) -/+ i(b - d) turned by w^j and w^3j. Returns the two rotated values through p, q.
template <bool Inverse>
inline void SplitElement(float* a, float* b, float* c, float* d, float& pr, float& pi, float& qr, float& qi) {
    const float ur = a[0] - c[0], ui = a[1] - c[1];
    const float vr = b[0] - d[0], vi = b[1] - d[1];
    a[0] += c[0];
    a[1] += c[1];
    b[0] += d[0];
    b[1] += d[1];
    if constexpr (Inverse) {
        pr = ur - vi;
        pi = ui + vr;
        qr = ur + vi;
        qi = ui - vr;
    } else {
        pr = ur + vi;
        pi = ui - vr;
        qr = ur - vi;
        qi = ui + vr;
    }
}

// Eight points: the only twiddles are the eighth roots of unity, so no table is read.
template <bool Inverse> inline void Butterfly8(float* x) {
    float pr, pi, qr, qi;
    SplitElement<Inverse>(x + 0, x + 4, x + 8, x + 12, pr, pi, qr, qi);
    x[8] = pr;
    x[9] = pi;
    x[12] = qr;
    x[13] = qi;
    SplitElement<Inverse>(x + 2, x + 6, x + 10, x + 14, pr, pi, qr, qi);
    if constexpr (Inverse) { // p * (1 + i)/sqrt2, q * (-1 + i)/sqrt2
        x[10] = (pr - pi) * InvSqrt2;
        x[11] = (pr + pi) * InvSqrt2;
        x[14] = (-qr - qi) * InvSqrt2;
        x[15] = (qr - qi) * InvSqrt2;
    } else { // p * (1 - i)/sqrt2, q * (-1 - i)/sqrt2
        x[10] = (pr + pi) * InvSqrt2;
        x[11] = (pi - pr) * InvSqrt2;
        x[14] = (qi - qr) * InvSqrt2;
        x[15] = (-qr - qi) * InvSqrt2;
    }
    Butterfly4<Inverse>(x);
    Butterfly2(x + 8);
    Butterfly2(x + 12);
}

// One block of n complex values whose twiddles are every `stride`-th record of the table.
template <bool Inverse> void SplitRadixBlock(float* x, Index n, const FFTTwiddle* twiddles, Index stride) {
    switch (n) {
    case 1:
        return;
    case 2:
        Butterfly2(x);
        return;
    case 4:
        Butterfly4<Inverse>(x);
        return;
    case 8:
        Butterfly8<Inverse>(x);
        return;
    default:
        break;
    }
    const Index n2 = n / 2, n4 = n / 4;
    float* a = x;
    float* b = x + 2 * n4;
    float* c = x + 2 * n2;
    float* d = x + 2 * (n2 + n4);
    float pr, pi, qr, qi;
    SplitElement<Inverse>(a, b, c, d, pr, pi, qr, qi);
    c[0] = pr;
    c[1] = pi;
    d[0] = qr;
    d[1] = qi;
    for (Index j = 1; j < n4; ++j) {
        const Index o = 2 * j;
        SplitElement<Inverse>(a + o, b + o, c + o, d + o, pr, pi, qr, qi);
        const FFTTwiddle& w = twiddles[j * stride - 1];
        // Inverse rotates by the conjugate factors.
        const float s1 = Inverse ? -w.negSin1 : w.negSin1;
        const float s3 = Inverse ? -w.negSin3 : w.negSin3;
        c[o] = pr * w.cos1 - pi * s1;
        c[o + 1] = pr * s1 + pi * w.cos1;
        d[o] = qr * w.cos3 - qi * s3;
        d[o + 1] = qr * s3 + qi * w.cos3;
    }
    SplitRadixBlock<Inverse>(a, n2, twiddles, stride * 2);
    SplitRadixBlock<Inverse>(c, n4, twiddles, stride * 4);
    SplitRadixBlock<Inverse>(d, n4, twiddles, stride * 4);
}

template <bool Inverse> void PortablePass(float* data, int32_t length, const FFTTwiddle* twiddles) {
    if (length > 0) SplitRadixBlock<Inverse>(data, static_cast<Index>(length), twiddles, 1);
}

void PortablePermute(float* data, int32_t length, const int32_t* bitRev) {
    for (int32_t i = 0; i < length; ++i) {
        const int32_t r = bitRev[i];
        if (i < r) {
            float* p = data + 2 * static_cast<Index>(i);
            float* q = data + 2 * static_cast<Index>(r);
            std::swap(p[0], q[0]);
            std::swap(p[1], q[1]);
        }
    }
}

void PortableComplexMultiply(int32_t count, float* data, const float* factors) {
    Index k = 0;
    const Index n = count > 0 ? static_cast<Index>(count) : 0;
    for (; k + 4 <= n; k += 4) {
        MultiplyOne(data + 2 * k, factors + 2 * k);
        MultiplyOne(data + 2 * k + 2, factors + 2 * k + 2);
        MultiplyOne(data + 2 * k + 4, factors + 2 * k + 4);
        MultiplyOne(data + 2 * k + 6, factors + 2 * k + 6);
    }
    for (; k < n; ++k)
        MultiplyOne(data + 2 * k, factors + 2 * k);
}

void PortableScaleSingles(int32_t count, float factor, float* data) {
    Index i = 0;
    const Index n = count > 0 ? static_cast<Index>(count) : 0;
    for (; i + 8 <= n; i += 8) {
        for (Index j = 0; j < 8; ++j)
            data[i + j] *= factor;
    }
    for (; i < n; ++i)
        data[i] *= factor;
}

void PortableRealSplit(float* data, int32_t half, const RealFFTSplitFactor* split) {
    const size_t m = half > 0 ? static_cast<size_t>(half) : 0;
    for (size_t k = 1; k <= m / 2; ++k)
        SplitRealPair(data, k, m, split[k - 1]);
}

constinit const FFTKernelTable Portable{
    "portable",         &PortablePass<false>,     &PortablePass<true>,
    &PortablePermute,   &PortableComplexMultiply, &PortableScaleSingles,
    &PortableRealSplit,
};

struct KernelList {
    const FFTKernelTable* tables[3];
    size_t count;
};

KernelList FindKernels() {
    KernelList list{{&Portable}, 1};
#if defined(__x86_64__)
    list.tables[list.count++] = &SSE2FFTKernels();
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) list.tables[list.count++] = &AVX2FFTKernels();
#endif
    return list;
}

const KernelList& Kernels() {
    static const KernelList list = FindKernels();
    return list;
}

const FFTKernelTable& ChooseKernels() {
    const KernelList& list = Kernels();
    if (const char* wanted = std::getenv("TONALIS_FFT_KERNELS")) {
        for (size_t i = 0; i < list.count; ++i)
            if (std::strcmp(list.tables[i]->name, wanted) == 0) return *list.tables[i];
    }
    return *list.tables[list.count - 1];
}

// Chosen during static initialisation, so no audio thread pays for the first look-up.
[[maybe_unused]] const FFTKernelTable& InitialKernels = FFTKernels();

} // namespace

const FFTKernelTable& PortableFFTKernels() {
    return Portable;
}

std::span<const FFTKernelTable* const> AvailableFFTKernels() {
    const KernelList& list = Kernels();
    return {list.tables, list.count};
}

const FFTKernelTable& FFTKernels() {
    static const FFTKernelTable& chosen = ChooseKernels();
    return chosen;
}

void ComplexMultiply(int32_t count, std::span<float> data, std::span<const float> factors) {
    if (count <= 0) return;
    const size_t floats = 2 * static_cast<size_t>(count);
    if (data.size() < floats || factors.size() < floats) return;
    FFTKernels().complexMultiply(count, data.data(), factors.data());
}

void ScaleSingles(int32_t count, float factor, std::span<float> data) {
    if (count <= 0 || data.size() < static_cast<size_t>(count)) return;
    FFTKernels().scaleSingles(count, factor, data.data());
}
