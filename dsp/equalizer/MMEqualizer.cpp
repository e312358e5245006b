#include "dsp/equalizer/MMEqualizer.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "stream/MMErrors.h"
#include "stream/MainThreadDispatcher.h"
#include "stream/PcmRoutines.h"

namespace {

constexpr int32_t DisplayQueueBytes = 8192;
constexpr int32_t ImpulseBufferBytes = 16386;
constexpr int16_t ImpulseValue = 21500;

int32_t clampFFTLength(int32_t value) {
    value = std::clamp(value, 8, 4096);
    int32_t p = 8;
    while (p * 2 <= value) p *= 2;
    return p;
}

bool equalizable(const WAVEFORMATEX* f) {
    // The block filter keeps state for two channels at most.
    return PcmFormatSupported(f) && f->wBitsPerSample == 16 && f->nChannels <= 2;
}

} // namespace

TMMEqualizer::TMMEqualizer() { RegisterEqualizerClasses(); }

TMMEqualizer::~TMMEqualizer() {
    MainThreadDispatcher::Instance().RemovePosts(this);
    SetSpectrum(nullptr);
    freeStreamFilter();
    freeDisplayFilter();
    filters_.Equalizer = nullptr;
}

void TMMEqualizer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    std::lock_guard guard(filterLock_);
    if (streamFilter_) ResetFFTFilter(streamFilter_);
}

void TMMEqualizer::SetSampleRate(int32_t value) {
    value = std::clamp(value, 4000, 100000);
    if (value == sampleRate_) return;
    sampleRate_ = value;
    recreateDisplayFilter();
}

void TMMEqualizer::SetFFTLength(int32_t value) {
    value = clampFFTLength(value);
    if (value == fftLength_) return;
    fftLength_ = value;
    recreateDisplayFilter();
    if (!prepared_) return;
    {
        std::lock_guard guard(filterLock_);
        FreeFFTFilter(streamFilter_);
        streamFilter_ = CreateFFTFilter(GetPWaveFormat(), fftLength_, queueSize_);
        if (!streamFilter_) {
            prepared_ = false;
            throw std::bad_alloc();
        }
        SetFFTFilterWindow(streamFilter_, window_);
    }
    RebuildResponse();
}

void TMMEqualizer::SetWindow(TMMFFTWindow value) {
    if (value == window_) return;
    window_ = value;
    if (prepared_) {
        std::lock_guard guard(filterLock_);
        if (streamFilter_) SetFFTFilterWindow(streamFilter_, window_);
    }
    recreateDisplayFilter();
}

void TMMEqualizer::Assign(const TMMEqualizer& source) {
    if (&source == this) return;
    Channel = source.Channel;
    SetEnabled(source.enabled_);
    Description = source.Description;
    SetFFTLength(source.fftLength_);
    SetWindow(source.window_);
    filters_.Assign(&source.filters_);
    SetSampleRate(source.sampleRate_);
}

void TMMEqualizer::RebuildResponse() {
    if (!prepared_) return;
    ResetResponse();
    std::lock_guard guard(filterLock_);
    if (!streamFilter_) return;
    for (int i = 0; i < filters_.Count(); ++i) {
        const TMMEQFilter* f = filters_.Items(i);
        if (f->Enabled) SetFFTFilterBand(streamFilter_, f->F1, f->F2, f->Gain);
    }
}

void TMMEqualizer::ResetResponse() {
    if (!prepared_) return;
    std::lock_guard guard(filterLock_);
    if (streamFilter_) SetFFTFilterBand(streamFilter_, 0.0f, static_cast<float>(sampleRate_) / 2, 0.0f);
}

void TMMEqualizer::Changed() {
    if (spectrum_ && !(ComponentState() & csLoading)) spectrum_->RefreshResponse();
    if (OnChange) OnChange(this);
}

void TMMEqualizer::FilterChanged(TMMEQFilter* filter) {
    if (suppress_ || filters_.UpdateCount() > 0) return;
    if (prepared_) {
        std::lock_guard guard(filterLock_);
        if (streamFilter_)
            SetFFTFilterBand(streamFilter_, filter->F1, filter->F2, filter->Enabled ? filter->Gain : 0.0f);
    }
    Changed();
}

void TMMEqualizer::ListChanged() {
    if (suppress_ || filters_.UpdateCount() > 0) return;
    RebuildResponse();
    Changed();
}

void TMMEqualizer::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format) {
        if (!equalizable(format)) throw EMMEqualizerError(MMText::InvalidWaveFormat);
        SetSampleRate(static_cast<int32_t>(format->nSamplesPerSec));
    }
    TMMDSPComponent::SetPWaveFormat(format);
}

void TMMEqualizer::prepare() {
    const WAVEFORMATEX* f = GetPWaveFormat();
    if (prepared_ || !equalizable(f)) return;
    queueSize_ = std::max(65536, RealBufferSize(f, RequestedBufferSize()));
    {
        std::lock_guard guard(filterLock_);
        streamFilter_ = CreateFFTFilter(f, fftLength_, queueSize_);
        if (!streamFilter_) throw std::bad_alloc();
        SetFFTFilterWindow(streamFilter_, window_);
    }
    prepared_ = true;
    RebuildResponse();
}

