#include "stream/MMTrigger.h"

#include "stream/MMErrors.h"
#include "stream/MMServices.h"
#include "stream/MMThread.h"
#include "stream/MainThreadDispatcher.h"

#include <algorithm>
#include <system_error>

namespace {
constexpr auto ThreadTimeout = std::chrono::milliseconds(5000);
auto& dispatcher() { return MainThreadDispatcher::Instance(); }
} // namespace

class TMMTriggerThread : public TMMDSPThread {
public:
    explicit TMMTriggerThread(TMMTrigger* trigger) : TMMDSPThread("Trigger", trigger), trigger_(trigger) {}
    ~TMMTriggerThread() override {
        Terminate();
        WaitFor();
    }

protected:
    void DSPExecute() override { trigger_->threadMain(); }

private:
    TMMTrigger* trigger_;
};

TMMTrigger::TMMTrigger() = default;

TMMTrigger::~TMMTrigger() {
    destroying_ = true;
    CloseDevice();
    dispatcher().RemovePosts(this);
    dispatcher().RemovePosts(&failureKey_);
}

void TMMTrigger::Error(const std::string& message) {
    if (OnError) OnError(this);
    throw EMMTriggerError(message);
}

void TMMTrigger::SetBufferSize(int32_t bytes) {
    bytes = std::max(bytes, MinDriverBufferSize);
    if (IsOpened()) {
        if (bytes != RequestedBufferSize()) Error(MMText::PropertyWhileOpen);
        return;
    }
    TMMCustomSoundComponent::SetBufferSize(bytes);
}

void TMMTrigger::SetInterval(int ms) { interval_.store(std::max(ms, 0)); }

void TMMTrigger::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != PWaveFormat() && (IsOpened() || openStarted_)) CloseDevice();
    TMMCustomSoundComponent::SetPWaveFormat(format);
}

bool TMMTrigger::StopPending() const {
    std::lock_guard guard(lock_);
    return stopPending_;
}

int TMMTrigger::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    // A foreign buffer is never asked for more than its caller can hold.
    const uint32_t wanted = bufferBytes_ ? bufferBytes_ : static_cast<uint32_t>(GetBufferSize());
    lpWaveHdr->dwBufferLength = lpWaveHdr == buffer_ ? wanted : std::min(lpWaveHdr->dwBufferLength, wanted);
    lpWaveHdr->dwBytesRecorded = 0;
    lpWaveHdr->LoopEnabled = 0;
    TMMCustomSoundComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
    return 0;
}

// --- open and close ---

void TMMTrigger::OpenDevice() {
    if (!PWaveFormat()) Error("TriggerOpen:\n\rInvalid wave format");
    if (IsOpened() || openStarted_) {
        CloseDevice();
        if (IsOpened()) return; // its close waits for the buffer in progress
    }
    try {
        openStarted_ = true;
        TMMCustomSoundComponent::Opened(); // opens the segment below, with our buffer size
        bufferBytes_ = static_cast<uint32_t>(GetBufferSize());
        {
            std::lock_guard guard(lock_);
            processing_ = 0;
            running_ = false;
            stopRequested_ = stopPending_ = gateClosed_ = false;
        }
        threadStarted_.Reset();
        go_.Reset();
        stop_.Reset();
        gate_.Set();
        closeRequested_.store(false);
        thread_ = std::make_unique<TMMTriggerThread>(this);
        try {
            thread_->Resume();
        } catch (const std::system_error&) {
            throw EMMTriggerError(std::string("Trigger:\n\r") + MMText::CouldNotCreateThread);
        }
        if (!threadStarted_.Wait(ThreadTimeout))
            throw EMMTriggerError(std::string("Trigger:\n\r") + MMText::CouldNotCreateThread);
        buffer_ = pool_.AllocateAudioBuffer(bufferBytes_);
        if (!buffer_) throw EMMTriggerError(MMText::NoHeaderMemory);
        if (OnOpen) OnOpen(this);
    } catch (...) {
        if (OnError) OnError(this);
        CloseDevice();
        throw;
    }
}

