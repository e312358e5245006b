// The vectorised kernels, written once over a vector type and compiled once per instruction set.
//
// Included inside an anonymous namespace by FFTKernelsSSE2.cpp and FFTKernelsAVX2.cpp after
// <immintrin.h>, with FFT_SIMD_TARGET defined as the function attribute of their instruction set.
// A vector type provides the operations below over `Width` interleaved complex values; the
// 128-bit type is always here because the small butterflies use it at every width.
//
// Every step mirrors the portable kernel element by element: the same operands meet in the same
// order, and a - b is written as a + (-b) only where IEEE arithmetic makes the two identical
// (the sign is flipped with xor, exactly). So a vectorised table returns the portable table's
// floats; the tests check that, bit for bit.

using Index = size_t;

struct V128 {
    using T = __m128;
    static constexpr Index Width = 2; // complex values per register

    FFT_SIMD_TARGET static T Load(const float* p) { return _mm_loadu_ps(p); }
    FFT_SIMD_TARGET static void Store(float* p, T v) { _mm_storeu_ps(p, v); }
    FFT_SIMD_TARGET static T Set(float x) { return _mm_set1_ps(x); }
    FFT_SIMD_TARGET static T Add(T a, T b) { return _mm_add_ps(a, b); }
    FFT_SIMD_TARGET static T Sub(T a, T b) { return _mm_sub_ps(a, b); }
    FFT_SIMD_TARGET static T Mul(T a, T b) { return _mm_mul_ps(a, b); }
    FFT_SIMD_TARGET static T Xor(T a, T b) { return _mm_xor_ps(a, b); }
    // Masks that flip the sign of the real parts, the imaginary parts, or everything.
    FFT_SIMD_TARGET static T SignRe() { return _mm_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f); }
    FFT_SIMD_TARGET static T SignIm() { return _mm_setr_ps(0.0f, -0.0f, 0.0f, -0.0f); }
    FFT_SIMD_TARGET static T SignAll() { return _mm_set1_ps(-0.0f); }
    // (re, im) -> (im, re), (re, re), (im, im) in every complex value.
    FFT_SIMD_TARGET static T Swap(T v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)); }
    FFT_SIMD_TARGET static T DupRe(T v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 0, 0)); }
    FFT_SIMD_TARGET static T DupIm(T v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 1, 1)); }
    // The first complex value of `first`, the others of `rest`.
    FFT_SIMD_TARGET static T FirstFrom(T first, T rest) {
        return _mm_shuffle_ps(first, rest, _MM_SHUFFLE(3, 2, 1, 0));
    }
    // The complex values in reverse order.
    FFT_SIMD_TARGET static T Reverse(T v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)); }
    // One twiddle record per complex value, each factor repeated over its real and imaginary slot.
    FFT_SIMD_TARGET static void Twiddles(const float* const* records, T& c1, T& s1, T& c3, T& s3) {
        const T a = _mm_loadu_ps(records[0]), b = _mm_loadu_ps(records[1]);
        c1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 0, 0));
        s1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 1, 1));
        c3 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 2, 2, 2));
        s3 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 3, 3, 3));
    }
};

// Stands in for the twiddle of element 0, which the portable kernel does not rotate: its lane is
// replaced by the unrotated value, but the load must stay inside valid memory.
alignas(16) constexpr float IdentityTwiddle[4] = {1.0f, 0.0f, 1.0f, 0.0f};

// (pr c - pi s, pi c + pr s) per complex value: the portable pr*cos - pi*sin, pr*sin + pi*cos.
template <class V>
FFT_SIMD_TARGET inline typename V::T Rotate(typename V::T p, typename V::T c, typename V::T s) {
    return V::Add(V::Mul(p, c), V::Xor(V::Mul(V::Swap(p), s), V::SignRe()));
}

// Width elements of the L-shaped split, starting at a; `First` marks the group holding element 0.
template <class V, bool Inverse, bool First>
FFT_SIMD_TARGET inline void SplitGroup(float* a, float* b, float* c, float* d, const float* const* records) {
    using T = typename V::T;
    const T va = V::Load(a), vb = V::Load(b), vc = V::Load(c), vd = V::Load(d);
    const T u = V::Sub(va, vc), v = V::Sub(vb, vd);
    V::Store(a, V::Add(va, vc));
    V::Store(b, V::Add(vb, vd));
    const T t = V::Xor(V::Swap(v), V::SignIm()); // (vi, -vr)
    const T p = Inverse ? V::Sub(u, t) : V::Add(u, t);
    const T q = Inverse ? V::Add(u, t) : V::Sub(u, t);
    T c1, s1, c3, s3;
    V::Twiddles(records, c1, s1, c3, s3);
    if constexpr (Inverse) { // conjugate factors
        s1 = V::Xor(s1, V::SignAll());
        s3 = V::Xor(s3, V::SignAll());
    }
    T rp = Rotate<V>(p, c1, s1), rq = Rotate<V>(q, c3, s3);
    if constexpr (First) {
        rp = V::FirstFrom(p, rp);
        rq = V::FirstFrom(q, rq);
    }
    V::Store(c, rp);
    V::Store(d, rq);
}

