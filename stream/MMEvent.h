#pragma once
// An event a thread can wait for: auto-reset (one waiter consumes each Set) or manual-reset (stays
// set until Reset). WaitAny waits for the first of several events, as the driver threads do with
// their "go"/"stop" and "busy"/"terminate" pairs.
//
// Any thread may call any operation; the event's own mutex guards its state.

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <vector>

class MMEvent {
public:
    enum Kind { AutoReset, ManualReset };

    explicit MMEvent(Kind kind, bool initiallySet = false) : kind_(kind), set_(initiallySet) {}
    MMEvent(const MMEvent&) = delete;
    MMEvent& operator=(const MMEvent&) = delete;

    void Set();
    void Reset();
    // Looks without consuming.
    bool IsSet() const;

    void Wait();
    // True when the event was set within the timeout (an auto-reset event is consumed).
    bool Wait(std::chrono::milliseconds timeout);
    bool TryWait() { return Wait(std::chrono::milliseconds(0)); }

    // Waits until one of `events` is set and returns its position (consuming it if auto-reset),
    // or -1 when the timeout passes. Earlier events win when several are set.
    static int WaitAny(std::initializer_list<MMEvent*> events, std::chrono::milliseconds timeout);
    static int WaitAny(std::initializer_list<MMEvent*> events);

private:
    struct Waiter {
        std::mutex lock;
        std::condition_variable signal;
        bool signalled = false;
    };
    // Called with lock_ held: consumes the state when the event is set.
    bool takeLocked();
    static int waitAny(std::initializer_list<MMEvent*> events, const std::chrono::steady_clock::time_point* deadline);

    const Kind kind_;
    mutable std::mutex lock_;
    std::condition_variable signal_;
    bool set_;
    std::vector<Waiter*> waiters_; // WaitAny callers watching this event
};