void TMMTrigger::CloseDevice() {
    if (!IsOpened() && !openStarted_) return;
    if (!dispatcher().IsMainThread()) {
        requestStopOffMainThread(true);
        return;
    }
    closeRequested_.store(false); // closing now
    if (IsStarted() || IsPaused()) StopDevice();
    if (StopPending()) {
        // Destruction cannot leave the buffer to the thread; an ordinary close that cannot wait
        // here (inside a synchronized push) finishes when the stop message arrives.
        if (destroying_ && waitForBuffer(true)) {
            completeStop();
        } else {
            closeRequested_.store(true);
            return;
        }
    }
    TMMCustomSoundComponent::Closed(); // the close walk
    gate_.Set();
    stop_.Set();
    if (thread_) {
        dispatcher().WaitServing([&] { return thread_->Finished(); }, ThreadTimeout);
        // The thread is idle once no buffer is in progress, so the join cannot hang on us.
        thread_.reset();
    }
    pool_.Release(buffer_);
    bufferBytes_ = 0;
    dispatcher().RemovePosts(this);
    dispatcher().RemovePosts(&failureKey_);
    openStarted_ = false;
    closeRequested_.store(false);
    if (OnClose) OnClose(this);
}

// --- start, pause, restart, stop ---

void TMMTrigger::StartDevice() {
    if (!IsOpened()) OpenDevice();
    if (IsStarted()) return; // a running trigger already has its buffer in flight
    dispatcher().RemovePosts(this); // a stop message of the previous run
    {
        std::lock_guard guard(lock_);
        processing_ = 0;
        stopRequested_ = stopPending_ = gateClosed_ = false;
    }
    gate_.Set();
    closeRequested_.store(false);
    TMMCustomSoundComponent::Started(); // the start walk
    moreBuffers_.store(true);
    {
        std::lock_guard guard(lock_);
        running_ = true;
    }
    bool more = false;
    try {
        BufferLoad(buffer_, more);
        moreBuffers_.store(more);
        if (buffer_->dwBytesRecorded > 0 && OnBufferFilled) OnBufferFilled(this, buffer_);
    } catch (...) {
        if (OnError) OnError(this);
        abortStart();
        throw;
    }
    if (buffer_->dwBytesRecorded == 0) {
        try {
            Error("TriggerStart:\n\rUnable to start device");
        } catch (...) {
            abortStart();
            throw;
        }
    }
    if (!IsPaused()) go_.Set();
    if (OnStart) OnStart(this);
}

void TMMTrigger::abortStart() {
    {
        std::lock_guard guard(lock_);
        running_ = false;
        stopRequested_ = true;
    }
    TMMCustomSoundComponent::Stopped(); // the stop walk
    CloseDevice();
}

void TMMTrigger::PauseDevice() {
    if (!IsOpened()) OpenDevice();
    if (!IsStarted() || IsPaused()) return;
    {
        std::lock_guard guard(lock_);
        gateClosed_ = true;
        gate_.Reset();
    }
    // The buffer in progress finishes first; the thread then waits at the gate.
    if (canWaitForThread()) waitForBuffer(false);
    TMMCustomSoundComponent::Paused();
    if (OnPause) OnPause(this);
}

void TMMTrigger::RestartDevice() {
    if (!IsStarted() || !IsPaused()) return;
    TMMCustomSoundComponent::Restarted(); // the segment runs again before the next push
    {
        std::lock_guard guard(lock_);
        gateClosed_ = false;
        gate_.Set();
    }
    if (OnRestart) OnRestart(this);
}

void TMMTrigger::StopDevice() {
    if (!dispatcher().IsMainThread()) {
        requestStopOffMainThread(false);
        return;
    }
    if (!IsStarted() && !IsPaused()) return;
    bool busy;
    {
        std::lock_guard guard(lock_);
        stopRequested_ = true;
        busy = processing_ > 0;
        if (busy) stopPending_ = true;
    }
    gate_.Set(); // a paused thread leaves its gate and sees the request
    if (busy && canWaitForThread()) busy = !waitForBuffer(destroying_);
    if (busy) return; // the stop message completes it
    completeStop();
}

void TMMTrigger::completeStop() {
    {
        std::lock_guard guard(lock_);
        stopRequested_ = true;
        stopPending_ = false;
        running_ = false;
    }
    dispatcher().RemovePosts(this);
    TMMCustomSoundComponent::Stopped(); // the stop walk
    if (OnStop) OnStop(this);
    if (closeRequested_.exchange(false)) CloseDevice();
}

