#include "files/codecs/PcmDriver.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "files/codecs/CodecFormats.h"
#include "files/codecs/CodecService.h"
#include "files/codecs/PcmResampler.h"
#include "stream/PcmRoutines.h"

namespace {

// Samples as signed integers of their own width (8-bit PCM is stored offset by 128).
inline int32_t loadSample(const uint8_t* p, int bits) {
    switch (bits) {
    case 8:
        return static_cast<int32_t>(p[0]) - 128;
    case 16:
        return static_cast<int16_t>(p[0] | (p[1] << 8));
    case 24:
        return static_cast<int32_t>(static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >> 8;
    default:
        return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
    }
}

inline void storeSample(uint8_t* p, int bits, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    switch (bits) {
    case 8:
        p[0] = static_cast<uint8_t>(v + 128);
        break;
    case 16:
        p[0] = static_cast<uint8_t>(u);
        p[1] = static_cast<uint8_t>(u >> 8);
        break;
    case 24:
        p[0] = static_cast<uint8_t>(u);
        p[1] = static_cast<uint8_t>(u >> 8);
        p[2] = static_cast<uint8_t>(u >> 16);
        break;
    default:
        p[0] = static_cast<uint8_t>(u);
        p[1] = static_cast<uint8_t>(u >> 8);
        p[2] = static_cast<uint8_t>(u >> 16);
        p[3] = static_cast<uint8_t>(u >> 24);
    }
}

inline int32_t clampToBits(double v, int bits) {
    const double top = std::ldexp(1.0, bits - 1);
    const double r = std::nearbyint(v);
    if (r >= top) return static_cast<int32_t>(top - 1);
    if (r < -top) return static_cast<int32_t>(-top);
    return static_cast<int32_t>(r);
}

bool channelsMap(int from, int to) {
    return from == to || from == 1 || to == 1;
}

// Rate changes stay within a factor the buffers are sized for (8 kHz to 384 kHz is 48).
constexpr uint64_t LargestRateRatio = 64;
bool ratesConvert(uint32_t from, uint32_t to) {
    return from == to || (from * LargestRateRatio >= to && to * LargestRateRatio >= from);
}

// Width changes: wider samples are shifted up, narrower ones divided with truncation toward zero
// (8 <-> 16 bit goes through the shared PCM routine, which does the same).
class PcmWidthStream : public CodecStream {
public:
    PcmWidthStream(const PcmShape& from, const PcmShape& to) : from_(from), to_(to) {}
    uint32_t DestinationBytes(uint32_t sourceBytes) const override {
        return static_cast<uint32_t>(std::min<uint64_t>(
            static_cast<uint64_t>(sourceBytes / from_.blockAlign) * to_.blockAlign, UINT32_MAX));
    }
    uint32_t SourceBytes(uint32_t destinationBytes) const override {
        return destinationBytes / to_.blockAlign * from_.blockAlign;
    }
    bool Convert(const uint8_t* source, uint32_t sourceBytes, uint8_t* destination, uint32_t destinationBytes,
                 bool, uint32_t& used, uint32_t& produced) override {
        const uint32_t frames = std::min(sourceBytes / from_.blockAlign, destinationBytes / to_.blockAlign);
        const uint32_t samples = frames * from_.channels;
        const int fromBytes = from_.bits / 8, toBytes = to_.bits / 8;
        if ((from_.bits == 8 || from_.bits == 16) && (to_.bits == 8 || to_.bits == 16)) {
            PcmConvertBits(from_.bits, destination, to_.bits, static_cast<int32_t>(samples * fromBytes),
                           source);
        } else {
            for (uint32_t i = 0; i < samples; ++i) {
                int64_t v = loadSample(source + i * fromBytes, from_.bits);
                if (to_.bits > from_.bits)
                    v *= int64_t{1} << (to_.bits - from_.bits);
                else
                    v /= int64_t{1} << (from_.bits - to_.bits);
                storeSample(destination + i * toBytes, to_.bits, static_cast<int32_t>(v));
            }
        }
        used = frames * from_.blockAlign;
        produced = frames * to_.blockAlign;
        return true;
    }
    void Reset() override {}

private:
    PcmShape from_, to_;
};

// Channel and rate changes at one width. Equal rates map channels exactly in integers; other
// rates go through the resampler.
class PcmShapeStream : public CodecStream {
public:
    PcmShapeStream(const PcmShape& from, const PcmShape& to, bool highQuality) : from_(from), to_(to) {
        if (from.rate != to.rate) {
            resampler_.emplace(to.channels, from.rate, to.rate, highQuality);
            frames_.resize(static_cast<size_t>(2048) * to.channels);
        }
    }
    uint32_t DestinationBytes(uint32_t sourceBytes) const override {
        const uint32_t frames = sourceBytes / from_.blockAlign;
        const uint64_t out = resampler_ ? resampler_->MaxOutputFrames(frames) : frames;
        return static_cast<uint32_t>(std::min<uint64_t>(out * to_.blockAlign, UINT32_MAX));
    }
    uint32_t SourceBytes(uint32_t destinationBytes) const override {
        const uint32_t frames = destinationBytes / to_.blockAlign;
        return (resampler_ ? resampler_->InputFramesFor(frames) : frames) * from_.blockAlign;
    }
    bool Convert(const uint8_t* source, uint32_t sourceBytes, uint8_t* destination, uint32_t destinationBytes,
                 bool end, uint32_t& used, uint32_t& produced) override {
        const uint32_t inFrames = sourceBytes / from_.blockAlign;
        const uint32_t room = destinationBytes / to_.blockAlign;
        if (!resampler_) {
            const uint32_t n = std::min(inFrames, room);
            for (uint32_t i = 0; i < n; ++i)
                mapFrame(source + i * from_.blockAlign, destination + i * to_.blockAlign);
            used = n * from_.blockAlign;
            produced = n * to_.blockAlign;
            return true;
        }
        auto load = [&](uint32_t first, uint32_t count, float* into) {
            for (uint32_t i = 0; i < count; ++i)
                loadFrame(source + (first + i) * from_.blockAlign, into + i * to_.channels);
        };
        // The output passes through a small float buffer; the resampler keeps its own input window.
        uint32_t taken = 0, written = 0;
        const uint32_t block = static_cast<uint32_t>(frames_.size() / to_.channels);
        for (;;) {
            uint32_t consumed = 0;
            const uint32_t want = std::min(block, room - written);
            const uint32_t n = resampler_->Process(
                inFrames - taken,
                [&](uint32_t first, uint32_t count, float* into) { load(taken + first, count, into); },
                frames_.data(), want, end, consumed);
            taken += consumed;
            for (uint32_t i = 0; i < n; ++i) {
                uint8_t* out = destination + (written + i) * to_.blockAlign;
                for (int c = 0; c < to_.channels; ++c)
                    storeSample(out + c * (to_.bits / 8), to_.bits,
                                clampToBits(frames_[static_cast<size_t>(i) * to_.channels + c], to_.bits));
            }
            written += n;
            if (n < want || written == room) break;
        }
        used = taken * from_.blockAlign;
        produced = written * to_.blockAlign;
        return true;
    }
    void Reset() override {
        if (resampler_) resampler_->Reset();
    }

private:
    void mapFrame(const uint8_t* in, uint8_t* out) const {
        const int size = from_.bits / 8;
        if (from_.channels == to_.channels) {
            std::copy_n(in, from_.blockAlign, out);
        } else if (from_.channels == 1) {
            for (int c = 0; c < to_.channels; ++c)
                std::copy_n(in, size, out + c * size);
        } else {
            int64_t sum = 0;
            for (int c = 0; c < from_.channels; ++c)
                sum += loadSample(in + c * size, from_.bits);
            storeSample(out, to_.bits, static_cast<int32_t>(sum / from_.channels));
        }
    }
    void loadFrame(const uint8_t* in, float* out) const {
        const int size = from_.bits / 8;
        if (from_.channels == to_.channels) {
            for (int c = 0; c < to_.channels; ++c)
                out[c] = static_cast<float>(loadSample(in + c * size, from_.bits));
        } else if (from_.channels == 1) {
            const float v = static_cast<float>(loadSample(in, from_.bits));
            for (int c = 0; c < to_.channels; ++c)
                out[c] = v;
        } else {
            double sum = 0;
            for (int c = 0; c < from_.channels; ++c)
                sum += loadSample(in + c * size, from_.bits);
            out[0] = static_cast<float>(sum / from_.channels);
        }
    }

    PcmShape from_, to_;
    std::optional<PcmResampler> resampler_;
    std::vector<float> frames_;
};

} // namespace

std::vector<CodecTagInfo> PcmDriver::Tags() const {
    return {{WAVE_FORMAT_PCM, "PCM", sizeof(WAVEFORMATEX), ACMDRIVERDETAILS_SUPPORTF_CONVERTER}};
}

bool PcmDriver::Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const {
    PcmShape from, to;
    if (!ParsePcmFormat(source, from) || !ParsePcmFormat(destination, to)) return false;
    const bool sameShape = from.channels == to.channels && from.rate == to.rate;
    if (from.bits != to.bits) return sameShape;
    return channelsMap(from.channels, to.channels) && ratesConvert(from.rate, to.rate);
}

bool PcmDriver::Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& d, uint32_t destinationBytes,
                        uint32_t flags) const {
    PcmShape from;
    if (!ParsePcmFormat(source, from) || destinationBytes < sizeof(WAVEFORMATEX)) return false;
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && d.wFormatTag != WAVE_FORMAT_PCM) return false;
    const int bits = (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? d.wBitsPerSample : from.bits;
    const int channels = (flags & ACM_FORMATSUGGESTF_NCHANNELS) ? d.nChannels : from.channels;
    const uint32_t rate = (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? d.nSamplesPerSec : from.rate;
    if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || channels < 1 || channels > 8) return false;
    const WAVEFORMATEX candidate = PcmBuildFormat(bits, channels, rate);
    if (!Supports(source, candidate)) return false;
    d = candidate;
    return true;
}

std::unique_ptr<CodecStream> PcmDriver::Open(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
                                             bool highQuality) const {
    PcmShape from, to;
    ParsePcmFormat(source, from);
    ParsePcmFormat(destination, to);
    if (from.bits != to.bits) return std::make_unique<PcmWidthStream>(from, to);
    return std::make_unique<PcmShapeStream>(from, to, highQuality);
}

std::string PcmDriver::Describe(const WAVEFORMATEX& format) const {
    PcmShape shape;
    return ParsePcmFormat(format, shape) ? DescribeCodecFormat(format) : std::string();
}
