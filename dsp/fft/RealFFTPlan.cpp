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
    DoRealFFT(FFTKernels(), plan, data, direction);
}

void DoRealFFT(const FFTKernelTable& kernels, const TRealFFTPlan* plan, std::span<float> data,
               int32_t direction) {
    if (!plan || data.size() < static_cast<size_t>(plan->Length)) return;
    (void)direction; // only the forward transform exists

    const int32_t half = plan->Length / 2;
    float* z = data.data();
    kernels.forwardPass(z, half, plan->Twiddles.data());
    kernels.permute(z, half, plan->BitRev.data());

    // Z[0] holds the even and odd sums in its two parts; their sum is DC, their difference the
    // Nyquist term, which the packing has no room for.
    z[0] = z[0] + z[1];
    z[1] = 0.0f;
    kernels.realSplit(z, half, plan->Split.data());
}
