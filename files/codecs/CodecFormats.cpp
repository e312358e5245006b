#include "files/codecs/CodecFormats.h"

#include "files/codecs/CodecService.h"
#include "files/codecs/FormatSeparators.h"

bool ParsePcmFormat(const WAVEFORMATEX& f, PcmShape& shape) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
    const int bits = f.wBitsPerSample;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (f.nChannels < 1 || f.nChannels > 8) return false;
    if (f.nSamplesPerSec < 1 || f.nSamplesPerSec > 1000000) return false;
    const int align = bits / 8 * f.nChannels;
    if (f.nBlockAlign != align) return false;
    shape = {bits, f.nChannels, f.nSamplesPerSec, align};
    return true;
}

bool SuggestDecodedPcm(const WAVEFORMATEX& source, WAVEFORMATEX& d, uint32_t destinationBytes,
                       uint32_t flags) {
    if (destinationBytes < sizeof(WAVEFORMATEX)) return false;
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && d.wFormatTag != WAVE_FORMAT_PCM) return false;
    if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && d.nChannels != source.nChannels) return false;
    if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && d.nSamplesPerSec != source.nSamplesPerSec)
        return false;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && d.wBitsPerSample != 16) return false;
    d = PcmBuildFormat(16, source.nChannels, source.nSamplesPerSec);
    return true;
}

bool IsDecodedPcm(const WAVEFORMATEX& source, const WAVEFORMATEX& d) {
    PcmShape shape;
    return ParsePcmFormat(d, shape) && shape.bits == 16 && shape.channels == source.nChannels &&
           shape.rate == source.nSamplesPerSec;
}

std::string DescribeCodecFormat(const WAVEFORMATEX& f) {
    const auto separators = RefreshFormatSeparators();
    const std::string list(1, separators.list);
    std::string text = KilohertzText(f.nSamplesPerSec, separators.decimal);
    if (f.wBitsPerSample > 0) text += list + " " + std::to_string(f.wBitsPerSample) + " Bit";
    if (f.nChannels == 1)
        text += list + " Mono";
    else if (f.nChannels == 2)
        text += list + " Stereo";
    else
        text += list + " " + std::to_string(f.nChannels) + " Channels";
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        text += list + " " + std::to_string((static_cast<uint64_t>(f.nAvgBytesPerSec) * 8 + 500) / 1000) +
                " kBit/s";
    return text;
}
