#include "stream/PcmRoutines.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

std::atomic<bool> PcmClipped{false};

int32_t PcmClip8(int32_t v) {
    if (v > 127) {
        PcmClipped.store(true, std::memory_order_relaxed);
        return 127;
    }
    if (v < -128) {
        PcmClipped.store(true, std::memory_order_relaxed);
        return -128;
    }
    return v;
}

int32_t PcmClip16(int32_t v) {
    if (v > 32767) {
        PcmClipped.store(true, std::memory_order_relaxed);
        return 32767;
    }
    if (v < -32768) {
        PcmClipped.store(true, std::memory_order_relaxed);
        return -32768;
    }
    return v;
}

int32_t PcmScaleSample8(int32_t storedByte, int32_t gain) {
    const int64_t v = (static_cast<int64_t>(storedByte - 128) * gain) >> 14;
    return PcmClip8(static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX))) + 128;
}

int32_t PcmScaleSample16(int32_t sample, int32_t gain) {
    const int64_t v = (static_cast<int64_t>(sample) * gain) >> 14;
    return PcmClip16(static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)));
}

namespace {

// Gains up to 2^16 keep |sample * gain| inside 32 bits, which lets the loops vectorise.
constexpr int32_t FastGainLimit = 65536;

// Blocks of this many samples with a repeating per-sample gain pattern let the loops vectorise.
constexpr int32_t Lane = 32;

template <typename Wide>
bool scale16(int16_t* s, int32_t frames, int channels, int32_t gl, int32_t gr) {
    const int32_t n = frames * channels;
    int32_t gains[Lane];
    for (int j = 0; j < Lane; ++j) gains[j] = (channels == 2 && (j & 1)) ? gr : gl;
    Wide over = 0;
    int32_t i = 0;
    for (; i + Lane <= n; i += Lane)
        for (int j = 0; j < Lane; ++j) {
            Wide v = (static_cast<Wide>(s[i + j]) * gains[j]) >> 14;
            over |= (v > 32767) | (v < -32768);
            s[i + j] = static_cast<int16_t>(std::clamp<Wide>(v, -32768, 32767));
        }
    for (int j = 0; i < n; ++i, ++j) {
        Wide v = (static_cast<Wide>(s[i]) * gains[j]) >> 14;
        over |= (v > 32767) | (v < -32768);
        s[i] = static_cast<int16_t>(std::clamp<Wide>(v, -32768, 32767));
    }
    return over != 0;
}

template <typename Wide>
bool scale8(uint8_t* s, int32_t frames, int channels, int32_t gl, int32_t gr) {
    Wide over = 0;
    const int32_t n = frames * channels;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t g = (channels == 2 && (i & 1)) ? gr : gl;
        Wide v = (static_cast<Wide>(static_cast<int32_t>(s[i]) - 128) * g) >> 14;
        over |= (v > 127) | (v < -128);
        s[i] = static_cast<uint8_t>(std::clamp<Wide>(v, -128, 127) + 128);
    }
    return over != 0;
}

template <typename Wide>
bool mix16(int32_t samples, const int16_t* const* sources, int count, bool unity, int32_t gl, int32_t gr,
           int32_t* accumulator, int16_t* output) {
    Wide over = 0;
    for (int32_t i = 0; i < samples; i += Lane) {
        const int32_t m = std::min(Lane, samples - i);
        int32_t sum[Lane] = {};
        for (int k = count - 1; k >= 0; --k)
            for (int j = 0; j < m; ++j) sum[j] += sources[k][i + j];
        if (accumulator) std::memcpy(accumulator + i, sum, static_cast<size_t>(m) * 4);
        for (int j = 0; j < m; ++j) {
            // i is a multiple of Lane (even), so j's parity is the channel.
            Wide v = sum[j];
            if (!unity) v = (v * ((j & 1) ? gr : gl)) >> 14;
            over |= (v > 32767) | (v < -32768);
            output[i + j] = static_cast<int16_t>(std::clamp<Wide>(v, -32768, 32767));
        }
    }
    return over != 0;
}

} // namespace

bool PcmScaleVolume(const WAVEFORMATEX* f, uint8_t* data, int32_t bytes, int32_t leftGain,
                    int32_t rightGain) {
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || !data || bytes <= 0) return false;
    const int channels = f->nChannels;
    if (channels != 1 && channels != 2) return false;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
    if (leftGain == UnityGain && (channels == 1 || rightGain == UnityGain)) return false;
    const bool fast = std::abs(leftGain) <= FastGainLimit && std::abs(rightGain) <= FastGainLimit;
    if (f->wBitsPerSample == 16) {
        const int32_t frames = bytes / (2 * channels);
        auto* s = reinterpret_cast<int16_t*>(data);
        return fast ? scale16<int32_t>(s, frames, channels, leftGain, rightGain)
                    : scale16<int64_t>(s, frames, channels, leftGain, rightGain);
    }
    const int32_t frames = bytes / channels;
    return fast ? scale8<int32_t>(data, frames, channels, leftGain, rightGain)
                : scale8<int64_t>(data, frames, channels, leftGain, rightGain);
}

bool PcmMixStereo16(int32_t bytes, const int16_t* const* sources, int count, int32_t leftGain,
                    int32_t rightGain, int32_t* accumulator, int16_t* output) {
    const int32_t samples = (bytes / 4) * 2;
    if (samples <= 0) return false;
    if (count <= 0 || !sources) {
        std::memset(output, 0, static_cast<size_t>(samples) * 2);
        if (accumulator) std::memset(accumulator, 0, static_cast<size_t>(samples) * 4);
        return false;
    }
    const bool unity = leftGain == UnityGain && rightGain == UnityGain;
    // 32-bit products suffice while count * 32768 * |gain| stays below 2^31.
    const int64_t worst = static_cast<int64_t>(count) * 32768 * std::max(std::abs(leftGain), std::abs(rightGain));
    return worst < (int64_t{1} << 31) ? mix16<int32_t>(samples, sources, count, unity, leftGain, rightGain,
                                                       accumulator, output)
                                      : mix16<int64_t>(samples, sources, count, unity, leftGain, rightGain,
                                                       accumulator, output);
}

