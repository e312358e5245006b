#pragma once
// Equalizes a 16-bit PCM stream from a list of band filters, through the FFT block filter.
//
// Threads: gain changes come from the main thread while buffers are equalized on the audio
// thread; the block filter's own lock keeps each block on one complete response. Replacing the
// stream filter (a new FFTLength) happens under `filterLock_`, which processing also takes, so a
// buffer is never filtered by a filter being freed. OnPcmOverflow runs on the main thread.

#include <atomic>
#include <functional>
#include <string>

#include "dsp/equalizer/MMEQFilter.h"
#include "dsp/equalizer/ResponseDisplay.h"
#include "dsp/fft/FFTWindow.h"
#include "dsp/fftfilter/FFTFilter.h"
#include "stream/MMCriticalSection.h"
#include "stream/MMDSPComponent.h"
#include "stream/MMTypes.h"

class TMMEqualizer : public TMMDSPComponent {
public:
    TMMEqualizer();
    ~TMMEqualizer() override;

    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool value);
    int32_t GetSampleRate() const { return sampleRate_; }
    void SetSampleRate(int32_t value);
    int32_t GetFFTLength() const { return fftLength_; }
    void SetFFTLength(int32_t value);
    std::string Description = "Untitled";
    TMMEQFilterList& Filters() { return filters_; }
    const TMMEQFilterList& Filters() const { return filters_; }
    void SetFilters(const TMMEQFilterList& list) { filters_.Assign(&list); }
    EqualizerResponseDisplay* GetSpectrum() const { return spectrum_; }
    // `component` is the analyser's chain component, when it is one, so its removal unlinks it.
    void SetSpectrum(EqualizerResponseDisplay* spectrum, TMMComponent* component = nullptr);
    TMMChannel Channel = chBoth;
    TMMFFTWindow GetWindow() const { return window_; }
    void SetWindow(TMMFFTWindow value);

    std::function<void(TMMEqualizer* sender)> OnChange;
    std::function<void(TMMEqualizer* sender)> OnPcmOverflow;

    void Assign(const TMMEqualizer& source);
    bool Prepared() const { return prepared_; }

    virtual void RebuildResponse();
    virtual void ResetResponse();
    virtual void Changed();

    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Reset() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    // Called by the filter list.
    void FilterChanged(TMMEQFilter* filter);
    void ListChanged();
    void SetLoadingSuppressed(bool value) { suppress_ = value; }
    bool LoadingSuppressed() const { return suppress_; }

    // The stream filter, for inspection (null unless prepared).
    TFFTFilter* StreamFilter() const { return streamFilter_; }

protected:
    void Notification(TMMComponent* component, TMMOperation operation) override;

private:
    void prepare();
    void freeStreamFilter();
    void equalize(PWaveHdr buffer);
    void recreateDisplayFilter();
    void freeDisplayFilter();
    void displayNeedsData();
    void reportOverflow();

    bool enabled_ = true;
    int32_t sampleRate_ = 4000;
    int32_t fftLength_ = 256;
    TMMFFTWindow window_ = fwHamming;
    TMMEQFilterList filters_{this};
    EqualizerResponseDisplay* spectrum_ = nullptr;
    TMMComponent* spectrumComponent_ = nullptr;

    TMMCriticalSection filterLock_;
    TFFTFilter* streamFilter_ = nullptr;
    TFFTFilter* displayFilter_ = nullptr;
    bool prepared_ = false;
    int32_t queueSize_ = 65536;
    bool suppress_ = false;
    std::atomic<bool> overflowPosted_{false};
};
