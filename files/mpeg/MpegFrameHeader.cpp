#include "files/mpeg/MpegFrameHeader.h"

namespace {

// kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index]
const int BitrateTable[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
const int RateTable[3] = {44100, 48000, 32000};

} // namespace

bool ParseMpegFrameHeader(const uint8_t* p, size_t available, MpegFrameInfo& out) {
    if (available < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = (p[2] >> 4) & 15;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    if ((p[3] & 3) == 2) return false; // reserved emphasis
    MpegFrameInfo f;
    f.Version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    f.Layer = 4 - layerBits;
    f.Bitrate = BitrateTable[f.Version == 1 ? 0 : 1][f.Layer - 1][bitrateIndex];
    f.SampleRate = RateTable[rateIndex] / (f.Version == 1 ? 1 : f.Version == 2 ? 2 : 4);
    f.Padding = (p[2] & 2) != 0;
    f.Crc = (p[1] & 1) == 0;
    f.ChannelMode = (p[3] >> 6) & 3;
    if (f.Layer == 1) {
        f.SamplesPerFrame = 384;
        f.FrameBytes = (12 * f.Bitrate * 1000 / f.SampleRate + (f.Padding ? 1 : 0)) * 4;
    } else {
        const bool lsf = f.Version != 1 && f.Layer == 3;
        f.SamplesPerFrame = lsf ? 576 : 1152;
        f.FrameBytes = (lsf ? 72 : 144) * f.Bitrate * 1000 / f.SampleRate + (f.Padding ? 1 : 0);
    }
    if (f.FrameBytes < 4) return false;
    out = f;
    return true;
}

int64_t FindMpegFrames(const uint8_t* data, size_t size, int needed, MpegFrameInfo* first) {
    if (!data || needed < 1) return -1;
    for (size_t at = 0; at + 4 <= size; ++at) {
        MpegFrameInfo head;
        if (!ParseMpegFrameHeader(data + at, size - at, head)) continue;
        size_t pos = at + static_cast<size_t>(head.FrameBytes);
        int chained = 1;
        while (chained < needed) {
            if (pos == size) break; // the data ends on a frame boundary
            MpegFrameInfo next;
            if (!ParseMpegFrameHeader(data + pos, size - pos, next) || next.Version != head.Version ||
                next.Layer != head.Layer || next.SampleRate != head.SampleRate)
                break;
            pos += static_cast<size_t>(next.FrameBytes);
            ++chained;
        }
        if (chained >= needed || (pos == size && chained >= 2)) {
            if (first) *first = head;
            return static_cast<int64_t>(at);
        }
    }
    return -1;
}
