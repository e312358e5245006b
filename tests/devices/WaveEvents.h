#pragma once
// Records the notifications a wave service delivers, with their arrival times, and lets a test
// wait for them.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "devices/WaveService.h"

class WaveEvents {
public:
    struct Event {
        WaveHandle handle;
        WaveMessage kind;
        WAVEHDR* buffer;
        uint32_t bytesRecorded;
        std::chrono::steady_clock::time_point at;
    };

    static void Callback(WaveHandle handle, WaveMessage kind, void* instance, WAVEHDR* buffer) {
        auto* self = static_cast<WaveEvents*>(instance);
        {
            std::lock_guard guard(self->lock_);
            self->events_.push_back({handle, kind, buffer, buffer ? buffer->dwBytesRecorded : 0,
                                     std::chrono::steady_clock::now()});
        }
        self->changed_.notify_all();
        if (self->onEvent) self->onEvent(handle, kind, buffer);
    }

    std::vector<Event> All() const {
        std::lock_guard guard(lock_);
        return events_;
    }
    std::vector<Event> Of(WaveMessage kind) const {
        std::lock_guard guard(lock_);
        std::vector<Event> found;
        for (const auto& e : events_)
            if (e.kind == kind) found.push_back(e);
        return found;
    }
    int Count(WaveMessage kind) const { return static_cast<int>(Of(kind).size()); }
    // True once `count` notifications of the kind have arrived within `timeout`.
    bool WaitFor(WaveMessage kind, int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, timeout, [&] {
            int n = 0;
            for (const auto& e : events_)
                n += e.kind == kind;
            return n >= count;
        });
    }
    void Clear() {
        std::lock_guard guard(lock_);
        events_.clear();
    }

    // Runs on the service's thread after each event is recorded.
    void (*onEvent)(WaveHandle, WaveMessage, WAVEHDR*) = nullptr;

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// Audio buffers with their data, kept alive for the length of a test.
class TestBuffers {
public:
    TestBuffers(int count, uint32_t bytes) : storage_(count), headers_(count) {
        for (int i = 0; i < count; ++i) {
            storage_[i].assign(bytes, 0);
            std::memset(&headers_[i], 0, sizeof(WAVEHDR));
            headers_[i].lpData = storage_[i].data();
            headers_[i].dwBufferLength = bytes;
        }
    }
    WAVEHDR* operator[](int i) { return &headers_[i]; }
    std::vector<uint8_t>& Data(int i) { return storage_[i]; }
    int Count() const { return static_cast<int>(headers_.size()); }

private:
    std::vector<std::vector<uint8_t>> storage_;
    std::vector<WAVEHDR> headers_;
};
