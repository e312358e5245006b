#include "dsp/fftfilter/FFTFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <span>

namespace {

constexpr int32_t MaxQueueSize = int32_t{1} << 30;

std::span<float> WorkSpan(TFFTFilter& f) {
    return {f.Work.data(), 2 * static_cast<size_t>(f.BlockLength)};
}

// Turns Gains into the kernel's spectrum. Caller holds the lock.
void DesignKernel(TFFTFilter& f) {
    const int32_t n = f.BlockLength, h = f.HalfLength;
    float* w = f.Work.data();
    std::fill_n(w, 2 * n, 0.0f);
    // Only bins 0 .. H are set, so the real part below carries half of each gain (the 6 dB added
    // to every gain makes up for it); bins 0 and H are their own mirror images and count half.
    // The phase advance i^k centres the kernel on sample N/4.
    for (int32_t k = 0; k <= h; ++k) {
        const float l = (k == 0 || k == h) ? 0.5f * f.Gains[k] : f.Gains[k];
        switch (k & 3) {
        case 0:
            w[2 * k] = l;
            break;
        case 1:
            w[2 * k + 1] = l;
            break;
        case 2:
            w[2 * k] = -l;
            break;
        default:
            w[2 * k + 1] = -l;
            break;
        }
    }
    DoFFT(f.Plan.get(), WorkSpan(f), 1);
    // The real part is the zero-phase design shifted to N/4; a symmetric window over its H + 1
    // taps keeps the phase linear, and the taps past H are dropped so a half block convolved
    // with the kernel still fits in N points.
    for (int32_t m = 0; m <= h; ++m) {
        w[2 * m] *= WindowValue(f.Window, m, h);
        w[2 * m + 1] = 0.0f;
    }
    std::fill(w + 2 * (h + 1), w + 2 * n, 0.0f);
    DoFFT(f.Plan.get(), WorkSpan(f), -2);
    std::copy_n(w, 2 * n, f.Response.data());
}

// Truncation toward zero, then 16-bit saturation. NaN (from an absurd gain) becomes silence
// without counting as clipped. Written without branches, so the loops below vectorise: clamping to
// -32768 .. 32767 before truncating gives what truncating and then saturating would.
inline int16_t SaturateSample(float v, bool& clipped) {
    clipped |= (v >= 32768.0f) | (v <= -32769.0f);
    v = v == v ? v : 0.0f;
    v = std::min(std::max(v, -32768.0f), 32767.0f);
    return static_cast<int16_t>(static_cast<int32_t>(v));
}

inline int16_t LoadSample(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void StoreSample(uint8_t* p, int16_t v) {
    std::memcpy(p, &v, sizeof v);
}

// One block of N samples of one channel, read from `in` and written to `out` with a stride of
// one frame. The two half blocks ride in the real and imaginary parts of one transform: the
// kernel is real, so they come back apart; H samples convolved with H + 1 taps fit in N points.
// The frame stride is a constant, so the conversions compile to vector loops.
template <int32_t Channels> bool FilterBlock(TFFTFilter& f, int32_t channel, const uint8_t* in, uint8_t* out) {
    constexpr size_t stride = 2 * Channels;
    const int32_t n = f.BlockLength, h = f.HalfLength;
    std::lock_guard<TMMCriticalSection> guard(f.Lock);
    int32_t* s = f.Block[channel].data();
    float* overlap = f.Overlap[channel].data();
    for (int32_t m = 0; m < n; ++m)
        s[m] = LoadSample(in + m * stride);

    float* w = f.Work.data();
    for (int32_t m = 0; m < h; ++m) {
        w[2 * m] = static_cast<float>(s[m]);
        w[2 * m + 1] = static_cast<float>(s[h + m]);
    }
    std::fill(w + 2 * h, w + 2 * n, 0.0f);
    DoFFT(f.Plan.get(), WorkSpan(f), 1);
    ComplexMultiply(n, WorkSpan(f), f.Response);
    DoFFT(f.Plan.get(), WorkSpan(f), -1);

    // The first half block gets the tail of the previous block, the second the tail of the first.
    bool clipped = false;
    for (int32_t m = 0; m < h; ++m) {
        StoreSample(out + m * stride, SaturateSample(w[2 * m] + overlap[m], clipped));
        StoreSample(out + (h + m) * stride, SaturateSample(w[2 * (h + m)] + w[2 * m + 1], clipped));
        overlap[m] = w[2 * (h + m) + 1];
    }
    return clipped;
}

} // namespace

TFFTFilter* CreateFFTFilter(const WAVEFORMATEX* format, int32_t fftLength, int32_t queueSize) {
    if (!PcmFormatSupported(format) || format->wBitsPerSample != 16) return nullptr;
    if (format->nChannels != 1 && format->nChannels != 2) return nullptr;
    if (fftLength < 4 || queueSize <= 0 || queueSize > MaxQueueSize) return nullptr;

    int32_t bits = 2;
    while (bits < 10 && (int32_t{1} << (bits + 1)) <= fftLength)
        ++bits;

    TFFTFilter* filter = nullptr;
    try {
        auto f = std::make_unique<TFFTFilter>();
        f->SampleRate = static_cast<int32_t>(format->nSamplesPerSec);
        f->Channels = format->nChannels;
        f->Bits = bits;
        f->BlockLength = int32_t{1} << bits;
        f->HalfLength = f->BlockLength / 2;
        f->Plan.reset(CreateFFTPlan(bits));
        if (!f->Plan) return nullptr;
        // A queue holds less than one block left over from earlier calls plus one call's bytes;
        // twice the call size alone would overflow when a call is shorter than a block.
        const int32_t blockBytes = f->BlockLength * f->Channels * 2;
        const size_t capacity =
            std::max(2 * static_cast<size_t>(queueSize), static_cast<size_t>(queueSize) + blockBytes);
        f->InQueue.resize(capacity);
        f->OutQueue.resize(capacity);
        f->QueueSize = queueSize;
        filter = f.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    filter->Window = fwHamming;
    ResetFFTFilter(filter);
    // Every bin, Nyquist included: a band up to SampleRate/2 misses bin H at odd sample rates.
    SetFFTFilterGains(filter, 0, filter->HalfLength, 0.0f);
    return filter;
}

void FreeFFTFilter(TFFTFilter*& filter) {
    delete filter;
    filter = nullptr;
}

void SetFFTFilterBand(TFFTFilter* filter, float f1, float f2, float gain) {
    if (!filter || std::isnan(f1) || std::isnan(f2)) return;
    f1 = std::max(f1, 0.0f);
    f2 = std::max(f2, 0.0f);
    const float r2 = static_cast<float>(filter->SampleRate / 2);
    if (!(f1 < r2)) f1 = r2 - 1.0f;
    if (f2 > r2) f2 = r2;
    if (f1 > f2) std::swap(f1, f2);
    if (f1 == f2) f2 += 1.0f;
    const float width = static_cast<float>(filter->SampleRate) / static_cast<float>(filter->BlockLength);
    const auto first = static_cast<int32_t>(f1 / width);
    const auto last = static_cast<int32_t>(f2 / width);
    SetFFTFilterGains(filter, first, last, gain);
}

void SetFFTFilterGains(TFFTFilter* filter, int32_t firstBin, int32_t lastBin, float gain) {
    if (!filter) return;
    std::lock_guard<TMMCriticalSection> guard(filter->Lock);
    if (!std::isnan(gain)) {
        const float linear = static_cast<float>(std::pow(10.0, (static_cast<double>(gain) + 6.0) / 20.0));
        const int32_t first = std::max(firstBin, 0);
        const int32_t last = std::min(lastBin, filter->HalfLength);
        for (int32_t k = first; k <= last; ++k)
            filter->Gains[k] = linear;
    }
    DesignKernel(*filter);
}

void SetFFTFilterWindow(TFFTFilter* filter, TMMFFTWindow window) {
    if (!filter) return;
    std::lock_guard<TMMCriticalSection> guard(filter->Lock);
    filter->Window = window;
    DesignKernel(*filter);
}

void ResetFFTFilter(TFFTFilter* filter) {
    if (!filter) return;
    std::lock_guard<TMMCriticalSection> guard(filter->Lock);
    filter->InQueued = 0;
    filter->OutQueued = 0;
    for (auto& b : filter->Block)
        b.fill(0);
    for (auto& o : filter->Overlap)
        o.fill(0.0f);
}

bool ProcessFFTFilter(TFFTFilter* filter, uint8_t channelSelect, uint8_t* data, int32_t bytes) {
    if (!filter || !data || bytes <= 0) return false;
    TFFTFilter& f = *filter;
    const int32_t frame = f.Channels * 2;
    if (bytes > f.QueueSize || bytes % frame != 0) return false;

    std::memcpy(f.InQueue.data() + f.InQueued, data, bytes);
    f.InQueued += bytes;
    const int32_t blockBytes = f.BlockLength * frame;
    const int32_t blocks = f.InQueued / blockBytes;

    // Channel select only picks a channel of a stereo stream; mono is always filtered.
    int32_t firstChannel = 0, lastChannel = f.Channels - 1;
    if (f.Channels == 2 && channelSelect == 1) lastChannel = 0;
    if (f.Channels == 2 && channelSelect == 2) firstChannel = 1;
    const bool everyChannel = firstChannel == 0 && lastChannel == f.Channels - 1;

    bool clipped = false;
    for (int32_t c = firstChannel; c <= lastChannel; ++c) {
        for (int32_t j = 0; j < blocks; ++j) {
            const size_t offset = static_cast<size_t>(j) * blockBytes + 2 * c;
            const uint8_t* in = f.InQueue.data() + offset;
            uint8_t* out = f.OutQueue.data() + f.OutQueued + offset;
            if (f.Channels == 2 ? FilterBlock<2>(f, c, in, out) : FilterBlock<1>(f, c, in, out)) clipped = true;
        }
    }
    const int32_t consumed = blocks * blockBytes;
    std::memmove(f.InQueue.data(), f.InQueue.data() + consumed, f.InQueued - consumed);
    f.InQueued -= consumed;
    f.OutQueued += consumed;

    // Until the queue holds enough, the call's output starts with silence.
    const int32_t n = std::min(bytes, f.OutQueued);
    const int32_t lead = bytes - n;
    if (everyChannel) {
        std::memset(data, 0, lead);
        std::memcpy(data + lead, f.OutQueue.data(), n);
    } else {
        // The other channel keeps the caller's samples throughout, undelayed.
        const int32_t c = 2 * firstChannel;
        for (int32_t o = 0; o < lead; o += frame)
            StoreSample(data + o + c, 0);
        for (int32_t o = 0; o < n; o += frame)
            std::memcpy(data + lead + o + c, f.OutQueue.data() + o + c, 2);
    }
    std::memmove(f.OutQueue.data(), f.OutQueue.data() + n, f.OutQueued - n);
    f.OutQueued -= n;
    return clipped;
}
