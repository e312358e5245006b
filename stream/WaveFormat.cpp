#include "stream/WaveFormat.h"

#include <cstring>

int WaveFormatSize(const WAVEFORMATEX* format) {
    if (!format) return 0;
    if (format->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
    return sizeof(WAVEFORMATEX) + format->cbSize;
}

WaveFormatPtr AllocWaveFormat(int bytes) {
    if (bytes < static_cast<int>(sizeof(WAVEFORMATEX))) bytes = sizeof(WAVEFORMATEX);
    auto* raw = static_cast<WAVEFORMATEX*>(std::calloc(1, bytes));
    if (!raw) throw std::bad_alloc();
    return WaveFormatPtr(raw);
}

WaveFormatPtr CopyWaveFormat(const WAVEFORMATEX* format) {
    if (!format) return nullptr;
    const int size = WaveFormatSize(format);
    auto* raw = static_cast<WAVEFORMATEX*>(std::malloc(size));
    if (!raw) throw std::bad_alloc();
    std::memcpy(raw, format, size);
    if (raw->wFormatTag == WAVE_FORMAT_PCM) raw->cbSize = 0;
    return WaveFormatPtr(raw);
}

WAVEFORMATEX PcmBuildFormat(int bits, int channels, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<uint16_t>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = static_cast<uint16_t>(bits);
    f.nBlockAlign = static_cast<uint16_t>(static_cast<uint16_t>(channels * bits) / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    f.cbSize = 0;
    return f;
}

bool PcmFormatSupported(const WAVEFORMATEX* f) {
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
    if (f->nChannels != 1 && f->nChannels != 2 && f->nChannels != 4) return false;
    return f->nSamplesPerSec >= 4000 && f->nSamplesPerSec <= 100000;
}

bool IsSameWaveFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    if (!a || !b) return a == b;
    const int size = WaveFormatSize(a);
    return size == WaveFormatSize(b) && std::memcmp(a, b, size) == 0;
}

int64_t MulDivRound(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return 0;
    __int128 p = static_cast<__int128>(a) * b;
    const bool negative = (p < 0) != (c < 0);
    __int128 ap = p < 0 ? -p : p;
    __int128 ac = c < 0 ? -static_cast<__int128>(c) : c;
    __int128 q = (ap + ac / 2) / ac; // halves away from zero
    return static_cast<int64_t>(negative ? -q : q);
}

int64_t MulDivTrunc(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return 0;
    return static_cast<int64_t>(static_cast<__int128>(a) * b / c);
}

namespace {
int64_t roundUpToBlock64(const WAVEFORMATEX* f, int64_t n) {
    if (f->nBlockAlign > 0 && n > 0 && n % f->nBlockAlign != 0) n += f->nBlockAlign - n % f->nBlockAlign;
    return n;
}
int32_t roundUpToBlock(const WAVEFORMATEX* f, int64_t n) { return static_cast<int32_t>(roundUpToBlock64(f, n)); }
} // namespace

int32_t BytesToSamples(const WAVEFORMATEX* f, int32_t bytes) {
    if (!f) return 0;
    return static_cast<int32_t>(MulDivRound(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec));
}
int32_t BytesToMs(const WAVEFORMATEX* f, int32_t bytes) {
    if (!f) return 0;
    return static_cast<int32_t>(MulDivRound(bytes, 1000, f->nAvgBytesPerSec));
}
int32_t SamplesToBytes(const WAVEFORMATEX* f, int32_t samples) {
    if (!f) return 0;
    int64_t n = MulDivRound(samples, f->nAvgBytesPerSec, f->nSamplesPerSec);
    return roundUpToBlock(f, n);
}
int32_t SamplesToMs(const WAVEFORMATEX* f, int32_t samples) {
    if (!f) return 0;
    return static_cast<int32_t>(MulDivRound(samples, 1000, f->nSamplesPerSec));
}
int32_t MsToSamples(const WAVEFORMATEX* f, int32_t ms) {
    if (!f) return 0;
    return static_cast<int32_t>(MulDivRound(ms, f->nSamplesPerSec, 1000));
}
int32_t MsToBytes(const WAVEFORMATEX* f, int32_t ms) {
    if (!f) return 0;
    int64_t n = MulDivRound(ms, f->nAvgBytesPerSec, 1000);
    return roundUpToBlock(f, n);
}

int64_t BytesToSamples64(const WAVEFORMATEX* f, int64_t bytes) {
    if (!f) return 0;
    return MulDivTrunc(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec);
}
int64_t SamplesToBytes64(const WAVEFORMATEX* f, int64_t samples) {
    if (!f) return 0;
    return roundUpToBlock64(f, MulDivTrunc(samples, f->nAvgBytesPerSec, f->nSamplesPerSec));
}
int64_t SamplesToMs64(const WAVEFORMATEX* f, int64_t samples) {
    if (!f) return 0;
    return MulDivTrunc(samples, 1000, f->nSamplesPerSec);
}
int64_t MsToSamples64(const WAVEFORMATEX* f, int64_t ms) {
    if (!f) return 0;
    return MulDivTrunc(ms, f->nSamplesPerSec, 1000);
}

int32_t RealBufferSize(const WAVEFORMATEX* f, int32_t requested) {
    if (!f || f->nBlockAlign == 0) return requested;
    const int32_t align = f->nBlockAlign;
    const int32_t whole = requested - requested % align;
    return whole > align ? whole : align;
}

uint8_t SilenceValue(const WAVEFORMATEX* f) {
    return (f && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8) ? 128 : 0;
}
