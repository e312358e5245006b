#pragma once
// Drives a chain without a sound device: a thread of its own pulls a buffer from upstream, pushes
// it downstream, sleeps max(Interval, 1) ms and repeats until the source reports its end. The
// offline runs (file tools, refresh, batch) use it to run a file through the processing chain as
// fast as the machine allows.
//
// Threads. Open, start, pause, restart, stop and close run on the main thread. Pushes and the
// pulls after the first run on the trigger thread (pushes on the main thread when Synchronize is
// set). The thread touches the buffer only between "go" events; `lock_` guards the processing
// count and the stop flags. Pause is a gate the thread waits at between buffers. A stop that
// finds a buffer in progress is pending: from the main thread the trigger waits for that buffer
// (serving synchronized pushes meanwhile) and completes the stop; when a stop is asked for on the
// trigger thread itself, or inside a synchronized push, the thread posts the stop message and the
// main thread completes it there.

#include <atomic>
#include <memory>
#include <string>

#include "stream/MMAllocator.h"
#include "stream/MMCriticalSection.h"
#include "stream/MMEvent.h"
#include "stream/MMNotifyEvent.h"
#include "stream/MMSoundComponent.h"

class TMMTriggerThread;

class TMMTrigger : public TMMCustomSoundComponent {
public:
    TMMTrigger();
    ~TMMTrigger() override;

    // Values below 32 become 32; refused while open.
    void SetBufferSize(int32_t bytes) override;
    int Interval() const { return interval_.load(); }
    void SetInterval(int ms); // negative values become 0
    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
    bool Synchronize() const { return synchronize_.load(); }
    void SetSynchronize(bool value) { synchronize_.store(value); }

    TMMNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;
    TMMErrorEvent OnErrorEx;
    TMMBufferEvent OnBufferFilled; // after each pull that brought data

    // --- sound component slots (a trigger has one buffer and no device) ---
    void SetNumBuffers(int) override {}
    int GetNumBuffers() const override { return 1; }
    void SetDeviceID(TMMDeviceId value) override { deviceId_ = value; }
    TMMDeviceId GetDeviceID() const override { return deviceId_; }
    void SetProductName(const std::string&) override {}
    std::string GetProductName() const override { return {}; }
    void SetCallBackMode(TMMCBMode) override {}
    TMMCBMode GetCallBackMode() const override { return cmThread; }

    // --- trigger operations, in their fixed order ---
    // Fires OnError and raises EMMTriggerError with `message`.
    [[noreturn]] virtual void Error(const std::string& message);
    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void StartDevice();
    virtual void PauseDevice();
    virtual void RestartDevice();
    virtual void StopDevice();

    // The chain notifications drive the device operations.
    void Opened() override { OpenDevice(); }
    void Closed() override { CloseDevice(); }
    void Started() override { StartDevice(); }
    void Paused() override { PauseDevice(); }
    void Restarted() override { RestartDevice(); }
    void Stopped() override { StopDevice(); }

    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    // Pushes from upstream are dropped: the trigger pulls.
    void BufferReady(PWaveHdr) override {}
    int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    // A stop waits for the buffer in progress.
    bool StopPending() const;

private:
    friend class TMMTriggerThread;
    void threadMain();
    bool beginBuffer(); // counts the buffer in; false when a stop was requested
    void processOneBuffer();
    void endBuffer();
    void push();
    bool canWaitForThread() const;
    bool waitForBuffer(bool untilDone);
    void completeStop();
    void requestStopOffMainThread(bool thenClose);
    void abortStart();

    TMMAllocator pool_;
    PWaveHdr buffer_ = nullptr;
    uint32_t bufferBytes_ = 0;
    std::atomic<bool> moreBuffers_{false};

    mutable TMMCriticalSection lock_;
    // Guarded by lock_:
    int processing_ = 0;
    bool running_ = false; // started, as the thread sees it
    bool stopRequested_ = false;
    bool stopPending_ = false;
    bool gateClosed_ = false;

    // Main thread only:
    bool openStarted_ = false;
    bool inSynchronizedPush_ = false;
    bool destroying_ = false;
    std::atomic<bool> closeRequested_{false};

    std::unique_ptr<TMMTriggerThread> thread_;
    MMEvent threadStarted_{MMEvent::AutoReset};
    MMEvent go_{MMEvent::AutoReset};
    MMEvent stop_{MMEvent::AutoReset};
    MMEvent gate_{MMEvent::ManualReset, true}; // set while the thread may pass

    std::atomic<int> interval_{0};
    std::atomic<bool> synchronize_{false};
    TMMTimeFormats timeFormat_ = tfByte;
    TMMDeviceId deviceId_ = 0;
    // Owner key of the close posted when the thread fails (kept apart from the stop message,
    // which a completed stop withdraws).
    char failureKey_ = 0;
};
