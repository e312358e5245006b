#include "stream/MMHiTimer.h"

#include "stream/MMErrors.h"
#include "stream/MMEvent.h"
#include "stream/MMServices.h"
#include "stream/MMThread.h"
#include "stream/MainThreadDispatcher.h"

#include <mutex>
#include <thread>
#include <vector>

namespace {
constexpr auto ThreadStartTimeout = std::chrono::milliseconds(5000);
}

// What a cmThread timer thread shares with its timer; it outlives both when a thread is left to
// finish on its own.
struct HiTimerThreadState {
    MMEvent started{MMEvent::AutoReset};
    MMEvent wake{MMEvent::AutoReset};
    MMEvent ended{MMEvent::ManualReset};
    std::atomic<std::thread::id> threadId{};
    std::atomic<bool> terminate{false};
    std::atomic<bool> synchronize{true};
    std::atomic<bool> inSynchronizedCall{false};
    std::mutex callLock; // held around an unsynchronised OnTimer call
    TMMNotifyEvent onTimer; // the handler the thread was built for
    TMMHiTimer* owner = nullptr;
};

class TMMTimerThread : public TMMThreadEx {
public:
    explicit TMMTimerThread(std::shared_ptr<HiTimerThreadState> state)
        : TMMThreadEx("HiTimer"), state_(std::move(state)) {}
    ~TMMTimerThread() override {
        Terminate();
        WaitFor();
    }

protected:
    void Execute() override {
        state_->threadId.store(std::this_thread::get_id());
        state_->started.Set();
        for (;;) {
            state_->wake.Wait();
            if (state_->terminate.load()) break;
            deliver();
        }
        state_->ended.Set();
    }

private:
    void deliver() {
        HiTimerThreadState& s = *state_;
        if (s.synchronize.load()) {
            s.inSynchronizedCall.store(true);
            try {
                // Checked again on the main thread: a rebuild there may have ended this thread.
                Synchronize([&] {
                    if (!s.terminate.load()) GuardedCall([&] { s.onTimer(s.owner); });
                });
            } catch (...) {
                ReportErrorOnMainThread(std::current_exception());
            }
            s.inSynchronizedCall.store(false);
        } else {
            std::lock_guard guard(s.callLock);
            if (s.terminate.load()) return;
            try {
                s.onTimer(s.owner);
            } catch (...) {
                ReportErrorOnMainThread(std::current_exception());
            }
        }
    }
    std::shared_ptr<HiTimerThreadState> state_;
};

