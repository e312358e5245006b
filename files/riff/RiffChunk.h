#pragma once
// RIFF chunk descriptors and the chunk operations of the writing side: create a chunk, and ascend
// out of it so that its size (and the pad byte of an odd size) is written.
//
// A chunk is a four-character identifier, a 32-bit little-endian size counting the data only, the
// data, and a zero pad byte when the size is odd. RIFF and LIST chunks begin with a form type.

#include <cstdint>

#include "files/riff/BufferedFile.h"

constexpr uint32_t MakeFourCC(const char (&id)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(id[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(id[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[3])) << 24;
}

constexpr uint32_t FourCCRiff = MakeFourCC("RIFF");
constexpr uint32_t FourCCWave = MakeFourCC("WAVE");
constexpr uint32_t FourCCFmt = MakeFourCC("fmt ");
constexpr uint32_t FourCCData = MakeFourCC("data");
constexpr uint32_t FourCCFact = MakeFourCC("fact");
constexpr uint32_t FourCCList = MakeFourCC("LIST");
constexpr uint32_t FourCCInfo = MakeFourCC("INFO");
constexpr uint32_t FourCCDisp = MakeFourCC("DISP");

struct RiffChunkDescriptor {
    uint32_t ckid = 0;
    uint32_t cksize = 0;
    uint32_t fccType = 0;     // form or list type of RIFF and LIST chunks
    int64_t dwDataOffset = 0; // file offset of the first data byte (the form type, where there is one)
    bool dirty = false;       // the size has to be written when ascending
};

// Writes the header at the current position (size 0, and the form type when `fccType` is set)
// and marks the chunk dirty. False when the write failed.
bool RiffCreateChunk(BufferedFile& file, RiffChunkDescriptor& chunk, uint32_t ckid, uint32_t fccType = 0);

// For a dirty chunk: its size becomes the current position minus its data offset, is written into
// the header, and an odd size gets its pad byte. The position ends after the chunk in any case.
// False when a write failed or the size does not fit in 32 bits.
bool RiffAscend(BufferedFile& file, RiffChunkDescriptor& chunk);

// Writes one whole chunk: header, `bytes` of data and the pad byte of an odd size.
bool RiffWriteChunk(BufferedFile& file, uint32_t ckid, const void* data, uint32_t bytes);