void TMMEqualizer::freeStreamFilter() {
    std::lock_guard guard(filterLock_);
    FreeFFTFilter(streamFilter_);
    prepared_ = false;
}

void TMMEqualizer::Opened() {
    prepare();
    TMMDSPComponent::Opened();
}

void TMMEqualizer::Closed() {
    freeStreamFilter();
    TMMDSPComponent::Closed();
}

void TMMEqualizer::Started() {
    RebuildResponse();
    {
        std::lock_guard guard(filterLock_);
        if (streamFilter_) ResetFFTFilter(streamFilter_);
    }
    TMMDSPComponent::Started();
}

void TMMEqualizer::Reset() {
    {
        std::lock_guard guard(filterLock_);
        if (streamFilter_) ResetFFTFilter(streamFilter_);
    }
    TMMDSPComponent::Reset();
}

void TMMEqualizer::equalize(PWaveHdr buffer) {
    bool clipped = false;
    {
        std::lock_guard guard(filterLock_);
        if (!prepared_ || !streamFilter_ || !enabled_) return;
        clipped = ProcessFFTFilter(streamFilter_, static_cast<uint8_t>(Channel), buffer->lpData,
                                   static_cast<int32_t>(buffer->dwBytesRecorded));
    }
    if (clipped && OnPcmOverflow) reportOverflow();
}

void TMMEqualizer::reportOverflow() {
    auto& dispatcher = MainThreadDispatcher::Instance();
    if (dispatcher.IsMainThread()) {
        OnPcmOverflow(this);
        return;
    }
    // Posted, not waited for: the audio thread must never wait on a main thread that may be
    // waiting on it. Overflows in a row collapse into one notification.
    if (overflowPosted_.exchange(true)) return;
    dispatcher.Post(this, [this] {
        overflowPosted_ = false;
        if (OnPcmOverflow) OnPcmOverflow(this);
    });
}

void TMMEqualizer::BufferReady(PWaveHdr lpWaveHdr) {
    if (prepared_) equalize(lpWaveHdr);
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

int TMMEqualizer::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (prepared_) equalize(lpWaveHdr);
    return 0;
}

void TMMEqualizer::freeDisplayFilter() { FreeFFTFilter(displayFilter_); }

void TMMEqualizer::recreateDisplayFilter() {
    freeDisplayFilter();
    if (!spectrum_) return;
    const WAVEFORMATEX mono = PcmBuildFormat(16, 1, static_cast<uint32_t>(sampleRate_));
    displayFilter_ = CreateFFTFilter(&mono, fftLength_, DisplayQueueBytes);
    spectrum_->SetResponseFormat(&mono);
    if (displayFilter_) SetFFTFilterWindow(displayFilter_, window_);
    spectrum_->RefreshResponse();
}

void TMMEqualizer::SetSpectrum(EqualizerResponseDisplay* spectrum, TMMComponent* component) {
    if (spectrum == spectrum_) return;
    if (spectrum && component == this) return;
    if (spectrum_) {
        auto* old = spectrum_;
        spectrum_ = nullptr;
        spectrumComponent_ = nullptr;
        old->SetOnNeedData({});
        old->RefreshResponse();
        freeDisplayFilter();
    }
    if (!spectrum) return;
    spectrum_ = spectrum;
    spectrumComponent_ = component;
    recreateDisplayFilter();
    spectrum_->SetResponseWindow(fwRectangular);
    spectrum_->SetOnNeedData([this] { displayNeedsData(); });
    spectrum_->RefreshResponse();
}

void TMMEqualizer::displayNeedsData() {
    if (!displayFilter_ || !spectrum_) return;
    ResetFFTFilter(displayFilter_); // each request shows the kernel alone, not last time's tail
    SetFFTFilterBand(displayFilter_, 0.0f, static_cast<float>(sampleRate_) / 2, 0.0f);
    for (int i = 0; i < filters_.Count(); ++i) {
        const TMMEQFilter* f = filters_.Items(i);
        if (f->Enabled) SetFFTFilterBand(displayFilter_, f->F1, f->F2, f->Gain);
    }
    std::vector<uint8_t> impulse(ImpulseBufferBytes, 0);
    const int16_t first = ImpulseValue;
    std::memcpy(impulse.data(), &first, 2);
    int32_t bytes = std::max(spectrum_->AnalysisBlockBytes(), 2 * fftLength_);
    bytes = std::min({bytes, DisplayQueueBytes, ImpulseBufferBytes});
    bytes -= bytes % 2;
    ProcessFFTFilter(displayFilter_, 1, impulse.data(), bytes);
    spectrum_->AnalyseResponse(impulse.data(), bytes);
}

void TMMEqualizer::Notification(TMMComponent* component, TMMOperation operation) {
    if (operation == opRemove && component && component == spectrumComponent_) {
        // The analyser is going away: forget it without calling into it.
        spectrum_ = nullptr;
        spectrumComponent_ = nullptr;
        freeDisplayFilter();
    }
    TMMDSPComponent::Notification(component, operation);
}