// The small butterflies over 128-bit registers of two complex values each.

// (x0, x1) -> (x0 + x1, x0 - x1).
FFT_SIMD_TARGET inline __m128 Butterfly2Reg(__m128 r) {
    const __m128 high = _mm_setr_ps(0.0f, 0.0f, -0.0f, -0.0f);
    return _mm_add_ps(_mm_movelh_ps(r, r), _mm_xor_ps(_mm_movehl_ps(r, r), high));
}

// (x0, x1), (x2, x3) -> (X0, X2), (X1, X3).
template <bool Inverse> FFT_SIMD_TARGET inline void Butterfly4Reg(__m128& r0, __m128& r1) {
    const __m128 t = _mm_add_ps(r0, r1); // t0, t1
    const __m128 d = _mm_sub_ps(r0, r1); // u, v
    r0 = Butterfly2Reg(t);
    // (u, u) + (vi, -vr, -vi, vr) forward, + (-vi, vr, vi, -vr) inverse.
    const __m128 sign =
        Inverse ? _mm_setr_ps(-0.0f, 0.0f, 0.0f, -0.0f) : _mm_setr_ps(0.0f, -0.0f, -0.0f, 0.0f);
    r1 = _mm_add_ps(_mm_movelh_ps(d, d), _mm_xor_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 3, 2, 3)), sign));
}

template <bool Inverse> FFT_SIMD_TARGET inline void Butterfly8Regs(float* x) {
    using V = V128;
    __m128 r0 = V::Load(x), r1 = V::Load(x + 4), r2 = V::Load(x + 8), r3 = V::Load(x + 12);
    const __m128 u = V::Sub(r0, r2), v = V::Sub(r1, r3);
    r0 = V::Add(r0, r2);
    r1 = V::Add(r1, r3);
    const __m128 t = V::Xor(V::Swap(v), V::SignIm());
    const __m128 p = Inverse ? V::Sub(u, t) : V::Add(u, t);
    const __m128 q = Inverse ? V::Add(u, t) : V::Sub(u, t);
    // Element 1 turns by an eighth of a circle, with the portable kernel's sums:
    // forward p: (pr + pi, pi - pr), q: (qi - qr, -qr - qi); inverse p: (pr - pi, pr + pi),
    // q: (-qr - qi, qr - qi); each times 1/sqrt2.
    __m128 rp, rq;
    if constexpr (Inverse) {
        rp = V::Add(V::DupRe(p), V::Xor(V::DupIm(p), V::SignRe()));
        rq = V::Add(V::Xor(V::DupRe(q), V::SignRe()), V::Xor(V::DupIm(q), V::SignAll()));
    } else {
        rp = V::Add(p, V::Xor(V::Swap(p), V::SignIm()));
        rq = V::Add(V::Xor(V::DupRe(q), V::SignAll()), V::Xor(V::DupIm(q), V::SignIm()));
    }
    const __m128 k = V::Set(0.70710677f);
    r2 = Butterfly2Reg(V::FirstFrom(p, V::Mul(rp, k)));
    r3 = Butterfly2Reg(V::FirstFrom(q, V::Mul(rq, k)));
    Butterfly4Reg<Inverse>(r0, r1);
    V::Store(x, r0);
    V::Store(x + 4, r1);
    V::Store(x + 8, r2);
    V::Store(x + 12, r3);
}