namespace {

// Timer threads that were still inside a handler when their timer was rebuilt finish on their
// own; they are joined at a later rebuild, or at exit.
struct RetiredThreads {
    std::mutex lock;
    std::vector<std::unique_ptr<TMMTimerThread>> threads;
    ~RetiredThreads() {
        for (auto& t : threads) {
            for (int i = 0; i < 5000 && !t->Finished(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!t->Finished()) (void)t.release(); // still in a handler: never free what it uses
        }
    }
};

RetiredThreads& retired() {
    static RetiredThreads instance;
    return instance;
}

void retire(std::unique_ptr<TMMTimerThread> thread) {
    std::vector<std::unique_ptr<TMMTimerThread>> finished; // joined when this returns
    auto& r = retired();
    std::lock_guard guard(r.lock);
    if (thread) r.threads.push_back(std::move(thread));
    for (auto it = r.threads.begin(); it != r.threads.end();) {
        if ((*it)->Finished()) {
            finished.push_back(std::move(*it));
            it = r.threads.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

TMMHiTimer::TMMHiTimer() { rebuild(); }

TMMHiTimer::~TMMHiTimer() { destroyTimer(true); }

void TMMHiTimer::SetInterval(int ms) {
    interval_ = ms;
    rebuild();
}

void TMMHiTimer::SetEnabled(bool value) {
    enabled_ = value;
    rebuild();
}

void TMMHiTimer::SetCallBackMode(TMMCBMode value) {
    if (value == cmCallback) {
        // Ticks would run in the timer's own thread, where a handler must not touch windows.
        ShowMessage(MMText::CallBackModeRefused, "TMMHiTimer");
        return;
    }
    mode_ = value;
    rebuild();
}

void TMMHiTimer::SetPriority(TMMThreadPriority value) {
    priority_ = value;
    if (thread_) thread_->SetPriority(value);
}

void TMMHiTimer::SetSynchronize(bool value) {
    synchronize_ = value;
    if (threadState_) threadState_->synchronize.store(value);
}

void TMMHiTimer::SetOnTimer(TMMNotifyEvent handler) {
    onTimer_ = std::move(handler);
    rebuild();
}

void TMMHiTimer::Loaded() { rebuild(); }

void TMMHiTimer::rebuild() {
    if (ComponentState() & (csLoading | csReading)) return;
    destroyTimer(false);
    createTimer();
}

void TMMHiTimer::destroyTimer(bool destroying) {
    if (thread_) {
        auto state = std::move(threadState_);
        // An OnTimer handler running on the thread may itself rebuild the timer.
        const bool onItsThread = std::this_thread::get_id() == state->threadId.load();
        bool idle = false;
        {
            std::unique_lock call(state->callLock, std::defer_lock);
            if (!onItsThread) idle = call.try_lock();
            state->terminate.store(true);
        }
        state->wake.Set();
        // A thread outside a handler ends at once. One inside a handler is waited for only with
        // WaitForTerminate (or when the timer dies); waiting serves a synchronized call, which
        // sees the terminate flag and skips the handler.
        if (!onItsThread && (idle || waitForTerminate_ || destroying)) {
            auto& dispatcher = MainThreadDispatcher::Instance();
            auto finished = [this] { return thread_->Finished(); };
            if (dispatcher.IsMainThread()) {
                dispatcher.WaitServing(finished, ThreadStartTimeout);
            } else if (state->ended.Wait(ThreadStartTimeout)) {
                while (!finished()) std::this_thread::yield();
            }
        }
        // The handler's sender must stay valid for a call already running.
        if (destroying && !onItsThread) {
            std::lock_guard wait(state->callLock);
        }
        if (thread_->Finished()) {
            thread_.reset();
            retire(nullptr);
        } else {
            retire(std::move(thread_));
        }
    }
    if (timer_) {
        TimerThread::Instance().Kill(timer_);
        timer_ = 0;
        MainThreadDispatcher::Instance().RemovePosts(this);
        pending_.store(0);
    }
}

void TMMHiTimer::createTimer() {
    if (interval_ <= 0 || !enabled_ || !onTimer_) return;
    std::shared_ptr<HiTimerThreadState> state;
    if (mode_ == cmThread) {
        state = std::make_shared<HiTimerThreadState>();
        state->synchronize.store(synchronize_);
        state->onTimer = onTimer_;
        state->owner = this;
        auto thread = std::make_unique<TMMTimerThread>(state);
        thread->SetPriority(priority_);
        try {
            thread->Resume();
        } catch (const std::system_error&) {
            throw EMMHiTimerError(std::string("HiTimer:\n\r") + MMText::CouldNotCreateThread);
        }
        if (!state->started.Wait(ThreadStartTimeout)) {
            state->terminate.store(true);
            state->wake.Set();
            retire(std::move(thread));
            throw EMMHiTimerError(std::string("HiTimer:\n\r") + MMText::CouldNotCreateThread);
        }
        thread_ = std::move(thread);
        threadState_ = state;
    }
    TimerThread::Callback tick;
    if (mode_ == cmThread) {
        tick = [state] { state->wake.Set(); };
    } else {
        tick = [this] {
            if (pending_.load() >= MaxPendingTicks) return;
            pending_.fetch_add(1);
            MainThreadDispatcher::Instance().Post(this, [this] { windowTick(); });
        };
    }
    timer_ = TimerThread::Instance().StartPeriodic(std::chrono::milliseconds(interval_), std::move(tick));
    if (!timer_) {
        destroyTimer(false);
        throw EMMHiTimerError("Not enough timers available");
    }
}

void TMMHiTimer::windowTick() {
    pending_.fetch_sub(1);
    if (!enabled_ || !onTimer_) return;
    // A copy: the handler may replace OnTimer, which rebuilds the timer.
    auto handler = onTimer_;
    GuardedCall([&] { handler(this); });
}
