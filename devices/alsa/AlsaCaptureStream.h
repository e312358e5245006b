#pragma once
// Recording on the service thread of an ALSA handle.
//
// The PCM is started explicitly (Start) and read as data arrives into the oldest queued buffer;
// a buffer is done when full, or at Stop/Reset with what it holds. Data that arrives while no
// buffer is queued is read and dropped, so the device never overruns and the position keeps
// counting real time.

#include <deque>
#include <vector>

#include "devices/alsa/AlsaStream.h"

class AlsaCaptureStream : public AlsaStream {
public:
    using AlsaStream::AlsaStream;

protected:
    MMRESULT startCommand() override;
    MMRESULT stopCommand() override;
    MMRESULT pauseCommand() override { return MMSYSERR_NOTSUPPORTED; }
    MMRESULT restartCommand() override { return MMSYSERR_NOTSUPPORTED; }
    MMRESULT resetCommand() override;
    uint64_t positionFrames() override;
    void service() override;
    bool waitOnPcm() override { return running_ && !queue_.empty(); }
    int64_t waitTimeoutNs() override;
    void accept(WAVEHDR* buffer) override { queue_.push_back({buffer, 0}); }
    bool holdsBuffers() const override { return !queue_.empty(); }
    void returnAll() override;

private:
    struct Entry {
        WAVEHDR* buffer;
        uint64_t frames; // recorded into it so far
    };

    void finishFront();
    void recover();

    std::deque<Entry> queue_;
    std::vector<uint8_t> scratch_;
    uint64_t recorded_ = 0; // frames read since the last reset
    bool running_ = false;
    bool needPrepare_ = true;
};
