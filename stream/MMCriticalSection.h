#pragma once
// A recursive lock that also counts how many threads hold or wait for it.

#include <atomic>
#include <mutex>

class TMMCriticalSection {
public:
    void Acquire() {
        users_.fetch_add(1, std::memory_order_acq_rel);
        mutex_.lock();
    }
    void Release() {
        mutex_.unlock();
        users_.fetch_sub(1, std::memory_order_acq_rel);
    }
    bool TryAcquire() {
        users_.fetch_add(1, std::memory_order_acq_rel);
        if (mutex_.try_lock()) return true;
        users_.fetch_sub(1, std::memory_order_acq_rel);
        return false;
    }
    // Threads inside or waiting; used to tell whether anybody still works under the lock.
    int Users() const { return users_.load(std::memory_order_acquire); }

    // BasicLockable, so std::lock_guard works.
    void lock() { Acquire(); }
    void unlock() { Release(); }

private:
    std::recursive_mutex mutex_;
    std::atomic<int> users_{0};
};
