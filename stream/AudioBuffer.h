#pragma once
// The audio buffer: the sound service's header record, our extension fields, then the data.

#include <cstdint>

struct WAVEHDR {
    uint8_t* lpData;          // first data byte
    uint32_t dwBufferLength;  // capacity; on a pull, the number of bytes wanted
    uint32_t dwBytesRecorded; // valid data bytes
    uint32_t dwUser;          // free value travelling with the data
    uint32_t dwFlags;         // WHDR_DONE, WHDR_PREPARED
    uint32_t dwLoops;         // always 0
    WAVEHDR* lpNext;          // always null
    uint32_t reserved;        // private to the sound service
};

constexpr uint32_t WHDR_DONE = 0x1;
constexpr uint32_t WHDR_PREPARED = 0x2;

struct TMMAudioBuffer : WAVEHDR {
    uint32_t Reserved2;       // zero
    uint32_t SubmittedLength; // bytes last handed to an output device
    TMMAudioBuffer* NextBuffer; // the buffer an output device submits next
    int32_t LoopEnabled;      // -1 when the consumer wants the source to loop
    int32_t LoopCount;        // loops requested, 0 = endless
    int32_t LoopsLeft;        // decremented by the source at each wrap
    int32_t LoopWrapped;      // -1 in the buffer in which the source wrapped
};

using PWaveHdr = TMMAudioBuffer*;

// Header + data in one block from `allocator`-style memory is laid out by the drivers;
// these helpers give the data address of such a block.
inline uint8_t* AudioBufferData(TMMAudioBuffer* buffer) { return reinterpret_cast<uint8_t*>(buffer + 1); }
