#include "devices/alsa/AlsaCaptureStream.h"

#include <algorithm>
#include <cerrno>

void AlsaCaptureStream::finishFront() {
    Entry entry = queue_.front();
    queue_.pop_front();
    entry.buffer->dwBytesRecorded = static_cast<uint32_t>(entry.frames * shape_.frameBytes);
    notifyDone(entry.buffer);
}

void AlsaCaptureStream::recover() {
    // An overrun loses what the device could not hold; recording goes on.
    if (int error = snd_pcm_prepare(pcm_); error < 0) return fail(error);
    if (int error = snd_pcm_start(pcm_); error < 0) return fail(error);
}

void AlsaCaptureStream::service() {
    if (!running_) return;
    for (int round = 0; round < 64; ++round) {
        snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail == -EPIPE) {
            recover();
            if (failure() != MMSYSERR_NOERROR) return;
            continue;
        }
        if (avail < 0) return fail(static_cast<int>(avail));
        // Empty buffers (shorter than a frame) are full at once.
        while (!queue_.empty() && queue_.front().buffer->dwBufferLength / shape_.frameBytes == 0)
            finishFront();
        if (avail == 0) return;
        snd_pcm_sframes_t got;
        if (!queue_.empty()) {
            Entry& entry = queue_.front();
            const uint64_t capacity = entry.buffer->dwBufferLength / shape_.frameBytes;
            const auto count =
                std::min<snd_pcm_sframes_t>(avail, static_cast<snd_pcm_sframes_t>(capacity - entry.frames));
            got = snd_pcm_readi(pcm_, entry.buffer->lpData + entry.frames * shape_.frameBytes,
                                static_cast<snd_pcm_uframes_t>(count));
            if (got > 0) {
                entry.frames += static_cast<uint64_t>(got);
                if (entry.frames == capacity) finishFront();
            }
        } else {
            if (scratch_.empty()) scratch_.resize(shape_.periodFrames * shape_.frameBytes);
            const auto count =
                std::min<snd_pcm_sframes_t>(avail, static_cast<snd_pcm_sframes_t>(shape_.periodFrames));
            got = snd_pcm_readi(pcm_, scratch_.data(), static_cast<snd_pcm_uframes_t>(count));
        }
        if (got == -EAGAIN) return;
        if (got == -EPIPE) {
            recover();
            if (failure() != MMSYSERR_NOERROR) return;
            continue;
        }
        if (got < 0) return fail(static_cast<int>(got));
        recorded_ += static_cast<uint64_t>(got);
    }
    // An unpaced device always has data; leave the rest for the next turn so commands get in.
}

int64_t AlsaCaptureStream::waitTimeoutNs() {
    if (!running_) return -1;
    const int64_t period = static_cast<int64_t>(shape_.periodFrames) * 1000000000LL / shape_.rate;
    // Without a buffer the data is only dropped: once a period is enough. With one, the PCM's
    // descriptors wake us; the timeout guards plug-ins whose descriptors stay quiet.
    return queue_.empty() ? period : 2 * period;
}

MMRESULT AlsaCaptureStream::startCommand() {
    if (running_) return MMSYSERR_NOERROR;
    if (needPrepare_) {
        if (int error = snd_pcm_prepare(pcm_); error < 0) return AlsaResult(error);
        needPrepare_ = false;
    }
    if (int error = snd_pcm_start(pcm_); error < 0) return AlsaResult(error);
    running_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaCaptureStream::stopCommand() {
    if (!running_) return MMSYSERR_NOERROR;
    service();
    snd_pcm_drop(pcm_);
    running_ = false;
    needPrepare_ = true;
    if (!queue_.empty() && queue_.front().frames > 0) finishFront();
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaCaptureStream::resetCommand() {
    if (running_) {
        snd_pcm_drop(pcm_);
        running_ = false;
        needPrepare_ = true;
    }
    returnAll();
    recorded_ = 0;
    return MMSYSERR_NOERROR;
}

void AlsaCaptureStream::returnAll() {
    while (!queue_.empty())
        finishFront();
}

uint64_t AlsaCaptureStream::positionFrames() {
    if (!running_) return recorded_;
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
    return recorded_ + static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(avail, 0));
}
