#pragma once
// Sources, sinks and waiting helpers for the ring buffer, trigger and timer tests.

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "stream/MMDSPComponent.h"
#include "stream/MainThreadDispatcher.h"

namespace streamtest {

using namespace std::chrono_literals;

inline uint8_t PatternByte(size_t i) { return static_cast<uint8_t>(i * 7 + 3); }

inline std::vector<uint8_t> Pattern(size_t bytes, size_t from = 0) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = PatternByte(from + i);
    return v;
}

// Main thread: runs posts and events until `done` holds; false after the timeout.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    auto& dispatcher = MainThreadDispatcher::Instance();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        QCoreApplication::processEvents();
        dispatcher.ProcessPending();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        dispatcher.WaitServing(done, 2ms);
    }
}

// Main thread: keeps serving posts for a while (to show that something does not happen).
inline void Settle(std::chrono::milliseconds time = 50ms) {
    WaitUntil([] { return false; }, time);
}

// The head of a chain: serves `total` bytes of the pattern, at most what each pull asks for.
// With `endWithData` the pull that brings the last bytes says "no more"; otherwise it says
// "more" and the next pull brings nothing and says "no more".
class PatternSource : public TMMDSPComponent {
public:
    explicit PatternSource(size_t total, bool endWithData = true) : total_(total), endWithData_(endWithData) {}

    int BufferLoad(PWaveHdr b, bool& more) override {
        const int index = pulls_.fetch_add(1);
        {
            std::lock_guard guard(lock_);
            requests_.push_back(b->dwBufferLength);
            loopRequests_.push_back(b->LoopEnabled);
            threads_.push_back(std::this_thread::get_id());
        }
        if (beforePull) beforePull(index);
        if (hiccupAt == index) { // a faulty source: nothing, yet "more"
            b->dwBytesRecorded = 0;
            more = true;
            return 0;
        }
        const size_t n = std::min<size_t>(b->dwBufferLength, total_ - position_);
        for (size_t i = 0; i < n; ++i) b->lpData[i] = PatternByte(position_ + i);
        position_ += n;
        b->dwBytesRecorded = static_cast<uint32_t>(n);
        more = position_ < total_ || (!endWithData_ && n > 0);
        return 0;
    }

    int Pulls() const { return pulls_.load(); }
    std::vector<uint32_t> Requests() const {
        std::lock_guard guard(lock_);
        return requests_;
    }
    std::vector<int32_t> LoopRequests() const {
        std::lock_guard guard(lock_);
        return loopRequests_;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard guard(lock_);
        return threads_;
    }

    std::function<void(int pull)> beforePull; // may block
    int hiccupAt = -1;

private:
    const size_t total_;
    const bool endWithData_;
    size_t position_ = 0;
    std::atomic<int> pulls_{0};
    mutable std::mutex lock_;
    std::vector<uint32_t> requests_;
    std::vector<int32_t> loopRequests_;
    std::vector<std::thread::id> threads_;
};

// A sink that keeps everything pushed into it.
class RecordingSink : public TMMDSPComponent {
public:
    void BufferReady(PWaveHdr b) override {
        const int index = started_.fetch_add(1);
        if (duringPush) duringPush(index, b); // may block or throw
        {
            std::lock_guard guard(lock_);
            data_.insert(data_.end(), b->lpData, b->lpData + b->dwBytesRecorded);
            sizes_.push_back(b->dwBytesRecorded);
            lengths_.push_back(b->dwBufferLength);
            threads_.push_back(std::this_thread::get_id());
        }
        pushes_.fetch_add(1);
        TMMDSPComponent::BufferReady(b);
    }

    int Pushes() const { return pushes_.load(); }
    int PushesStarted() const { return started_.load(); }
    std::vector<uint8_t> Data() const {
        std::lock_guard guard(lock_);
        return data_;
    }
    std::vector<uint32_t> Sizes() const {
        std::lock_guard guard(lock_);
        return sizes_;
    }
    std::vector<uint32_t> Lengths() const {
        std::lock_guard guard(lock_);
        return lengths_;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard guard(lock_);
        return threads_;
    }

    std::function<void(int push, PWaveHdr b)> duringPush;

private:
    std::atomic<int> started_{0};
    std::atomic<int> pushes_{0};
    mutable std::mutex lock_;
    std::vector<uint8_t> data_;
    std::vector<uint32_t> sizes_, lengths_;
    std::vector<std::thread::id> threads_;
};

// An audio buffer of its own, for pushing into and pulling from a component under test.
class TestBuffer {
public:
    explicit TestBuffer(uint32_t capacity) : memory_(sizeof(TMMAudioBuffer) + capacity) {
        header()->lpData = AudioBufferData(header());
        header()->dwBufferLength = capacity;
    }
    TMMAudioBuffer* header() { return reinterpret_cast<TMMAudioBuffer*>(memory_.data()); }
    std::vector<uint8_t> Bytes() { return {header()->lpData, header()->lpData + header()->dwBytesRecorded}; }

private:
    std::vector<uint8_t> memory_;
};

struct Pulled {
    std::vector<uint8_t> data;
    bool more = false;
    int32_t wrapped = 0;
    uint32_t user = 0;
};

inline Pulled Pull(TMMDSPComponent& c, uint32_t bytes, int32_t loopEnabled = 0, int32_t loopCount = 0,
                   int32_t loopsLeft = 0) {
    TestBuffer b(bytes);
    auto* h = b.header();
    h->dwBytesRecorded = 0;
    h->LoopEnabled = loopEnabled;
    h->LoopCount = loopCount;
    h->LoopsLeft = loopsLeft;
    bool more = false;
    c.BufferLoad(h, more);
    return {b.Bytes(), more, h->LoopWrapped, h->dwUser};
}

inline void Push(TMMDSPComponent& c, const std::vector<uint8_t>& data, uint32_t user = 0) {
    TestBuffer b(static_cast<uint32_t>(data.size()));
    auto* h = b.header();
    if (!data.empty()) std::memcpy(h->lpData, data.data(), data.size());
    h->dwBytesRecorded = static_cast<uint32_t>(data.size());
    h->dwUser = user;
    c.BufferReady(h);
}

} // namespace streamtest
