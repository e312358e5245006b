#include "stream/MMRingBuffer.h"

#include "stream/MMErrors.h"
#include "stream/MMServices.h"
#include "stream/MMThread.h"
#include "stream/MainThreadDispatcher.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <system_error>
#include <thread>

namespace {
void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
} // namespace

class TMMQueueThread : public TMMDSPThread {
public:
    explicit TMMQueueThread(TMMRingBuffer* owner) : TMMDSPThread("RingBuffer", owner), ring_(owner) {}
    ~TMMQueueThread() override {
        Terminate();
        WaitFor();
    }

protected:
    void DSPExecute() override { ring_->workerMain(); }

private:
    TMMRingBuffer* ring_;
};

TMMRingBuffer::TMMRingBuffer() = default;

TMMRingBuffer::~TMMRingBuffer() {
    if (queueOpen_.load()) Closed();
}

// --- properties ---

void TMMRingBuffer::SetBufferSize(int32_t bytes) {
    bytes = std::max(bytes, MinDriverBufferSize);
    if (IsOpened()) {
        if (bytes != RequestedBufferSize()) throw EMMBufferError(MMText::PropertyWhileOpen);
        return;
    }
    TMMDSPComponent::SetBufferSize(bytes);
}

void TMMRingBuffer::SetNumBuffers(int value) {
    if (value <= 1 || value == numBuffers_) return;
    if (IsOpened()) throw EMMBufferError(MMText::PropertyWhileOpen);
    numBuffers_ = value;
}

void TMMRingBuffer::SetQueueMode(TMMQueueMode value) {
    if (value == mode_.load()) return;
    if (IsOpened()) throw EMMBufferError(MMText::PropertyWhileOpen);
    mode_.store(value);
}

bool TMMRingBuffer::QueueEmpty() const {
    std::lock_guard guard(lock_);
    return count_ == 0;
}

bool TMMRingBuffer::QueueFull() const {
    std::lock_guard guard(lock_);
    return slots_ > 0 && count_ == slots_;
}

int TMMRingBuffer::QueuedEntries() const {
    std::lock_guard guard(lock_);
    return count_;
}

int64_t TMMRingBuffer::QueuedBytes() const {
    std::lock_guard guard(lock_);
    return queuedBytes_;
}

int64_t TMMRingBuffer::FreeBytes() const {
    std::lock_guard guard(lock_);
    return int64_t(entrySize_) * (slots_ - count_);
}

void TMMRingBuffer::fire(const TMMNotifyEvent& event) {
    if (event) event(this);
}

// --- chain state ---

void TMMRingBuffer::Opened() {
    TMMDSPComponent::Opened();
    if (queueOpen_.load()) return;
    const TMMQueueMode mode = mode_.load();
    if (mode == qmRead || mode == qmWrite) {
        threadStarted_.Reset();
        busy_.Reset();
        done_.Reset();
        terminate_.Reset();
        auto thread = std::make_unique<TMMQueueThread>(this);
        thread->SetPriority(tpHigher);
        bool started = false;
        try {
            thread->Resume();
            started = threadStarted_.Wait(ThreadTimeout);
        } catch (const std::system_error&) {
        }
        if (!started) {
            terminate_.Set();
            thread.reset();
            TMMDSPComponent::Closed();
            throw EMMBufferError(std::string("RingBuffer:\n\r") + MMText::CouldNotCreateThread);
        }
        thread_ = std::move(thread);
    }
    std::lock_guard guard(lock_);
    entrySize_ = static_cast<uint32_t>(std::max(GetBufferSize(), MinDriverBufferSize));
    slots_ = numBuffers_;
    readChunk_ = writeChunk_ = std::max((TransferChunk / entrySize_) * entrySize_, entrySize_);
    entries_.clear();
    for (int i = 0; i < slots_; ++i) {
        auto* entry = static_cast<Entry*>(pool_.Allocate(0, sizeof(Entry) + entrySize_));
        entry->data = reinterpret_cast<uint8_t*>(entry + 1);
        entry->length = entry->user = entry->flags = 0;
        entries_.push_back(entry);
    }
    if (mode != qmNone) work_ = pool_.AllocateAudioBuffer(std::max(TransferChunk, entrySize_));
    silence_ = SilenceValue(PWaveFormat());
    pcm_ = !PWaveFormat() || PWaveFormat()->wFormatTag == WAVE_FORMAT_PCM;
    emptyQueueLocked();
    loopEnabled_ = wrapped_ = false;
    loopCount_ = loopsLeft_ = 0;
    primed_ = ended_ = sourceEnded_ = jobActive_ = false;
    stopping_.store(false);
    queueOpen_.store(true);
}

void TMMRingBuffer::Started() {
    stopping_.store(false);
    TMMDSPComponent::Started();
}

