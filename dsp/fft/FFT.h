#pragma once
// Everything of the transform module in one include: windows, tables, plans and kernels.

#include "dsp/fft/FFTKernels.h"
#include "dsp/fft/FFTPlan.h"
#include "dsp/fft/FFTTables.h"
#include "dsp/fft/FFTWindow.h"
#include "dsp/fft/RealFFTPlan.h"
