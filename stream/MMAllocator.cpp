#include "stream/MMAllocator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

TMMAllocator::~TMMAllocator() { FreeAll(); }

void* TMMAllocator::Allocate(unsigned, size_t bytes) {
    std::lock_guard guard(lock_);
    Block* chosen = nullptr;
    for (auto& b : blocks_)
        if (b.useCount == 0 && b.size == bytes) {
            chosen = &b;
            break;
        }
    if (!chosen)
        for (auto& b : blocks_)
            if (b.useCount == 0 && b.size >= bytes) {
                chosen = &b;
                break;
            }
    if (!chosen) {
        void* p = std::calloc(1, bytes ? bytes : 1);
        if (!p) return nullptr;
        blocks_.push_back({p, bytes, 0});
        chosen = &blocks_.back();
    }
    chosen->useCount = 1;
    return chosen->address;
}

void TMMAllocator::Release(void*& address) {
    if (!address) return;
    std::lock_guard guard(lock_);
    for (auto& b : blocks_)
        if (b.address == address) {
            if (b.useCount > 0) --b.useCount;
            break;
        }
    address = nullptr;
}

void TMMAllocator::FreeAll() {
    std::lock_guard guard(lock_);
    for (auto& b : blocks_) std::free(b.address);
    blocks_.clear();
}

void TMMAllocator::Compact() {
    std::lock_guard guard(lock_);
    auto it = std::remove_if(blocks_.begin(), blocks_.end(), [](const Block& b) {
        if (b.useCount != 0) return false;
        std::free(b.address);
        return true;
    });
    blocks_.erase(it, blocks_.end());
}

TMMAudioBuffer* TMMAllocator::AllocateAudioBuffer(size_t bytes) {
    auto* buffer = static_cast<TMMAudioBuffer*>(Allocate(0, sizeof(TMMAudioBuffer) + bytes));
    if (!buffer) return nullptr;
    std::memset(static_cast<void*>(buffer), 0, sizeof(TMMAudioBuffer));
    buffer->lpData = AudioBufferData(buffer);
    buffer->dwBufferLength = static_cast<uint32_t>(bytes);
    return buffer;
}

size_t TMMAllocator::BlockCount() const {
    std::lock_guard guard(lock_);
    return blocks_.size();
}
