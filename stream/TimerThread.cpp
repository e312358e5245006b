#include "stream/TimerThread.h"

#include "stream/MMServices.h"

#include <pthread.h>

TimerThread& TimerThread::Instance() {
    // Never destroyed: timers may be killed by static destructors at exit, and the thread is
    // never joined.
    static auto* instance = new TimerThread();
    return *instance;
}

TimerThread::TimerId TimerThread::StartPeriodic(std::chrono::milliseconds period, Callback callback) {
    const auto p = std::max(period, std::chrono::milliseconds(MinPeriod));
    return start(p, p, std::move(callback));
}

TimerThread::TimerId TimerThread::StartOneShot(std::chrono::milliseconds delay, Callback callback) {
    return start(std::chrono::steady_clock::duration::zero(),
                 std::max(delay, std::chrono::milliseconds(0)), std::move(callback));
}

TimerThread::TimerId TimerThread::start(std::chrono::steady_clock::duration period,
                                        std::chrono::steady_clock::duration delay, Callback callback) {
    std::lock_guard guard(lock_);
    if (!threadStarted_) {
        try {
            std::thread thread([this] { run(); });
            threadId_ = thread.get_id();
            thread.detach();
        } catch (const std::system_error&) {
            return 0;
        }
        threadStarted_ = true;
    }
    const TimerId id = nextId_++;
    timers_[id] = Timer{std::make_shared<Callback>(std::move(callback)), period};
    heap_.push({std::chrono::steady_clock::now() + delay, id});
    wake_.notify_one();
    return id;
}

void TimerThread::Kill(TimerId id) {
    std::unique_lock guard(lock_);
    timers_.erase(id); // its heap entry is skipped when it comes due
    if (std::this_thread::get_id() != threadId_)
        finished_.wait(guard, [&] { return running_ != id; });
}

int TimerThread::ActiveCount() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(timers_.size());
}

bool TimerThread::IsTimerThread() const {
    std::lock_guard guard(lock_);
    return std::this_thread::get_id() == threadId_;
}

void TimerThread::run() {
    pthread_setname_np(pthread_self(), "MMTimer");
    std::unique_lock guard(lock_);
    for (;;) {
        if (heap_.empty()) {
            wake_.wait(guard);
            continue;
        }
        const Due due = heap_.top();
        if (std::chrono::steady_clock::now() < due.when) {
            wake_.wait_until(guard, due.when);
            continue;
        }
        heap_.pop();
        auto it = timers_.find(due.id);
        if (it == timers_.end()) continue; // killed
        auto callback = it->second.callback;
        const auto period = it->second.period;
        if (period == std::chrono::steady_clock::duration::zero()) timers_.erase(it);
        running_ = due.id;
        guard.unlock();
        try {
            (*callback)();
        } catch (...) {
            ReportErrorOnMainThread(std::current_exception());
        }
        guard.lock();
        running_ = 0;
        finished_.notify_all();
        if (period == std::chrono::steady_clock::duration::zero() || !timers_.count(due.id)) continue;
        // Absolute deadlines: the next tick is due one period after this one was, and ticks whose
        // time passed while the callback ran are skipped.
        auto next = due.when + period;
        const auto now = std::chrono::steady_clock::now();
        if (next <= now) next += ((now - next) / period + 1) * period;
        heap_.push({next, due.id});
    }
}