void TMMTrigger::requestStopOffMainThread(bool thenClose) {
    bool post = false;
    {
        std::lock_guard guard(lock_);
        if (thenClose) closeRequested_.store(true);
        if (running_) {
            stopRequested_ = true;
            stopPending_ = true;
            // With a buffer in progress, its end posts the stop message.
            post = processing_ == 0;
        } else {
            post = thenClose;
        }
    }
    gate_.Set();
    if (post) {
        if (thenClose)
            dispatcher().Post(this, [this] { CloseDevice(); });
        else
            dispatcher().Post(this, [this] { StopDevice(); });
    }
}

bool TMMTrigger::canWaitForThread() const {
    // Inside a synchronized push the thread waits for us, so waiting for it would deadlock.
    return dispatcher().IsMainThread() && !inSynchronizedPush_;
}

bool TMMTrigger::waitForBuffer(bool untilDone) {
    auto idle = [this] {
        std::lock_guard guard(lock_);
        return processing_ == 0;
    };
    do {
        if (dispatcher().WaitServing(idle, ThreadTimeout)) return true;
    } while (untilDone);
    return false;
}

// --- the thread ---

void TMMTrigger::threadMain() {
    threadStarted_.Set();
    try {
        for (;;) {
            if (MMEvent::WaitAny({&stop_, &go_}) == 0) break;
            if (!beginBuffer()) continue;
            processOneBuffer();
            {
                std::lock_guard guard(lock_);
                if (stopRequested_) continue;
            }
            // Sleeping on the stop event lets a close end a long interval at once.
            if (stop_.Wait(std::chrono::milliseconds(std::max(interval_.load(), 1)))) break;
            go_.Set();
        }
    } catch (...) {
        // The thread ends; the error reaches the user and the trigger is closed on the main thread.
        ReportErrorOnMainThread(std::current_exception());
        dispatcher().Post(&failureKey_, [this] { CloseDevice(); });
    }
}

bool TMMTrigger::beginBuffer() {
    for (;;) {
        {
            std::lock_guard guard(lock_);
            if (!running_ || stopRequested_) return false;
            if (!gateClosed_) {
                ++processing_;
                return true;
            }
        }
        gate_.Wait();
    }
}

void TMMTrigger::processOneBuffer() {
    std::exception_ptr failure;
    try {
        push();
        bool pending;
        {
            std::lock_guard guard(lock_);
            pending = stopPending_;
        }
        if (moreBuffers_.load() && !pending) {
            bool more = false;
            BufferLoad(buffer_, more);
            moreBuffers_.store(more);
            if (buffer_->dwBytesRecorded == 0) {
                // No data with "no more" is the normal end; no data with "more" is a fault.
                if (more) throw EMMTriggerError("Error filling wave buffer");
            } else {
                if (OnBufferFilled) OnBufferFilled(this, buffer_);
                if (!more) push(); // the last buffer goes out at once
            }
        }
    } catch (...) {
        auto error = std::current_exception();
        bool handled = false;
        try {
            if (OnError) OnError(this);
            if (OnErrorEx) OnErrorEx(this, handled);
        } catch (...) {
            handled = false;
        }
        if (!handled) failure = error;
    }
    endBuffer();
    if (failure) std::rethrow_exception(failure);
}

void TMMTrigger::endBuffer() {
    bool post = false;
    {
        std::lock_guard guard(lock_);
        --processing_;
        if (processing_ == 0 && (stopPending_ || !moreBuffers_.load())) {
            stopRequested_ = true;
            post = true;
        }
    }
    if (post) dispatcher().Post(this, [this] { StopDevice(); });
    dispatcher().Wake();
}

void TMMTrigger::push() {
    if (!synchronize_.load()) {
        TMMCustomSoundComponent::BufferReady(buffer_);
        return;
    }
    dispatcher().RunAndWait([this] {
        inSynchronizedPush_ = true;
        struct Clear {
            bool& flag;
            ~Clear() { flag = false; }
        } clear{inSynchronizedPush_};
        TMMCustomSoundComponent::BufferReady(buffer_);
    });
}
