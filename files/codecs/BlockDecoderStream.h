#pragma once
// A decoding stream over self-contained blocks: whole blocks are decoded while their output fits;
// at the end a trailing part block is decoded as far as the codec allows.

#include <algorithm>
#include <cstring>

#include "files/codecs/CodecDriver.h"

// `Codec` provides: uint32_t blockBytes, framesPerBlock, frameBytes (output); int decode(const
// uint8_t* block, uint32_t bytes, uint8_t* output) returning frames (negative for a damaged block);
// bool decodesPartBlocks; void reset().
template <typename Codec> class BlockDecoderStream : public CodecStream {
public:
    explicit BlockDecoderStream(Codec codec) : codec_(std::move(codec)) {}

    uint32_t DestinationBytes(uint32_t sourceBytes) const override {
        const uint64_t blocks =
            (static_cast<uint64_t>(sourceBytes) + codec_.blockBytes - 1) / codec_.blockBytes;
        return static_cast<uint32_t>(std::min<uint64_t>(blocks * outputPerBlock(), UINT32_MAX));
    }
    uint32_t SourceBytes(uint32_t destinationBytes) const override {
        return static_cast<uint32_t>(destinationBytes / outputPerBlock() * codec_.blockBytes);
    }
    bool Convert(const uint8_t* source, uint32_t sourceBytes, uint8_t* destination, uint32_t destinationBytes,
                 bool end, uint32_t& used, uint32_t& produced) override {
        used = produced = 0;
        const uint32_t perBlock = outputPerBlock();
        while (sourceBytes - used >= codec_.blockBytes && destinationBytes - produced >= perBlock) {
            decodeInto(source + used, codec_.blockBytes, destination + produced);
            used += codec_.blockBytes;
            produced += perBlock;
        }
        const uint32_t rest = sourceBytes - used;
        if (end && rest > 0 && rest < codec_.blockBytes && destinationBytes - produced >= perBlock) {
            if (codec_.decodesPartBlocks) produced += decodeInto(source + used, rest, destination + produced);
            used = sourceBytes;
        }
        if (end) codec_.reset();
        return true;
    }
    void Reset() override { codec_.reset(); }

private:
    uint32_t outputPerBlock() const { return codec_.framesPerBlock * codec_.frameBytes; }
    // A damaged block still takes its place in time, as silence.
    uint32_t decodeInto(const uint8_t* block, uint32_t bytes, uint8_t* out) {
        const int frames = codec_.decode(block, bytes, out);
        if (frames >= 0) return static_cast<uint32_t>(frames) * codec_.frameBytes;
        std::memset(out, 0, outputPerBlock());
        return outputPerBlock();
    }

    Codec codec_;
};
