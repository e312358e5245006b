#include "devices/alsa/AlsaPlaybackStream.h"

#include <algorithm>
#include <cerrno>

namespace {
constexpr int64_t MinSleepNs = 500000;
}

void AlsaPlaybackStream::accept(WAVEHDR* buffer) {
    const uint64_t frames = buffer->dwBufferLength / shape_.frameBytes;
    queue_.push_back({buffer, queuedEnd_, queuedEnd_ + frames});
    queuedEnd_ += frames;
}

void AlsaPlaybackStream::underrun() {
    heard_ = std::max(heard_, written_);
    sincePrepare_ = 0;
    needPrepare_ = true;
}

void AlsaPlaybackStream::updateHeard() {
    if (needPrepare_ || sincePrepare_ == 0) return;
    const snd_pcm_state_t state = snd_pcm_state(pcm_);
    if (state == SND_PCM_STATE_XRUN) {
        underrun();
        return;
    }
    if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PAUSED && state != SND_PCM_STATE_DRAINING)
        return; // prepared, not started: nothing heard yet
    snd_pcm_sframes_t delay = 0;
    const int error = snd_pcm_delay(pcm_, &delay);
    if (error == -EPIPE) {
        underrun();
        return;
    }
    if (error < 0) return; // a transient answer; the next wake-up asks again
    delay = std::clamp<snd_pcm_sframes_t>(delay, 0, static_cast<snd_pcm_sframes_t>(sincePrepare_));
    heard_ = std::max(heard_, written_ - static_cast<uint64_t>(delay));
}

void AlsaPlaybackStream::deliverHeard() {
    while (!queue_.empty() && queue_.front().end <= heard_) {
        WAVEHDR* buffer = queue_.front().buffer;
        queue_.pop_front();
        notifyDone(buffer);
    }
}

void AlsaPlaybackStream::writeQueued() {
    while (written_ < queuedEnd_) {
        if (needPrepare_) {
            if (int error = snd_pcm_prepare(pcm_); error < 0) return fail(error);
            needPrepare_ = false;
            sincePrepare_ = 0;
        }
        snd_pcm_sframes_t delay = static_cast<snd_pcm_sframes_t>(sincePrepare_);
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
            snd_pcm_sframes_t reported = 0;
            if (snd_pcm_delay(pcm_, &reported) == 0)
                delay = std::clamp<snd_pcm_sframes_t>(reported, 0, delay);
        }
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail == -EPIPE) {
            underrun();
            continue;
        }
        if (avail < 0) return fail(static_cast<int>(avail));
        const auto room = static_cast<snd_pcm_sframes_t>(shape_.bufferFrames) - delay;
        auto entry =
            std::find_if(queue_.begin(), queue_.end(), [&](const Entry& e) { return e.end > written_; });
        if (entry == queue_.end()) break;
        const uint64_t left = entry->end - written_;
        const snd_pcm_sframes_t count =
            std::min<snd_pcm_sframes_t>({avail, room, static_cast<snd_pcm_sframes_t>(left)});
        if (count <= 0) break;
        const uint8_t* data = entry->buffer->lpData + (written_ - entry->start) * shape_.frameBytes;
        const snd_pcm_sframes_t done = snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(count));
        if (done == -EAGAIN) break;
        if (done == -EPIPE) {
            underrun();
            continue;
        }
        if (done < 0) return fail(static_cast<int>(done));
        written_ += static_cast<uint64_t>(done);
        sincePrepare_ += static_cast<uint64_t>(done);
    }
    // A sound shorter than the start threshold would never start by itself.
    if (written_ == queuedEnd_ && sincePrepare_ > 0 && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
        if (int error = snd_pcm_start(pcm_); error < 0 && error != -EPIPE) fail(error);
    }
}

void AlsaPlaybackStream::service() {
    if (paused_) return;
    updateHeard();
    deliverHeard();
    writeQueued();
    if (failure() != MMSYSERR_NOERROR) return;
    updateHeard();
    deliverHeard();
}

bool AlsaPlaybackStream::waitOnPcm() {
    return !paused_ && written_ < queuedEnd_;
}

int64_t AlsaPlaybackStream::waitTimeoutNs() {
    if (paused_ || queue_.empty()) return -1;
    const int64_t nsPerFrame = 1000000000LL / shape_.rate;
    int64_t timeout = -1;
    // Wake when the next buffer is due to have been heard.
    const Entry& next = queue_.front();
    if (next.end <= written_) timeout = static_cast<int64_t>(next.end - heard_) * nsPerFrame;
    // While data waits, also wake once a period has played (room appears even where the PCM's
    // descriptors do not say so).
    if (written_ < queuedEnd_) {
        const int64_t period = static_cast<int64_t>(shape_.periodFrames) * nsPerFrame;
        timeout = timeout < 0 ? period : std::min(timeout, period);
    }
    return timeout < 0 ? -1 : std::max(timeout, MinSleepNs);
}

void AlsaPlaybackStream::dropToHeard() {
    updateHeard();
    snd_pcm_drop(pcm_);
    written_ = heard_;
    sincePrepare_ = 0;
    needPrepare_ = true;
    pcmPaused_ = false;
}

MMRESULT AlsaPlaybackStream::pauseCommand() {
    if (paused_) return MMSYSERR_NOERROR;
    updateHeard();
    deliverHeard();
    if (!needPrepare_ && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
        if (shape_.canPause && snd_pcm_pause(pcm_, 1) == 0)
            pcmPaused_ = true;
        else
            dropToHeard();
    }
    paused_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaPlaybackStream::restartCommand() {
    if (!paused_) return MMSYSERR_NOERROR;
    if (pcmPaused_) {
        pcmPaused_ = false;
        if (snd_pcm_pause(pcm_, 0) < 0) dropToHeard();
    }
    paused_ = false;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaPlaybackStream::resetCommand() {
    if (!needPrepare_) snd_pcm_drop(pcm_);
    needPrepare_ = true;
    pcmPaused_ = false;
    returnAll();
    queuedEnd_ = written_ = sincePrepare_ = heard_ = 0;
    return MMSYSERR_NOERROR;
}

void AlsaPlaybackStream::returnAll() {
    while (!queue_.empty()) {
        WAVEHDR* buffer = queue_.front().buffer;
        queue_.pop_front();
        notifyDone(buffer);
    }
}

uint64_t AlsaPlaybackStream::positionFrames() {
    if (!paused_) updateHeard();
    return heard_;
}
