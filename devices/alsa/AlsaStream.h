#pragma once
// One open ALSA handle and the service thread that alone touches its PCM.
//
// Callers hand work over through a small mailbox: queued buffers go into `incoming_` without
// waiting; every other operation is a command the service thread runs while the caller waits for
// its result. An eventfd wakes the thread, which otherwise sleeps in ppoll on the PCM's
// descriptors (or a timeout the direction asks for). Commands issued on the service thread itself
// (from inside a notification) run at once.
//
// Thread rules: `mutex_` guards the mailbox (`incoming_`, the command slot, `closed_`,
// `failure_`); everything below "service thread only" belongs to the service thread.

#include <alsa/asoundlib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/WaveService.h"
#include "devices/alsa/AlsaPcm.h"

class AlsaStream {
public:
    AlsaStream(WaveHandle handle, WaveDirection direction, std::string pcmName, const WAVEFORMATEX& format,
               WaveCallback callback, void* instance);
    virtual ~AlsaStream();
    AlsaStream(const AlsaStream&) = delete;
    AlsaStream& operator=(const AlsaStream&) = delete;

    WaveDirection Direction() const { return direction_; }

    // Starts the service thread; it opens the PCM and delivers the Open notification before this
    // returns success.
    MMRESULT Open();
    MMRESULT Queue(WAVEHDR* buffer);
    MMRESULT Start() { return command(Command::Start); }
    MMRESULT Stop() { return command(Command::Stop); }
    MMRESULT Pause() { return command(Command::Pause); }
    MMRESULT Restart() { return command(Command::Restart); }
    MMRESULT Reset() { return command(Command::Reset); }
    // On success the thread has ended and the Close notification has been delivered.
    MMRESULT Close();
    MMRESULT GetPosition(WavePosition& position);

protected:
    enum class Command { None, Start, Stop, Pause, Restart, Reset, Close, Position };

    // Service thread side, implemented per direction.
    virtual MMRESULT startCommand() = 0;
    virtual MMRESULT stopCommand() = 0;
    virtual MMRESULT pauseCommand() = 0;
    virtual MMRESULT restartCommand() = 0;
    virtual MMRESULT resetCommand() = 0;
    virtual uint64_t positionFrames() = 0;
    // Moves audio; may deliver Done notifications.
    virtual void service() = 0;
    // Whether to wake on the PCM's descriptors, and the longest sleep in ns (-1: no limit).
    virtual bool waitOnPcm() = 0;
    virtual int64_t waitTimeoutNs() = 0;
    // Called when the stream takes a newly queued buffer.
    virtual void accept(WAVEHDR* buffer) = 0;
    // Whether any buffer is still held by the stream.
    virtual bool holdsBuffers() const = 0;
    // Returns every held buffer done, in order.
    virtual void returnAll() = 0;

    void notifyDone(WAVEHDR* buffer);
    // A PCM call failed for good: buffers come back done, and every later operation but Reset
    // and Close reports `error`.
    void fail(int error);
    MMRESULT failure() const;

    snd_pcm_t* pcm_ = nullptr;
    AlsaStreamShape shape_;
    WAVEFORMATEX format_;

private:
    MMRESULT command(Command kind, WavePosition* position = nullptr);
    MMRESULT execute(Command kind, WavePosition* position);
    void run();
    void takeIncoming();
    void wait();
    void wake();

    const WaveHandle handle_;
    const WaveDirection direction_;
    const std::string pcmName_;
    const WaveCallback callback_;
    void* const instance_;

    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
    int eventFd_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::mutex callers_; // one waiting command at a time
    std::deque<WAVEHDR*> incoming_;
    Command pending_ = Command::None;
    WavePosition* pendingPosition_ = nullptr;
    MMRESULT result_ = MMSYSERR_NOERROR;
    uint64_t issued_ = 0, answered_ = 0;
    bool opened_ = false, openAnswered_ = false, closed_ = false;
    MMRESULT openResult_ = MMSYSERR_NOERROR;
    int failure_ = 0;
    bool stopping_ = false; // the service thread leaves its loop

    // Service thread only.
    std::vector<pollfd> fds_;
};
