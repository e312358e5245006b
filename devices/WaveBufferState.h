#pragma once
// The flag rules every back end applies to the buffers it is given, so a buffer behaves the same
// whichever back end plays it. Each function returns the result code of the operation.

#include "devices/WaveService.h"

// Sets WHDR_PREPARED; preparing twice is harmless.
MMRESULT PrepareBuffer(WAVEHDR* buffer);
// WAVERR_STILLPLAYING while queued; otherwise clears WHDR_PREPARED.
MMRESULT UnprepareBuffer(WAVEHDR* buffer);
// Checks a buffer about to be queued (prepared, not queued, data present) and marks it queued and
// not done; an input buffer gets dwBytesRecorded 0.
MMRESULT BeginQueuedBuffer(WAVEHDR* buffer, WaveDirection direction);
// Clears WHDR_INQUEUE and sets WHDR_DONE in one atomic step; the last write the back end makes.
void FinishQueuedBuffer(WAVEHDR* buffer);
