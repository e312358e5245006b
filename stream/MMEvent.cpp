#include "stream/MMEvent.h"

#include <algorithm>

void MMEvent::Set() {
    std::lock_guard guard(lock_);
    set_ = true;
    signal_.notify_all();
    for (Waiter* w : waiters_) {
        std::lock_guard g(w->lock);
        w->signalled = true;
        w->signal.notify_one();
    }
}

void MMEvent::Reset() {
    std::lock_guard guard(lock_);
    set_ = false;
}

bool MMEvent::IsSet() const {
    std::lock_guard guard(lock_);
    return set_;
}

bool MMEvent::takeLocked() {
    if (!set_) return false;
    if (kind_ == AutoReset) set_ = false;
    return true;
}

void MMEvent::Wait() {
    std::unique_lock guard(lock_);
    signal_.wait(guard, [this] { return set_; });
    takeLocked();
}

bool MMEvent::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    if (!signal_.wait_for(guard, timeout, [this] { return set_; })) return false;
    return takeLocked();
}

int MMEvent::WaitAny(std::initializer_list<MMEvent*> events, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    return waitAny(events, &deadline);
}

int MMEvent::WaitAny(std::initializer_list<MMEvent*> events) { return waitAny(events, nullptr); }

int MMEvent::waitAny(std::initializer_list<MMEvent*> events, const std::chrono::steady_clock::time_point* deadline) {
    Waiter waiter;
    for (MMEvent* e : events) {
        std::lock_guard guard(e->lock_);
        e->waiters_.push_back(&waiter);
    }
    int result = -1;
    for (;;) {
        {
            std::lock_guard g(waiter.lock);
            waiter.signalled = false;
        }
        // A Set after this check marks the waiter, so the wait below cannot miss it.
        int index = 0;
        for (MMEvent* e : events) {
            std::lock_guard guard(e->lock_);
            if (e->takeLocked()) {
                result = index;
                break;
            }
            ++index;
        }
        if (result >= 0) break;
        std::unique_lock g(waiter.lock);
        if (deadline) {
            if (!waiter.signal.wait_until(g, *deadline, [&] { return waiter.signalled; })) break;
        } else {
            waiter.signal.wait(g, [&] { return waiter.signalled; });
        }
    }
    for (MMEvent* e : events) {
        std::lock_guard guard(e->lock_);
        std::erase(e->waiters_, &waiter);
    }
    return result;
}
