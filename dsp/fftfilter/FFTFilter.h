#pragma once
// A linear-phase FIR filter designed from per-bin gains and run by fast convolution
// (overlap-add) over a 16-bit PCM stream of one or two channels.
//
// Threads: the design calls (SetFFTFilterBand, SetFFTFilterGains, SetFFTFilterWindow) come from
// the user-interface thread while ProcessFFTFilter runs on the audio thread. `Lock` is held for
// each design (up to the copy into `Response`) and for each filtered block, so a block always
// sees one complete response. The queues belong to the processing thread alone.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/fft/FFTPlan.h"
#include "dsp/fft/FFTWindow.h"
#include "stream/MMCriticalSection.h"
#include "stream/WaveFormat.h"

// The fixed arrays bound the block length to 1024 and the channels to two.
constexpr int32_t FFTFilterMaxLength = 1024;
constexpr int32_t FFTFilterArraySize = 1026;

struct TFFTFilter {
    int32_t SampleRate = 0;
    int32_t Channels = 0;    // 1 or 2
    int32_t BlockLength = 0; // N, a power of two, 4 .. 1024
    int32_t HalfLength = 0;  // H = N/2
    int32_t Bits = 0;        // log2 N
    std::unique_ptr<TFFTPlan> Plan;

    std::vector<uint8_t> InQueue; // raw bytes not yet filtered (less than one block between calls)
    int32_t InQueued = 0;
    std::vector<uint8_t> OutQueue; // filtered bytes not yet handed back
    int32_t OutQueued = 0;
    int32_t QueueSize = 0; // the most bytes a caller passes in one call

    TMMFFTWindow Window = fwHamming;

    std::array<std::array<int32_t, FFTFilterArraySize>, 2> Block{}; // samples of the block in work
    std::array<std::array<float, FFTFilterArraySize>, 2> Overlap{}; // tail carried to the next block
    std::array<float, FFTFilterArraySize> Gains{};                  // linear gain of bins 0 .. H
    std::array<float, 2 * FFTFilterArraySize> Response{};           // kernel spectrum, N complex values
    std::array<float, 2 * FFTFilterArraySize> Work{};               // complex scratch

    TMMCriticalSection Lock;
};

// A flat (0 dB) filter for a 16-bit PCM format of one or two channels, with N the largest power
// of two not above min(fftLength, 1024). Null when the format does not fit, fftLength is below 4,
// queueSize is not in 1 .. 2^30, or memory is short. Free it with FreeFFTFilter or a
// std::unique_ptr<TFFTFilter>.
TFFTFilter* CreateFFTFilter(const WAVEFORMATEX* format, int32_t fftLength, int32_t queueSize);
// Frees queues, plan, lock and record and clears the pointer; nothing for a null pointer.
void FreeFFTFilter(TFFTFilter*& filter);

// Sets every bin from f1 to f2 Hz (both ends inclusive, so at least one bin) to `gain` dB and
// redesigns. Frequencies below 0 count as 0; a NaN frequency changes nothing.
void SetFFTFilterBand(TFFTFilter* filter, float f1, float f2, float gain);
// Sets bins firstBin .. lastBin (clamped to 0 .. H; none when last < first) to `gain` dB and
// redesigns. A NaN gain changes no bin.
void SetFFTFilterGains(TFFTFilter* filter, int32_t firstBin, int32_t lastBin, float gain);
// Stores the kernel's window and redesigns.
void SetFFTFilterWindow(TFFTFilter* filter, TMMFFTWindow window);
// Empties both queues and clears the blocks and overlap tails: the next call starts a new stream.
void ResetFFTFilter(TFFTFilter* filter);

// Filters `bytes` bytes of interleaved 16-bit samples in place, delayed by N/4 frames plus
// whatever the queues hold. channelSelect 0 filters every channel, 1 only the first, 2 only the
// second of a stereo stream (mono is always filtered); an unfiltered channel keeps the caller's
// samples. Returns true when an output sample saturated. A call of more than QueueSize bytes or
// of a part frame is refused: the data is left as it is and the result is false.
bool ProcessFFTFilter(TFFTFilter* filter, uint8_t channelSelect, uint8_t* data, int32_t bytes);
