#include "dsp/fft/RealFFTPlan.h"

#include <memory>
#include <new>
#include <stdexcept>

TRealFFTPlan* CreateRealFFTPlan(int32_t bits) {
    if (bits < 1 || bits > 30) return nullptr;
    try {
        auto plan = std::make_unique<TRealFFTPlan>();
        plan->Bits = bits;
        plan->Length = int32_t{1} << bits;
        plan->InvLength = 1.0f / static_cast<float>(plan->Length);
        const int32_t half = plan->Length / 2;
        plan->BitRev.resize(static_cast<size_t>(half));
        BitReverseTable(plan->BitRev, bits - 1);
        plan->Twiddles.resize(static_cast<size_t>(plan->Length / 8));
        FillTwiddles(plan->Twiddles, half);
        plan->Split.resize(static_cast<size_t>(plan->Length / 4));
        FillSplitFactors(plan->Split, plan->Length);
        return plan.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

void FreeRealFFTPlan(TRealFFTPlan*& plan) {
    delete plan;
    plan = nullptr;
}

void DoRealFFT(const TRealFFTPlan* plan, std::span<float> data, int32_t direction) {
    if (!plan || data.size() < static_cast<size_t>(plan->Length)) return;
    (void)direction; // only the forward transform exists

    const int32_t half = plan->Length / 2;
    float* z = data.data();
    const FFTKernelTable& kernels = FFTKernels();
    kernels.forwardPass(z, half, plan->Twiddles.data());
    kernels.permute(z, half, plan->BitRev.data());

    // Z[0] holds the even and odd sums in its two parts; their sum is DC, their difference the
    // Nyquist term, which the packing has no room for.
    z[0] = z[0] + z[1];
    z[1] = 0.0f;

    // X[k] = Z[k] (B - iA) + conj Z[M-k] (1 - B + iA) and, from the same four numbers,
    // X[M-k] = conj( conj Z[M-k] (B - iA) + Z[k] (1 - B + iA) ), with A, B the split factors of k.
    const size_t m = static_cast<size_t>(half);
    for (size_t k = 1; k <= m / 2; ++k) {
        const size_t j = m - k;
        const float a = plan->Split[k - 1].halfCos;
        const float b = plan->Split[k - 1].halfOneMinusSin;
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
}