void TMMRingBuffer::flushQueue() {
    {
        std::lock_guard guard(lock_);
        primed_ = false;
        stopping_.store(true);
        loopEnabled_ = wrapped_ = false;
        loopCount_ = loopsLeft_ = 0;
    }
    waitIdle();
    // What is still queued reaches the output before the queue is emptied.
    if (mode_.load() == qmWrite) runDrainHere();
    std::lock_guard guard(lock_);
    emptyQueueLocked();
}

void TMMRingBuffer::Stopped() {
    if (queueOpen_.load()) flushQueue();
    TMMDSPComponent::Stopped();
}

void TMMRingBuffer::Reset() {
    if (queueOpen_.load()) {
        flushQueue();
        stopping_.store(false);
    }
    TMMDSPComponent::Reset();
}

void TMMRingBuffer::Closed() {
    if (queueOpen_.load()) {
        stopping_.store(true);
        waitIdle();
        if (mode_.load() == qmWrite) runDrainHere();
        {
            std::lock_guard guard(lock_);
            queueOpen_.store(false); // pushers and pullers leave the entries alone from here
        }
        stopWorker();
        releaseMemory();
    }
    TMMDSPComponent::Closed();
}

void TMMRingBuffer::stopWorker() {
    if (!thread_) return;
    waitIdle();
    terminate_.Set();
    auto& dispatcher = MainThreadDispatcher::Instance();
    if (dispatcher.IsMainThread())
        dispatcher.WaitServing([&] { return thread_->Finished(); }, ThreadTimeout);
    // An idle worker ends at once on terminate; the join never frees what it still uses.
    thread_.reset();
}

void TMMRingBuffer::releaseMemory() {
    std::lock_guard guard(lock_);
    for (Entry* e : entries_) pool_.Release(e);
    entries_.clear();
    pool_.Release(work_);
    slots_ = 0;
    emptyQueueLocked();
}

void TMMRingBuffer::emptyQueueLocked() {
    writeIndex_ = readIndex_ = count_ = 0;
    lastRead_ = -1;
    queuedBytes_ = 0;
    ended_ = sourceEnded_ = false;
}

// --- push and pull ---

