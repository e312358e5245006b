#pragma once
// Playback on the service thread of an ALSA handle.
//
// Positions are frames since the last reset. A queued buffer occupies [start, end) of that
// stream; `written_` frames have been handed to ALSA, and heard = written − the PCM's delay. A
// buffer is done once heard has passed its end, so a Done notification means "played", and the
// thread sleeps until the next buffer's end is due.
//
// Quirks handled on purpose: writes are capped at buffer size − delay (the pulse plug-in's avail
// over-reports); the PCM is prepared right before the first write after open, reset or an
// underrun (an idle prepared stream under-reports its delay); a short sound that never reaches
// the start threshold is started explicitly; an underrun counts everything written as heard.

#include <deque>

#include "devices/alsa/AlsaStream.h"

class AlsaPlaybackStream : public AlsaStream {
public:
    using AlsaStream::AlsaStream;

protected:
    MMRESULT startCommand() override { return MMSYSERR_NOTSUPPORTED; }
    MMRESULT stopCommand() override { return MMSYSERR_NOTSUPPORTED; }
    MMRESULT pauseCommand() override;
    MMRESULT restartCommand() override;
    MMRESULT resetCommand() override;
    uint64_t positionFrames() override;
    void service() override;
    bool waitOnPcm() override;
    int64_t waitTimeoutNs() override;
    void accept(WAVEHDR* buffer) override;
    bool holdsBuffers() const override { return !queue_.empty(); }
    void returnAll() override;

private:
    struct Entry {
        WAVEHDR* buffer;
        uint64_t start, end;
    };

    void updateHeard();
    void deliverHeard();
    void writeQueued();
    void underrun();
    // Drops what ALSA holds and rewinds the write position to what was heard.
    void dropToHeard();

    std::deque<Entry> queue_;
    uint64_t queuedEnd_ = 0;    // end of the last queued buffer
    uint64_t written_ = 0;      // frames handed to ALSA
    uint64_t sincePrepare_ = 0; // of those, written since the last prepare
    uint64_t heard_ = 0;
    bool needPrepare_ = true;
    bool paused_ = false;
    bool pcmPaused_ = false; // paused inside ALSA (snd_pcm_pause)
};
