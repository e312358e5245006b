#include "files/codecs/ImaAdpcm.h"

#include <algorithm>

#include "files/codecs/SampleIO.h"

const int16_t ImaStepTable[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int8_t ImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

namespace {

struct ImaChannel {
    int predictor;
    int index;
};

inline int16_t expandNibble(ImaChannel& c, int code) {
    const int step = ImaStepTable[c.index];
    int diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    c.predictor = (code & 8) ? c.predictor - diff : c.predictor + diff;
    c.predictor = std::clamp(c.predictor, -32768, 32767);
    c.index = std::clamp(c.index + ImaIndexTable[code], 0, 88);
    return static_cast<int16_t>(c.predictor);
}

constexpr int MaxChannels = 8;

} // namespace

bool ParseImaAdpcmFormat(const WAVEFORMATEX& f, ImaAdpcmLayout& layout) {
    if (f.wFormatTag != WAVE_FORMAT_IMA_ADPCM || f.wBitsPerSample != 4) return false;
    if (f.nChannels < 1 || f.nChannels > MaxChannels || f.nSamplesPerSec == 0) return false;
    const int channels = f.nChannels;
    const int align = f.nBlockAlign;
    if (align <= 4 * channels || align % (4 * channels) != 0) return false;
    const int largest = (align - 4 * channels) * 2 / channels + 1;
    int perBlock = largest;
    if (f.cbSize >= 2) {
        perBlock = LoadU16(reinterpret_cast<const uint8_t*>(&f) + sizeof(WAVEFORMATEX));
        if (perBlock < 2 || perBlock > largest) return false;
    }
    layout = {channels, align, perBlock};
    return true;
}

int ImaAdpcmDecodeBlock(const ImaAdpcmLayout& layout, const uint8_t* block, uint32_t bytes, uint8_t* output) {
    const int channels = layout.channels;
    if (bytes < static_cast<uint32_t>(4 * channels)) return 0;
    ImaChannel state[MaxChannels];
    for (int c = 0; c < channels; ++c) {
        const uint8_t* h = block + 4 * c;
        state[c].predictor = LoadS16(h);
        state[c].index = std::min<int>(h[2], 88);
        StoreS16(output + 2 * c, static_cast<int16_t>(state[c].predictor));
    }
    const uint32_t groupBytes = 4u * channels;
    const uint32_t groups = (std::min<uint32_t>(bytes, layout.blockAlign) - groupBytes) / groupBytes;
    const int frames = std::min<int>(layout.samplesPerBlock, 1 + 8 * static_cast<int>(groups));
    const uint8_t* data = block + groupBytes;
    for (uint32_t g = 0; g < groups; ++g) {
        for (int c = 0; c < channels; ++c) {
            const uint8_t* codes = data + (g * channels + c) * 4;
            for (int k = 0; k < 8; ++k) {
                const int frame = 1 + static_cast<int>(g) * 8 + k;
                if (frame >= frames) break;
                const int code = (k & 1) ? codes[k >> 1] >> 4 : codes[k >> 1] & 0x0F;
                StoreS16(output + 2 * (frame * channels + c), expandNibble(state[c], code));
            }
        }
    }
    return frames;
}
