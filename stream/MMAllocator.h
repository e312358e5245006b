#pragma once
// Per-driver pool of reusable memory blocks.
//
// Any thread may allocate and release (a device's callback thread and the main thread do so at
// the same time), so every operation takes the pool's lock.

#include <cstddef>
#include <mutex>
#include <vector>

#include "stream/AudioBuffer.h"

class TMMAllocator {
public:
    TMMAllocator() = default;
    TMMAllocator(const TMMAllocator&) = delete;
    TMMAllocator& operator=(const TMMAllocator&) = delete;
    ~TMMAllocator();

    // A free block of exactly `bytes`, else the first free block at least that large, else a new
    // zero-filled block. Reused blocks keep their old contents. Null when memory is refused.
    void* Allocate(unsigned flags, size_t bytes);
    // Decrements the block's use count and clears the caller's pointer; the block stays pooled.
    void Release(void*& address);
    template <typename T> void Release(T*& address) {
        void* p = address;
        Release(p);
        address = nullptr;
    }
    void FreeAll();
    void Compact();

    // A buffer with its data right after the header: lpData set, dwBufferLength = bytes.
    TMMAudioBuffer* AllocateAudioBuffer(size_t bytes);

    size_t BlockCount() const;

private:
    struct Block {
        void* address;
        size_t size;
        int useCount;
    };
    mutable std::mutex lock_;
    std::vector<Block> blocks_;
};
