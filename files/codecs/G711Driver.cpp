#include "files/codecs/G711Driver.h"

#include <algorithm>

#include "files/codecs/CodecFormats.h"
#include "files/codecs/CodecService.h"
#include "files/codecs/G711.h"

namespace {

constexpr uint16_t WAVE_FORMAT_ALAW = 6;
constexpr uint16_t WAVE_FORMAT_MULAW = 7;

bool isCompanded(const WAVEFORMATEX& f) {
    return (f.wFormatTag == WAVE_FORMAT_ALAW || f.wFormatTag == WAVE_FORMAT_MULAW) && f.wBitsPerSample == 8 &&
           f.nChannels >= 1 && f.nChannels <= 8 && f.nBlockAlign == f.nChannels && f.nSamplesPerSec >= 1 &&
           f.nSamplesPerSec <= 1000000;
}

WAVEFORMATEX companded(uint16_t tag, int channels, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = static_cast<uint16_t>(channels);
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<uint16_t>(channels);
    f.nAvgBytesPerSec = rate * channels;
    f.wBitsPerSample = 8;
    return f;
}

class G711Stream : public CodecStream {
public:
    G711Stream(bool decode, bool alaw) : decode_(decode), alaw_(alaw) {}
    uint32_t DestinationBytes(uint32_t sourceBytes) const override {
        return decode_ ? static_cast<uint32_t>(std::min<uint64_t>(uint64_t{sourceBytes} * 2, UINT32_MAX))
                       : sourceBytes / 2;
    }
    uint32_t SourceBytes(uint32_t destinationBytes) const override {
        return decode_
                   ? destinationBytes / 2
                   : static_cast<uint32_t>(std::min<uint64_t>(uint64_t{destinationBytes} * 2, UINT32_MAX));
    }
    bool Convert(const uint8_t* source, uint32_t sourceBytes, uint8_t* destination, uint32_t destinationBytes,
                 bool, uint32_t& used, uint32_t& produced) override {
        if (decode_) {
            const uint32_t n = std::min(sourceBytes, destinationBytes / 2);
            alaw_ ? ALawDecode(source, destination, n) : MuLawDecode(source, destination, n);
            used = n;
            produced = 2 * n;
        } else {
            const uint32_t n = std::min(sourceBytes / 2, destinationBytes);
            alaw_ ? ALawEncode(source, destination, n) : MuLawEncode(source, destination, n);
            used = 2 * n;
            produced = n;
        }
        return true;
    }
    void Reset() override {}

private:
    bool decode_, alaw_;
};

bool isEncoding(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) {
    PcmShape shape;
    return ParsePcmFormat(source, shape) && shape.bits == 16 && isCompanded(destination) &&
           destination.nChannels == shape.channels && destination.nSamplesPerSec == shape.rate;
}

} // namespace

std::vector<CodecTagInfo> G711Driver::Tags() const {
    return {{WAVE_FORMAT_ALAW, "CCITT A-Law", sizeof(WAVEFORMATEX), ACMDRIVERDETAILS_SUPPORTF_CODEC},
            {WAVE_FORMAT_MULAW, "CCITT mu-Law", sizeof(WAVEFORMATEX), ACMDRIVERDETAILS_SUPPORTF_CODEC}};
}

bool G711Driver::Supports(const WAVEFORMATEX& source, const WAVEFORMATEX& destination) const {
    return (isCompanded(source) && IsDecodedPcm(source, destination)) || isEncoding(source, destination);
}

bool G711Driver::Suggest(const WAVEFORMATEX& source, WAVEFORMATEX& d, uint32_t bytes, uint32_t flags) const {
    if (isCompanded(source)) return SuggestDecodedPcm(source, d, bytes, flags);
    PcmShape shape;
    if (!ParsePcmFormat(source, shape) || shape.bits != 16 || bytes < sizeof(WAVEFORMATEX)) return false;
    // Encoding is only suggested when the caller fixes one of our tags.
    if (!(flags & ACM_FORMATSUGGESTF_WFORMATTAG)) return false;
    if (d.wFormatTag != WAVE_FORMAT_ALAW && d.wFormatTag != WAVE_FORMAT_MULAW) return false;
    if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && d.nChannels != shape.channels) return false;
    if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && d.nSamplesPerSec != shape.rate) return false;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && d.wBitsPerSample != 8) return false;
    d = companded(d.wFormatTag, shape.channels, shape.rate);
    return true;
}

std::unique_ptr<CodecStream> G711Driver::Open(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
                                              bool) const {
    const bool decode = isCompanded(source);
    const uint16_t tag = decode ? source.wFormatTag : destination.wFormatTag;
    return std::make_unique<G711Stream>(decode, tag == WAVE_FORMAT_ALAW);
}

std::string G711Driver::Describe(const WAVEFORMATEX& format) const {
    return isCompanded(format) ? DescribeCodecFormat(format) : std::string();
}
