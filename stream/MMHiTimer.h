#pragma once
// A periodic timer with three ways of delivering its ticks to OnTimer:
//   cmWindow  - posted to the main thread; at most 10 ticks wait there, later ones are dropped;
//   cmThread  - a timer thread of its own wakes at each tick and calls OnTimer, on the main thread
//               when Synchronize is set;
//   cmCallback - not offered on this system: choosing it shows a message and keeps the mode.
// Changing Enabled, Interval, CallBackMode or OnTimer rebuilds the timer; with Interval 0 (or
// less), Enabled false or no OnTimer there is none.
//
// Threads: properties are set on the main thread. Ticks come from the process-wide timer
// thread; after a rebuild or destruction no tick of the old timer reaches OnTimer, except a
// cmThread call without Synchronize that was already running (the destructor waits for that one).

#include <atomic>
#include <memory>

#include "stream/MMDSPComponent.h"
#include "stream/MMNotifyEvent.h"
#include "stream/MMTypes.h"
#include "stream/TimerThread.h"

class TMMTimerThread;
struct HiTimerThreadState;

class TMMHiTimer : public TMMNonVisualComponent {
public:
    static constexpr int MaxPendingTicks = 10;

    TMMHiTimer();
    ~TMMHiTimer() override;

    int Interval() const { return interval_; }
    void SetInterval(int ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    TMMCBMode CallBackMode() const { return mode_; }
    void SetCallBackMode(TMMCBMode value);
    TMMThreadPriority Priority() const { return priority_; }
    void SetPriority(TMMThreadPriority value);
    bool Synchronize() const { return synchronize_; }
    void SetSynchronize(bool value);
    bool WaitForTerminate() const { return waitForTerminate_; }
    void SetWaitForTerminate(bool value) { waitForTerminate_ = value; }
    const TMMNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TMMNotifyEvent handler);

    // Whether a system timer runs for this object now.
    bool HasTimer() const { return timer_ != 0; }

protected:
    void Loaded() override;

private:
    void rebuild();
    void destroyTimer(bool destroying);
    void createTimer();
    void windowTick(); // main thread, one posted tick

    int interval_ = 1000;
    bool enabled_ = true;
    TMMCBMode mode_ = cmWindow;
    TMMThreadPriority priority_ = tpNormal;
    bool synchronize_ = true;
    bool waitForTerminate_ = false;
    TMMNotifyEvent onTimer_;

    TimerThread::TimerId timer_ = 0;
    std::atomic<int> pending_{0}; // cmWindow ticks posted and not yet delivered
    std::unique_ptr<TMMTimerThread> thread_;
    std::shared_ptr<HiTimerThreadState> threadState_;
};
