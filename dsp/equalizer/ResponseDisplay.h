#pragma once
// What the equalizer needs of a linked analyser to draw its own frequency response: the
// analyser asks for data on every refresh, and the equalizer answers with an impulse pushed
// through a private copy of its filter.

#include <cstdint>
#include <functional>

#include "dsp/fft/FFTWindow.h"
#include "stream/WaveFormat.h"

class EqualizerResponseDisplay {
public:
    virtual ~EqualizerResponseDisplay() = default;
    virtual void SetResponseFormat(const WAVEFORMATEX* format) = 0;
    virtual void SetResponseWindow(TMMFFTWindow window) = 0;
    // Called on every refresh to fetch the data to analyse; an empty function detaches.
    virtual void SetOnNeedData(std::function<void()> handler) = 0;
    virtual void RefreshResponse() = 0;
    // Bytes the analyser takes for one analysis block.
    virtual int32_t AnalysisBlockBytes() const = 0;
    virtual void AnalyseResponse(const uint8_t* data, int32_t bytes) = 0;
};
