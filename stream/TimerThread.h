#pragma once
// The process-wide timer thread: periodic and one-shot timers on a deadline heap.
//
// Deadlines are absolute (steady_clock), so periods do not drift. Every callback runs on this one
// thread, in deadline order; a tick whose time came while the previous call was still running is
// skipped, never made up in a burst. Callbacks must be short and must never wait for the main
// thread: they post or signal instead.
//
// Kill may be called from any thread. Called from another thread it returns only once the
// timer's callback is not running, and after it returns the callback never runs again; called
// from inside the callback it just stops further ticks.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

class TimerThread {
public:
    using TimerId = uint64_t; // 0 is never a timer
    using Callback = std::function<void()>;

    // The smallest period the timers offer; "timer periods" need no setting up on this system.
    static constexpr std::chrono::milliseconds MinPeriod{1};

    static TimerThread& Instance();

    // Periods below MinPeriod are raised to it. Returns 0 when the thread cannot be started.
    TimerId StartPeriodic(std::chrono::milliseconds period, Callback callback);
    TimerId StartOneShot(std::chrono::milliseconds delay, Callback callback);
    void Kill(TimerId id);

    // Timers alive now (for checks that an object created or removed its timer).
    int ActiveCount() const;
    bool IsTimerThread() const;

private:
    TimerThread() = default;
    struct Timer {
        std::shared_ptr<Callback> callback;
        std::chrono::steady_clock::duration period; // zero for one-shot timers
    };
    struct Due {
        std::chrono::steady_clock::time_point when;
        TimerId id;
        bool operator>(const Due& other) const { return when > other.when; }
    };
    TimerId start(std::chrono::steady_clock::duration period, std::chrono::steady_clock::duration delay,
                  Callback callback);
    void run();

    mutable std::mutex lock_;
    std::condition_variable wake_;     // new earliest deadline
    std::condition_variable finished_; // a callback returned
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> heap_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    TimerId running_ = 0;
    bool threadStarted_ = false; // the one thread is started once and never joined
    std::thread::id threadId_;
};
