#include "dsp/fft/FFTPlan.h"

#include <memory>
#include <new>
#include <stdexcept>

#include "dsp/fft/FFTTables.h"

TFFTPlan* CreateFFTPlan(int32_t bits) {
    if (bits < 1 || bits > 30) return nullptr;
    try {
        auto plan = std::make_unique<TFFTPlan>();
        plan->Bits = bits;
        plan->Length = int32_t{1} << bits;
        plan->InvLength = 1.0f / static_cast<float>(plan->Length);
        plan->BitRev.resize(static_cast<size_t>(plan->Length));
        BitReverseTable(plan->BitRev, bits);
        plan->Twiddles.resize(static_cast<size_t>(plan->Length / 4));
        FillTwiddles(plan->Twiddles, plan->Length);
        return plan.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

void FreeFFTPlan(TFFTPlan*& plan) {
    delete plan;
    plan = nullptr;
}

void DoFFT(const TFFTPlan* plan, std::span<float> data, int32_t direction) {
    DoFFT(FFTKernels(), plan, data, direction);
}

void DoFFT(const FFTKernelTable& k, const TFFTPlan* plan, std::span<float> data, int32_t direction) {
    if (!plan || data.size() < 2 * static_cast<size_t>(plan->Length)) return;
    if (direction == -1)
        k.inversePass(data.data(), plan->Length, plan->Twiddles.data());
    else
        k.forwardPass(data.data(), plan->Length, plan->Twiddles.data());
    k.permute(data.data(), plan->Length, plan->BitRev.data());
    if (direction < 0) {
        // 2N floats can exceed int32 only at the largest plans; scale in two halves there.
        const size_t floats = 2 * static_cast<size_t>(plan->Length);
        if (floats <= static_cast<size_t>(INT32_MAX)) {
            k.scaleSingles(static_cast<int32_t>(floats), plan->InvLength, data.data());
        } else {
            k.scaleSingles(plan->Length, plan->InvLength, data.data());
            k.scaleSingles(plan->Length, plan->InvLength, data.data() + plan->Length);
        }
    }
}