int32_t PcmConvertBits(int sourceBits, uint8_t* output, int outputBits, int32_t bytes,
                       const uint8_t* source) {
    if (bytes <= 0) return 0;
    if (sourceBits == outputBits) {
        std::memmove(output, source, static_cast<size_t>(bytes));
        return bytes;
    }
    if (sourceBits == 16 && outputBits == 8) {
        const int32_t n = bytes / 2;
        for (int32_t i = 0; i < n; ++i) {
            int16_t s;
            std::memcpy(&s, source + 2 * i, 2);
            output[i] = static_cast<uint8_t>(s / 256 + 128);
        }
        return n;
    }
    if (sourceBits == 8 && outputBits == 16) {
        // Backwards, so the conversion may run in place when output == source.
        for (int32_t i = bytes - 1; i >= 0; --i) {
            const int16_t s = static_cast<int16_t>(source[i] * 256 - 32768);
            std::memcpy(output + 2 * i, &s, 2);
        }
        return bytes * 2;
    }
    return 0;
}

namespace {

template <typename Sample, int Channels>
void findPeak(const Sample* s, int32_t frames, int32_t bias, int32_t peak[2]) {
    // First pass finds the largest magnitude (vectorises); the second finds its first position.
    for (int c = 0; c < Channels; ++c) {
        int32_t best = 0;
        for (int32_t i = 0; i < frames; ++i) {
            int32_t m = static_cast<int32_t>(s[i * Channels + c]) - bias;
            m = m < 0 ? -m : m;
            best = m > best ? m : best;
        }
        peak[c] = bias;
        if (best == 0) continue;
        for (int32_t i = 0; i < frames; ++i) {
            const int32_t v = static_cast<int32_t>(s[i * Channels + c]);
            if (std::abs(v - bias) == best) {
                peak[c] = v;
                break;
            }
        }
    }
}

} // namespace

void PcmFindPeak(const WAVEFORMATEX* f, const uint8_t* data, int32_t bytes, int32_t& left, int32_t& right) {
    const int32_t silence = SilenceValue(f);
    left = right = silence;
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || !data || bytes <= 0) return;
    const int channels = f->nChannels;
    if (channels != 1 && channels != 2) return;
    int32_t peak[2] = {silence, silence};
    if (f->wBitsPerSample == 16) {
        auto* s = reinterpret_cast<const int16_t*>(data);
        const int32_t frames = bytes / (2 * channels);
        channels == 1 ? findPeak<int16_t, 1>(s, frames, 0, peak) : findPeak<int16_t, 2>(s, frames, 0, peak);
    } else if (f->wBitsPerSample == 8) {
        const int32_t frames = bytes / channels;
        channels == 1 ? findPeak<uint8_t, 1>(data, frames, 128, peak)
                      : findPeak<uint8_t, 2>(data, frames, 128, peak);
    } else {
        return;
    }
    left = peak[0];
    right = channels == 1 ? peak[0] : peak[1];
}

void PcmFindMinMax(const WAVEFORMATEX* f, const uint8_t* data, int32_t bytes, PcmMinMaxPair& left,
                   PcmMinMaxPair& right) {
    left = right = PcmMinMaxPair{};
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || !data || bytes <= 0) return;
    const int channels = f->nChannels;
    if (channels != 1 && channels != 2) return;
    const int width = f->wBitsPerSample / 8;
    if (width != 1 && width != 2) return;
    const int32_t frames = bytes / (width * channels);
    if (frames == 0) return;
    auto sample = [&](int32_t i, int c) -> int32_t {
        if (width == 1) return data[i * channels + c];
        int16_t s;
        std::memcpy(&s, data + 2 * (i * channels + c), 2);
        return s;
    };
    PcmMinMaxPair result[2];
    for (int c = 0; c < channels; ++c) {
        int32_t minV = sample(0, c), maxV = minV, minAt = 0, maxAt = 0;
        for (int32_t i = 1; i < frames; ++i) {
            const int32_t v = sample(i, c);
            if (v < minV) minV = v, minAt = i;
            if (v > maxV) maxV = v, maxAt = i;
        }
        result[c] = minAt <= maxAt ? PcmMinMaxPair{minV, maxV} : PcmMinMaxPair{maxV, minV};
    }
    left = result[0];
    right = channels == 1 ? result[0] : result[1];
}

int32_t PcmResampleCopy(const WAVEFORMATEX* f, const uint8_t* source, uint8_t* output, uint32_t step,
                        uint32_t& fraction, int32_t& outputBytesLeft, int32_t& inputBytesLeft) {
    if (!f || f->nBlockAlign == 0) return 0;
    const int32_t frame = f->nBlockAlign;
    int32_t written = 0;
    while (outputBytesLeft >= frame && inputBytesLeft >= frame) {
        std::memcpy(output + written, source, static_cast<size_t>(frame));
        written += frame;
        outputBytesLeft -= frame;
        fraction += step;
        if (fraction > 65534) {
            const int64_t consumed = static_cast<int64_t>(fraction >> 16) * frame;
            fraction &= 0xFFFF;
            const int32_t take = static_cast<int32_t>(std::min<int64_t>(consumed, inputBytesLeft));
            source += take;
            inputBytesLeft -= take;
        }
    }
    return written;
}
