#include "devices/WaveBufferState.h"

MMRESULT PrepareBuffer(WAVEHDR* buffer) {
    if (!buffer || (!buffer->lpData && buffer->dwBufferLength > 0)) return MMSYSERR_INVALPARAM;
    std::atomic_ref<uint32_t>(buffer->dwFlags).fetch_or(WHDR_PREPARED, std::memory_order_acq_rel);
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareBuffer(WAVEHDR* buffer) {
    if (!buffer) return MMSYSERR_INVALPARAM;
    std::atomic_ref<uint32_t> flags(buffer->dwFlags);
    uint32_t old = flags.load(std::memory_order_acquire);
    do {
        if (old & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    } while (!flags.compare_exchange_weak(old, old & ~WHDR_PREPARED, std::memory_order_acq_rel));
    return MMSYSERR_NOERROR;
}

MMRESULT BeginQueuedBuffer(WAVEHDR* buffer, WaveDirection direction) {
    if (!buffer || (!buffer->lpData && buffer->dwBufferLength > 0)) return MMSYSERR_INVALPARAM;
    std::atomic_ref<uint32_t> flags(buffer->dwFlags);
    uint32_t old = flags.load(std::memory_order_acquire);
    if (!(old & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (old & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (direction == WaveDirection::In) buffer->dwBytesRecorded = 0;
    flags.store((old | WHDR_INQUEUE) & ~WHDR_DONE, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

void FinishQueuedBuffer(WAVEHDR* buffer) {
    std::atomic_ref<uint32_t> flags(buffer->dwFlags);
    uint32_t old = flags.load(std::memory_order_relaxed);
    while (!flags.compare_exchange_weak(old, (old & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_acq_rel)) {
    }
}