void TMMRingBuffer::BufferReady(PWaveHdr lpWaveHdr) {
    const TMMQueueMode mode = mode_.load();
    if (mode == qmWrite || mode == qmDuplex) {
        writeBlock(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded, 0, lpWaveHdr->dwUser, true);
        return;
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

int TMMRingBuffer::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    const TMMQueueMode mode = mode_.load();
    if (mode == qmNone || mode == qmWrite) return TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (!queueOpen_.load()) return 0;
    if (!enabled_.load() && mode == qmRead && QueuedBytes() == 0)
        return TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    {
        // The consumer's looping request, handed to the source with the next fill.
        std::lock_guard guard(lock_);
        const bool wanted = lpWaveHdr->LoopEnabled != 0;
        if (wanted != loopEnabled_) {
            loopEnabled_ = wanted;
            if (wanted) {
                loopCount_ = lpWaveHdr->LoopCount;
                loopsLeft_ = lpWaveHdr->LoopsLeft;
                wrapped_ = false;
            }
        }
    }
    uint32_t flags = 0, user = 0;
    const uint32_t got = get(lpWaveHdr->lpData, lpWaveHdr->dwBufferLength, flags, user);
    lpWaveHdr->dwBytesRecorded = got;
    lpWaveHdr->dwUser = user;
    lpWaveHdr->LoopWrapped = (flags & Wrapped) ? -1 : 0;
    if (mode == qmDuplex)
        MoreBuffers = true;
    else
        MoreBuffers = got > 0 && !(flags & EndOfData);
    return 0;
}

// --- the queue ---

void TMMRingBuffer::writeBlock(const uint8_t* data, uint32_t length, uint32_t flags, uint32_t user, bool fromPush) {
    if (!queueOpen_.load() || (fromPush && !enabled_.load()) || length == 0) return;
    // A block larger than an entry fills several; only what does not fit is lost.
    uint32_t offset = 0;
    while (offset < length) {
        const uint32_t part = std::min(length - offset, entrySize_);
        const bool last = offset + part >= length;
        const PutResult result = putEntry(data + offset, part, last ? flags : 0, user);
        if (result == PutResult::Dropped) return;
        if (result == PutResult::Full) {
            fire(OnOverlow);
            return;
        }
        offset += part;
    }
}

TMMRingBuffer::PutResult TMMRingBuffer::putEntry(const uint8_t* data, uint32_t length, uint32_t flags,
                                                 uint32_t user) {
    std::unique_lock guard(lock_);
    if (!queueOpen_.load()) return PutResult::Dropped;
    const bool writeMode = mode_.load() == qmWrite;
    // Only a draining worker can make room, so waiting makes sense in qmWrite alone.
    const bool wait = writeMode && waitIfFull_.load();
    if (count_ == slots_ && !wait) return PutResult::Full;
    if (writeMode && count_ + 1 >= slots_ / 2 && !jobActive_ && !stopping_.load()) startJobLocked();
    if (wait) {
        while (count_ == slots_ && queueOpen_.load() && !stopping_.load()) {
            if (!jobActive_) startJobLocked();
            guard.unlock();
            sleepMs(1);
            guard.lock();
        }
        if (!queueOpen_.load()) return PutResult::Dropped;
        if (count_ == slots_) return PutResult::Full; // left the wait on a stop
    }
    Entry* e = entries_[writeIndex_];
    std::memcpy(e->data, data, length);
    e->length = length;
    e->user = user;
    e->flags = flags;
    writeIndex_ = (writeIndex_ + 1) % slots_;
    ++count_;
    queuedBytes_ += length;
    return PutResult::Stored;
}

uint32_t TMMRingBuffer::get(uint8_t* data, uint32_t length, uint32_t& flags, uint32_t& user) {
    flags = user = 0;
    if (!queueOpen_.load() || !data || length == 0) return 0;
    std::unique_lock guard(lock_);
    if (!queueOpen_.load()) return 0;
    const TMMQueueMode mode = mode_.load();
    if (mode == qmRead) {
        if (enabled_.load() && count_ < slots_ / 2 && !jobActive_ && !sourceEnded_) startJobLocked();
        if (!primed_) {
            // The first read after a start waits for the worker's fill; a negative TimeOut
            // gives up at once.
            const auto start = std::chrono::steady_clock::now();
            const int timeout = timeOut_.load();
            bool gaveUp = false;
            while (jobActive_) {
                guard.unlock();
                const bool finished = done_.TryWait();
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count();
                if (!finished && elapsed >= timeout) gaveUp = true;
                if (!finished && !gaveUp) sleepMs(1);
                guard.lock();
                if (finished || gaveUp || !queueOpen_.load()) break;
            }
            if (!queueOpen_.load()) return 0;
            if (gaveUp || count_ == 0) {
                if (ended_) flags = EndOfData;
                return 0;
            }
            primed_ = true;
        }
    }
    if (mode == qmDuplex && !primed_) {
        // A duplex chain starts with silence until the queue is more than half full.
        if (count_ > slots_ / 2) {
            primed_ = true;
        } else {
            std::memset(data, silence_, length);
            return length;
        }
    }
    if (count_ == 0) {
        if (ended_) {
            flags = EndOfData;
            return 0;
        }
        guard.unlock();
        fire(OnEmpty);
        guard.lock();
        if (!queueOpen_.load()) return 0;
        if ((loopIfEmpty_.load() || !pcm_) && lastRead_ >= 0) {
            const Entry* e = entries_[lastRead_];
            const uint32_t n = std::min(e->length, length);
            std::memcpy(data, e->data, n);
            flags = e->flags & ~uint32_t(EndOfData);
            user = e->user;
            return n;
        }
        std::memset(data, silence_, length);
        return length;
    }
    return takeLocked(data, length, flags, user);
}

uint32_t TMMRingBuffer::takeLocked(uint8_t* data, uint32_t length, uint32_t& flags, uint32_t& user) {
    Entry* e = entries_[readIndex_];
    const uint32_t n = std::min(e->length, length);
    std::memcpy(data, e->data, n);
    user = e->user;
    if (n < e->length) {
        // The rest stays at the front of the entry. The wrap mark goes out with the first part,
        // the end mark with the last.
        flags = e->flags & ~uint32_t(EndOfData);
        e->flags &= ~uint32_t(Wrapped);
        std::memmove(e->data, e->data + n, e->length - n);
        e->length -= n;
    } else {
        flags = e->flags;
        lastRead_ = readIndex_;
        readIndex_ = (readIndex_ + 1) % slots_;
        --count_;
        if (flags & EndOfData) ended_ = true;
    }
    queuedBytes_ -= n;
    return n;
}

uint32_t TMMRingBuffer::readBlock(uint8_t* data, uint32_t length) {
    uint32_t got = 0;
    std::lock_guard guard(lock_);
    while (got < length && queueOpen_.load() && count_ > 0) {
        uint32_t flags, user;
        got += takeLocked(data + got, length - got, flags, user);
    }
    return got;
}

void TMMRingBuffer::markEndOfData() {
    std::lock_guard guard(lock_);
    sourceEnded_ = true;
    if (count_ > 0)
        entries_[(writeIndex_ + slots_ - 1) % slots_]->flags |= EndOfData;
    else
        ended_ = true;
}

// --- the worker ---

void TMMRingBuffer::startJobLocked() {
    jobActive_ = true;
    done_.Reset();
    busy_.Set();
}

bool TMMRingBuffer::onWorker() const { return thread_ && TMMDSPThread::Current() == thread_.get(); }

void TMMRingBuffer::waitIdle() {
    const TMMQueueMode mode = mode_.load();
    if ((mode != qmRead && mode != qmWrite) || !thread_ || onWorker()) return;
    auto idle = [this] {
        std::lock_guard guard(lock_);
        return !jobActive_;
    };
    auto& dispatcher = MainThreadDispatcher::Instance();
    if (dispatcher.IsMainThread()) {
        // The job may be synchronising with the main thread.
        while (!dispatcher.WaitServing(idle, ThreadTimeout)) {
        }
    } else {
        while (!idle()) sleepMs(1);
    }
    done_.Reset();
}

void TMMRingBuffer::runDrainHere() {
    {
        std::lock_guard guard(lock_);
        if (jobActive_) return; // the worker is at it (only when called on the worker itself)
        jobActive_ = true;
    }
    try {
        drainJob(true);
    } catch (...) {
        std::lock_guard guard(lock_);
        jobActive_ = false;
        throw;
    }
    std::lock_guard guard(lock_);
    jobActive_ = false;
}

void TMMRingBuffer::workerMain() {
    threadStarted_.Set();
    for (;;) {
        if (MMEvent::WaitAny({&terminate_, &busy_}) == 0) break;
        for (;;) {
            try {
                if (mode_.load() == qmRead)
                    fillJob();
                else
                    drainJob(false);
            } catch (...) {
                ReportErrorOnMainThread(std::current_exception());
            }
            std::lock_guard guard(lock_);
            // Data queued while the drain finished would otherwise wait for the next push.
            if (mode_.load() == qmWrite && queuedBytes_ > 0 && queueOpen_.load() && !stopping_.load()) continue;
            jobActive_ = false;
            busy_.Reset();
            done_.Set();
            break;
        }
    }
    threadStarted_.Set();
}

void TMMRingBuffer::fillJob() {
    if (!queueOpen_.load() || FreeBytes() <= 0) return;
    fire(OnFillQueue);
    while (FreeBytes() >= 1 && !stopping_.load()) {
        TMMAudioBuffer& w = *work_;
        w.dwBufferLength = static_cast<uint32_t>(std::min<int64_t>(FreeBytes(), readChunk_));
        w.dwBytesRecorded = 0;
        {
            std::lock_guard guard(lock_);
            w.LoopEnabled = loopEnabled_ ? -1 : 0;
            w.LoopCount = loopCount_;
            w.LoopsLeft = loopsLeft_;
            w.LoopWrapped = wrapped_ ? -1 : 0;
        }
        bool more = false;
        TMMDSPComponent::BufferLoad(&w, more);
        sleepMs(1);
        if (w.dwBytesRecorded == 0) {
            markEndOfData();
            break;
        }
        uint32_t flags = 0;
        {
            std::lock_guard guard(lock_);
            loopEnabled_ = w.LoopEnabled != 0;
            loopCount_ = w.LoopCount;
            loopsLeft_ = w.LoopsLeft;
            wrapped_ = w.LoopWrapped != 0;
            if (wrapped_) flags |= Wrapped;
            if (!more) {
                flags |= EndOfData;
                sourceEnded_ = true;
            }
        }
        writeBlock(w.lpData, std::min(w.dwBytesRecorded, w.dwBufferLength), flags, w.dwUser, false);
        {
            std::lock_guard guard(lock_);
            wrapped_ = false;
        }
        if (!more || stopping_.load()) break;
        sleepMs(1);
    }
    fire(OnFillQueueEnd);
}

void TMMRingBuffer::drainJob(bool forStop) {
    if (!queueOpen_.load() || QueuedBytes() <= 0) return;
    fire(OnFlushQueue);
    // The worker gives up when a stop begins; the stop's own drain forwards what was queued when
    // it began, so a source that keeps pushing cannot hold the stop forever.
    int64_t budget = forStop ? QueuedBytes() : INT64_MAX;
    while (budget > 0 && (forStop || !stopping_.load())) {
        const int64_t queued = QueuedBytes();
        if (queued <= 0) break;
        TMMAudioBuffer& w = *work_;
        const auto wanted = static_cast<uint32_t>(std::min<int64_t>({queued, int64_t(writeChunk_), budget}));
        const uint32_t got = readBlock(w.lpData, wanted);
        if (got == 0) break;
        budget -= got;
        w.dwBytesRecorded = got;
        w.dwBufferLength = writeChunk_;
        TMMDSPComponent::BufferReady(&w);
        sleepMs(1);
    }
    fire(OnFlushQueueEnd);
}
