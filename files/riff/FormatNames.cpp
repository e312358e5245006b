#include "files/riff/FormatNames.h"

#include <cstdio>

#include "files/codecs/CodecService.h"
#include "files/codecs/FormatSeparators.h"

namespace {

struct TagName {
    uint16_t tag;
    const char* name;
};

// First match wins; 0x0011 is listed twice and its second name is never reached.
constexpr TagName tagNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};

} // namespace

std::string FormatTagName(const WAVEFORMATEX* format) {
    if (!format) return "Unknown";
    for (const auto& entry : tagNames)
        if (entry.tag == format->wFormatTag) return entry.name;
    return "Unknown";
}

std::string FormatDescription(const WAVEFORMATEX* f) {
    if (!f) return "Unknown";
    const auto separators = RefreshFormatSeparators();
    // A format without rate or channels has no bit count to derive.
    const unsigned bits =
        f->nSamplesPerSec == 0 || f->nChannels == 0
            ? 0
            : static_cast<uint16_t>(uint64_t{f->nAvgBytesPerSec} * 8 / f->nSamplesPerSec / f->nChannels);
    char text[128];
    if (f->nChannels == 1 || f->nChannels == 2)
        std::snprintf(text, sizeof text, "%u%c%.03u kHz%c %u Bit%c %s", f->nSamplesPerSec / 1000,
                      separators.decimal, f->nSamplesPerSec % 1000, separators.list, bits, separators.list,
                      f->nChannels == 1 ? "Mono" : "Stereo");
    else
        std::snprintf(text, sizeof text, "%u%c%.03u kHz%c %u Bit%c %u Channels", f->nSamplesPerSec / 1000,
                      separators.decimal, f->nSamplesPerSec % 1000, separators.list, bits, separators.list,
                      static_cast<unsigned>(f->nChannels));
    return text;
}

void DescribeFormat(const WAVEFORMATEX* format, std::string& tagName, std::string& description) {
    tagName = FormatTagName(format);
    description = FormatDescription(format);
    if (!format || !CodecServiceReady()) return;
    ACMFORMATTAGDETAILSA tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = format->wFormatTag;
    if (acmFormatTagDetailsA(&tag, ACM_FORMATTAGDETAILSF_FORMATTAG) == MMSYSERR_NOERROR)
        tagName = tag.szFormatTag;
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = format->wFormatTag;
    details.pwfx = const_cast<WAVEFORMATEX*>(format);
    details.cbwfx = static_cast<uint32_t>(WaveFormatSize(format));
    if (acmFormatDetailsA(&details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
        description = details.szFormat;
}
