#pragma once
// Our own reader of MPEG audio frame headers (layers I-III, MPEG 1, 2 and 2.5). It decides
// whether a file is MPEG at all: a WAV or a text file must never be decoded as noise, so a
// stream counts as MPEG only where several frames in a row chain up with consistent headers.

#include <cstddef>
#include <cstdint>

#include "files/id3/ID3v1Tag.h"

struct MpegFrameInfo {
    int Version = 0;     // 1, 2, or 25 for MPEG 2.5
    int Layer = 0;       // 1, 2, 3
    int Bitrate = 0;     // kbit/s
    int SampleRate = 0;  // Hz
    int ChannelMode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool Padding = false;
    bool Crc = false;
    int FrameBytes = 0;
    int SamplesPerFrame = 0;
    int Channels() const { return ChannelMode == 3 ? 1 : 2; }
};

// False for anything that is not a valid header (free-format bit rates included).
bool ParseMpegFrameHeader(const uint8_t* p, size_t available, MpegFrameInfo& out);
// The offset of the first header that starts `needed` frames in a row with the same version,
// layer and sample rate, or -1. A run that reaches the end of the data exactly also counts.
int64_t FindMpegFrames(const uint8_t* data, size_t size, int needed = 3, MpegFrameInfo* first = nullptr);

// Holder of a raw header; nothing of the system reads headers through it.
struct TMpegFrameHdr {
    uint8_t Raw[4] = {0, 0, 0, 0};
    uint32_t Value = 0;
};

// What the batch window keeps per file: the frame header and the tag.
struct TAudioInfo {
    TMpegFrameHdr FrameHeader;
    TID3v1Tag Tag;
    int ScanLimit = 10240;
};
