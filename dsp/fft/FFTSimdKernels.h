#pragma once
// The vectorised kernel tables, each in its own file. Private to dsp/fft: everything else picks
// a table through FFTKernels() or AvailableFFTKernels().

#include "dsp/fft/FFTKernels.h"

#if defined(__x86_64__)
// SSE2 is part of every x86-64 processor.
const FFTKernelTable& SSE2FFTKernels();
// Only for processors that report AVX2.
const FFTKernelTable& AVX2FFTKernels();
#endif
