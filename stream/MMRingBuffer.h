#pragma once
// A queue of equally sized entries between the two sides of a chain.
//
//   qmNone   - pushes and pulls pass straight through;
//   qmRead   - a worker pre-fetches from upstream in chunks of about 64 KB; pulls are served from
//              the queue (the first pull after a start waits up to TimeOut ms for the worker);
//   qmWrite  - pushes are queued and a worker forwards them downstream in chunks of about 64 KB;
//              a stop forwards what is still queued before it empties the queue;
//   qmDuplex - a pushing source fills the queue and a pulling sink empties it; pulls return
//              silence until the queue is more than half full.
// A full queue drops what does not fit and fires OnOverlow; an empty one fires OnEmpty and
// returns silence (or the entry read last, with LoopIfEmpty or a non-PCM format). The source's
// end of data travels with the newest queued entry, or is kept while the queue is empty, so a
// reader always gets 0 bytes with MoreBuffers false at the end.
//
// Threads: the pushing thread, the pulling thread and the worker share the queue; `lock_`
// guards indices, counts, entry contents, the looping state and the job flag. Open, close,
// start, stop and property changes run on the main thread. Events fire on the thread that
// notices the condition, so handlers must not touch windows.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream/MMAllocator.h"
#include "stream/MMCriticalSection.h"
#include "stream/MMDSPComponent.h"
#include "stream/MMEvent.h"
#include "stream/MMNotifyEvent.h"

enum TMMQueueMode { qmNone, qmRead, qmWrite, qmDuplex };

class TMMQueueThread;

class TMMRingBuffer : public TMMDSPComponent {
public:
    static constexpr uint32_t TransferChunk = 65536;
    static constexpr auto ThreadTimeout = std::chrono::milliseconds(5000);

    TMMRingBuffer();
    ~TMMRingBuffer() override;

    // Bytes per entry; values below 32 become 32. Refused while open, as are the next two.
    void SetBufferSize(int32_t bytes) override;
    int NumBuffers() const { return numBuffers_; }
    void SetNumBuffers(int value); // 1 or less is ignored
    TMMQueueMode QueueMode() const { return mode_.load(); }
    void SetQueueMode(TMMQueueMode value);
    bool Enabled() const { return enabled_.load(); }
    void SetEnabled(bool value) { enabled_.store(value); }
    bool WaitIfFull() const { return waitIfFull_.load(); }
    void SetWaitIfFull(bool value) { waitIfFull_.store(value); }
    bool LoopIfEmpty() const { return loopIfEmpty_.load(); }
    void SetLoopIfEmpty(bool value) { loopIfEmpty_.store(value); }
    int TimeOut() const { return timeOut_.load(); }
    void SetTimeOut(int ms) { timeOut_.store(ms); }

    TMMNotifyEvent OnOverlow, OnEmpty, OnFillQueue, OnFillQueueEnd, OnFlushQueue, OnFlushQueueEnd;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Reset() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    // Read under the lock.
    bool QueueEmpty() const;
    bool QueueFull() const;
    int QueuedEntries() const;
    int64_t QueuedBytes() const;
    int64_t FreeBytes() const;

private:
    friend class TMMQueueThread;
    enum : uint32_t { EndOfData = 1, Wrapped = 2 };
    // Each entry is one pool block: this header, then the entry's bytes.
    struct Entry {
        uint8_t* data;
        uint32_t length;
        uint32_t user;
        uint32_t flags;
    };

    // The queue operations.
    void writeBlock(const uint8_t* data, uint32_t length, uint32_t flags, uint32_t user, bool fromPush);
    enum class PutResult { Stored, Full, Dropped };
    PutResult putEntry(const uint8_t* data, uint32_t length, uint32_t flags, uint32_t user);
    uint32_t get(uint8_t* data, uint32_t length, uint32_t& flags, uint32_t& user);
    uint32_t takeLocked(uint8_t* data, uint32_t length, uint32_t& flags, uint32_t& user);
    uint32_t readBlock(uint8_t* data, uint32_t length);
    void emptyQueueLocked();
    void markEndOfData();

    // The worker and its jobs.
    void workerMain();
    void startJobLocked();
    void fillJob();
    void drainJob(bool forStop);
    void runDrainHere();
    void waitIdle();
    // Stops the worker, drains a write queue downstream and empties the queue.
    void flushQueue();
    bool onWorker() const;
    void stopWorker();
    void releaseMemory();
    void fire(const TMMNotifyEvent& event);

    // Properties (read by the other threads while open).
    int numBuffers_ = 20;
    std::atomic<TMMQueueMode> mode_{qmNone};
    std::atomic<bool> enabled_{true};
    std::atomic<bool> waitIfFull_{false};
    std::atomic<bool> loopIfEmpty_{false};
    std::atomic<int> timeOut_{10000};

    mutable TMMCriticalSection lock_;
    // Guarded by lock_ (written only on the main thread while the other threads are idle:
    // entries_, entrySize_, slots_, chunks, work_, silence_, pcm_):
    std::vector<Entry*> entries_;
    uint32_t entrySize_ = 0;
    int slots_ = 0;
    int writeIndex_ = 0, readIndex_ = 0, lastRead_ = -1, count_ = 0;
    int64_t queuedBytes_ = 0;
    bool primed_ = false;
    bool ended_ = false;       // end of data reached with nothing queued
    bool sourceEnded_ = false; // the source said so; no further fills until a stop
    bool jobActive_ = false;
    bool loopEnabled_ = false;
    int32_t loopCount_ = 0, loopsLeft_ = 0;
    bool wrapped_ = false;
    uint32_t readChunk_ = 0, writeChunk_ = 0;
    PWaveHdr work_ = nullptr;
    uint8_t silence_ = 0;
    bool pcm_ = true;
    std::atomic<bool> queueOpen_{false};
    std::atomic<bool> stopping_{false};

    TMMAllocator pool_;
    std::unique_ptr<TMMQueueThread> thread_;
    MMEvent threadStarted_{MMEvent::AutoReset};
    MMEvent busy_{MMEvent::ManualReset};
    MMEvent done_{MMEvent::AutoReset};
    MMEvent terminate_{MMEvent::AutoReset};
};
