#include "files/codecs/MsAdpcm.h"

#include <algorithm>

#include "files/codecs/SampleIO.h"

const int16_t MsAdpcmStandardCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                   {240, 0}, {460, -208}, {392, -232}};
const int16_t MsAdpcmAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                       768, 614, 512, 409, 307, 230, 230, 230};

namespace {
constexpr int MaxChannels = 8;
// Keeps the delta product inside 32 bits whatever a damaged block asks for.
constexpr int64_t MaxDelta = INT32_MAX / 768;
} // namespace

bool ParseMsAdpcmFormat(const WAVEFORMATEX& f, MsAdpcmLayout& layout) {
    if (f.wFormatTag != WAVE_FORMAT_ADPCM || f.wBitsPerSample != 4) return false;
    if (f.nChannels < 1 || f.nChannels > MaxChannels || f.nSamplesPerSec == 0) return false;
    if (f.cbSize < 4) return false;
    const int channels = f.nChannels;
    const int align = f.nBlockAlign;
    if (align < 7 * channels) return false;
    const uint8_t* extra = reinterpret_cast<const uint8_t*>(&f) + sizeof(WAVEFORMATEX);
    const int perBlock = LoadU16(extra);
    const int largest = (align - 7 * channels) * 2 / channels + 2;
    if (perBlock < 2 || perBlock > largest) return false;
    const int count = LoadU16(extra + 2);
    if (count < 1 || count > 256 || 4 + 4 * count > f.cbSize) return false;
    layout.channels = channels;
    layout.blockAlign = align;
    layout.samplesPerBlock = perBlock;
    layout.coefficientCount = count;
    for (int i = 0; i < count; ++i) {
        layout.coefficients[i][0] = LoadS16(extra + 4 + 4 * i);
        layout.coefficients[i][1] = LoadS16(extra + 6 + 4 * i);
    }
    layout.standardCoefficients = count == 7;
    for (int i = 0; i < count && layout.standardCoefficients; ++i)
        layout.standardCoefficients = layout.coefficients[i][0] == MsAdpcmStandardCoefficients[i][0] &&
                                      layout.coefficients[i][1] == MsAdpcmStandardCoefficients[i][1];
    return true;
}

int MsAdpcmDecodeBlock(const MsAdpcmLayout& layout, const uint8_t* block, uint32_t bytes, uint8_t* output) {
    const int channels = layout.channels;
    const uint32_t header = 7u * channels;
    bytes = std::min<uint32_t>(bytes, layout.blockAlign);
    if (bytes < header) return 0;
    int64_t coef1[MaxChannels], coef2[MaxChannels], delta[MaxChannels], s1[MaxChannels], s2[MaxChannels];
    for (int c = 0; c < channels; ++c) {
        const int predictor = block[c];
        if (predictor >= layout.coefficientCount) return -1;
        coef1[c] = layout.coefficients[predictor][0];
        coef2[c] = layout.coefficients[predictor][1];
        delta[c] = LoadS16(block + channels + 2 * c);
        s1[c] = LoadS16(block + 3 * channels + 2 * c);
        s2[c] = LoadS16(block + 5 * channels + 2 * c);
        StoreS16(output + 2 * c, static_cast<int16_t>(s2[c]));
        StoreS16(output + 2 * (channels + c), static_cast<int16_t>(s1[c]));
    }
    const uint32_t codes = (bytes - header) * 2;
    const uint32_t wanted = static_cast<uint32_t>(layout.samplesPerBlock - 2) * channels;
    const uint32_t n = std::min(codes, wanted) / channels * channels;
    const uint8_t* data = block + header;
    uint8_t* out = output + 4 * channels;
    for (uint32_t i = 0; i < n; ++i) {
        const int c = static_cast<int>(i % channels);
        const int code = (i & 1) ? data[i >> 1] & 0x0F : data[i >> 1] >> 4;
        const int signedCode = code >= 8 ? code - 16 : code;
        // C division truncates toward zero, as the reference decoders do.
        int64_t predicted = (s1[c] * coef1[c] + s2[c] * coef2[c]) / 256;
        predicted += signedCode * delta[c];
        const int16_t sample = Saturate16(predicted);
        s2[c] = s1[c];
        s1[c] = sample;
        delta[c] = std::min<int64_t>(MsAdpcmAdaptation[code] * delta[c] / 256, MaxDelta);
        if (delta[c] < 16) delta[c] = 16;
        StoreS16(out + 2 * i, sample);
    }
    return 2 + static_cast<int>(n / channels);
}