// One block of n complex values whose twiddles are every `stride`-th record of the table.
template <class V, bool Inverse>
FFT_SIMD_TARGET void SimdBlock(float* x, Index n, const FFTTwiddle* twiddles, Index stride) {
    switch (n) {
    case 1:
        return;
    case 2:
        V128::Store(x, Butterfly2Reg(V128::Load(x)));
        return;
    case 4: {
        __m128 r0 = V128::Load(x), r1 = V128::Load(x + 4);
        Butterfly4Reg<Inverse>(r0, r1);
        V128::Store(x, r0);
        V128::Store(x + 4, r1);
        return;
    }
    case 8:
        Butterfly8Regs<Inverse>(x);
        return;
    default:
        break;
    }
    // n >= 16, so the n/4 elements of each quarter fill whole registers.
    constexpr Index W = V::Width;
    const Index n2 = n / 2, n4 = n / 4;
    float* a = x;
    float* b = x + 2 * n4;
    float* c = x + 2 * n2;
    float* d = x + 2 * (n2 + n4);
    const float* records[W];
    records[0] = IdentityTwiddle;
    for (Index l = 1; l < W; ++l)
        records[l] = &twiddles[l * stride - 1].cos1;
    SplitGroup<V, Inverse, true>(a, b, c, d, records);
    for (Index j = W; j < n4; j += W) {
        const FFTTwiddle* w = twiddles + (j * stride - 1);
        for (Index l = 0; l < W; ++l)
            records[l] = &w[l * stride].cos1;
        const Index o = 2 * j;
        SplitGroup<V, Inverse, false>(a + o, b + o, c + o, d + o, records);
    }
    SimdBlock<V, Inverse>(a, n2, twiddles, stride * 2);
    SimdBlock<V, Inverse>(c, n4, twiddles, stride * 4);
    SimdBlock<V, Inverse>(d, n4, twiddles, stride * 4);
}

template <class V, bool Inverse>
FFT_SIMD_TARGET void SimdPass(float* data, int32_t length, const FFTTwiddle* twiddles) {
    if (length > 0) SimdBlock<V, Inverse>(data, static_cast<Index>(length), twiddles, 1);
}

template <class V>
FFT_SIMD_TARGET void SimdComplexMultiply(int32_t count, float* data, const float* factors) {
    constexpr Index W = V::Width;
    const Index n = count > 0 ? static_cast<Index>(count) : 0;
    Index k = 0;
    for (; k + W <= n; k += W) {
        const typename V::T x = V::Load(data + 2 * k), f = V::Load(factors + 2 * k);
        // (a c - b d, b c + a d): the portable a*c - b*d, a*d + b*c.
        V::Store(data + 2 * k,
                 V::Add(V::Mul(x, V::DupRe(f)), V::Xor(V::Mul(V::Swap(x), V::DupIm(f)), V::SignRe())));
    }
    for (; k < n; ++k)
        MultiplyOne(data + 2 * k, factors + 2 * k);
}

template <class V> FFT_SIMD_TARGET void SimdScaleSingles(int32_t count, float factor, float* data) {
    constexpr Index W = 2 * V::Width; // floats per register
    const Index n = count > 0 ? static_cast<Index>(count) : 0;
    const typename V::T f = V::Set(factor);
    Index i = 0;
    for (; i + 2 * W <= n; i += 2 * W) {
        V::Store(data + i, V::Mul(V::Load(data + i), f));
        V::Store(data + i + W, V::Mul(V::Load(data + i + W), f));
    }
    for (; i + W <= n; i += W)
        V::Store(data + i, V::Mul(V::Load(data + i), f));
    for (; i < n; ++i)
        data[i] *= factor;
}

// Z[k] (B - iA) + conj Z[M-k] (1 - B + iA) per complex value, with p = Z[k], q = conj Z[M-k]:
// real ((pr b + pi a) + qr c) - qi a, imaginary ((pi b - pr a) + qi c) + qr a, as the portable step.
template <class V>
FFT_SIMD_TARGET inline typename V::T SplitForm(typename V::T p, typename V::T q, typename V::T a,
                                               typename V::T b, typename V::T c) {
    typename V::T s = V::Add(V::Mul(p, b), V::Xor(V::Mul(V::Swap(p), a), V::SignIm()));
    s = V::Add(s, V::Mul(q, c));
    return V::Add(s, V::Xor(V::Mul(V::Swap(q), a), V::SignRe()));
}

template <class V>
FFT_SIMD_TARGET void SimdRealSplit(float* z, int32_t half, const RealFFTSplitFactor* split) {
    using T = typename V::T;
    constexpr Index W = V::Width;
    const Index m = half > 0 ? static_cast<Index>(half) : 0;
    Index k = 1;
    // Groups k .. k+W-1 and their mirrors m-k-W+1 .. m-k, while the two stay apart.
    for (; 2 * k + 2 * W - 2 < m; k += W) {
        const Index mirror = m - k - (W - 1);
        const T p = V::Load(z + 2 * k);
        const T q = V::Xor(V::Reverse(V::Load(z + 2 * mirror)), V::SignIm());
        const T factors = V::Load(&split[k - 1].halfCos);
        const T a = V::DupRe(factors), b = V::DupIm(factors), c = V::Sub(V::Set(1.0f), b);
        V::Store(z + 2 * k, SplitForm<V>(p, q, a, b, c));
        V::Store(z + 2 * mirror, V::Reverse(V::Xor(SplitForm<V>(q, p, a, b, c), V::SignIm())));
    }
    for (; k <= m / 2; ++k)
        SplitRealPair(z, k, m, split[k - 1]);
}
