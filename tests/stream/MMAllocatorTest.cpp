#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "stream/MMAllocator.h"

namespace {

TEST(MMAllocator, ReusesExactSizeBeforeLargerBlock) {
    TMMAllocator pool;
    void* big = pool.Allocate(0, 200);
    void* exact = pool.Allocate(0, 100);
    void* busy = pool.Allocate(0, 100);
    pool.Release(big);
    EXPECT_EQ(big, nullptr); // the caller's pointer is cleared
    void* exactCopy = exact;
    pool.Release(exact);

    // A free block of exactly the size wins over an earlier, larger free block.
    EXPECT_EQ(pool.Allocate(0, 100), exactCopy);
    // Then the first free block at least as large.
    void* second = pool.Allocate(0, 150);
    EXPECT_NE(second, nullptr);
    EXPECT_NE(second, busy);
    EXPECT_EQ(pool.BlockCount(), 3u);
    // Nothing free fits: a new block.
    void* fresh = pool.Allocate(0, 100);
    EXPECT_EQ(pool.BlockCount(), 4u);
    (void)fresh;
}

TEST(MMAllocator, NewBlocksAreZeroReusedBlocksKeepContents) {
    TMMAllocator pool;
    auto* p = static_cast<uint8_t*>(pool.Allocate(0, 64));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
    std::memset(p, 0x5A, 64);
    pool.Release(p);
    auto* q = static_cast<uint8_t*>(pool.Allocate(0, 64));
    EXPECT_EQ(q[10], 0x5A);
}

TEST(MMAllocator, CompactFreesOnlyUnusedBlocks) {
    TMMAllocator pool;
    void* a = pool.Allocate(0, 10);
    void* b = pool.Allocate(0, 20);
    pool.Release(a);
    pool.Compact();
    EXPECT_EQ(pool.BlockCount(), 1u);
    EXPECT_NE(pool.Allocate(0, 20), b); // b is still in use
    EXPECT_EQ(pool.BlockCount(), 2u);
    pool.FreeAll();
    EXPECT_EQ(pool.BlockCount(), 0u);
}

TEST(MMAllocator, AudioBufferHasDataAfterHeader) {
    TMMAllocator pool;
    TMMAudioBuffer* b = pool.AllocateAudioBuffer(512);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->lpData, reinterpret_cast<uint8_t*>(b) + sizeof(TMMAudioBuffer));
    EXPECT_EQ(b->dwBufferLength, 512u);
    EXPECT_EQ(b->dwBytesRecorded, 0u);
    EXPECT_EQ(b->NextBuffer, nullptr);
    pool.Release(b);
    EXPECT_EQ(b, nullptr);
}

TEST(MMAllocator, ConcurrentAllocateAndRelease) {
    TMMAllocator pool;
    auto worker = [&pool] {
        for (int i = 0; i < 2000; ++i) {
            void* p = pool.Allocate(0, 64 + (i % 4) * 16);
            ASSERT_NE(p, nullptr);
            pool.Release(p);
        }
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    EXPECT_LE(pool.BlockCount(), 8u); // blocks were reused, not leaked into the pool
}

} // namespace
