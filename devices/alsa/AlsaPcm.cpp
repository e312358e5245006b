#include "devices/alsa/AlsaPcm.h"

#include <algorithm>

namespace {

bool formatShapeValid(const WAVEFORMATEX* format) {
    if (!format || format->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (format->nChannels == 0 || format->nSamplesPerSec == 0) return false;
    return format->nBlockAlign == format->nChannels * (format->wBitsPerSample / 8);
}

struct HwParams {
    snd_pcm_hw_params_t* params = nullptr;
    HwParams() { snd_pcm_hw_params_malloc(&params); }
    ~HwParams() { snd_pcm_hw_params_free(params); }
};

struct SwParams {
    snd_pcm_sw_params_t* params = nullptr;
    SwParams() { snd_pcm_sw_params_malloc(&params); }
    ~SwParams() { snd_pcm_sw_params_free(params); }
};

// Restricts `hw` to the format; false when the PCM cannot take it.
bool restrictToFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, const WAVEFORMATEX* format) {
    snd_pcm_format_t sampleFormat;
    if (!AlsaSampleFormat(format, sampleFormat)) return false;
    if (snd_pcm_hw_params_any(pcm, hw) < 0) return false;
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return false;
    if (snd_pcm_hw_params_set_format(pcm, hw, sampleFormat) < 0) return false;
    if (snd_pcm_hw_params_set_channels(pcm, hw, format->nChannels) < 0) return false;
    return snd_pcm_hw_params_set_rate(pcm, hw, format->nSamplesPerSec, 0) >= 0;
}

snd_pcm_uframes_t wantedPeriod(unsigned rate) {
    const unsigned target = rate / 100;
    snd_pcm_uframes_t period = 128;
    while (period < 1024 && period * 3 / 2 < target)
        period *= 2;
    return period;
}

} // namespace

bool AlsaSampleFormat(const WAVEFORMATEX* format, snd_pcm_format_t& sampleFormat) {
    if (!formatShapeValid(format)) return false;
    switch (format->wBitsPerSample) {
    case 8:
        sampleFormat = SND_PCM_FORMAT_U8;
        return true;
    case 16:
        sampleFormat = SND_PCM_FORMAT_S16_LE;
        return true;
    case 24:
        sampleFormat = SND_PCM_FORMAT_S24_3LE;
        return true;
    case 32:
        sampleFormat = SND_PCM_FORMAT_S32_LE;
        return true;
    default:
        return false;
    }
}

MMRESULT OpenAlsaPcm(const std::string& name, WaveDirection direction, snd_pcm_t** pcm) {
    const auto stream = direction == WaveDirection::Out ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
    return AlsaResult(snd_pcm_open(pcm, name.c_str(), stream, SND_PCM_NONBLOCK));
}

bool AlsaPcmAcceptsFormat(snd_pcm_t* pcm, const WAVEFORMATEX* format) {
    HwParams hw;
    return hw.params && restrictToFormat(pcm, hw.params, format);
}

MMRESULT ConfigureAlsaPcm(snd_pcm_t* pcm, WaveDirection direction, const WAVEFORMATEX* format,
                          AlsaStreamShape& shape) {
    HwParams hw;
    SwParams sw;
    if (!hw.params || !sw.params) return MMSYSERR_NOMEM;
    if (!restrictToFormat(pcm, hw.params, format)) return WAVERR_BADFORMAT;

    snd_pcm_uframes_t period = wantedPeriod(format->nSamplesPerSec);
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(pcm, hw.params, &period, &dir);
    snd_pcm_uframes_t buffer = period * 4;
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw.params, &buffer);
    if (int error = snd_pcm_hw_params(pcm, hw.params); error < 0) return AlsaResult(error);
    snd_pcm_hw_params_get_period_size(hw.params, &period, &dir);
    snd_pcm_hw_params_get_buffer_size(hw.params, &buffer);

    if (int error = snd_pcm_sw_params_current(pcm, sw.params); error < 0) return AlsaResult(error);
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw.params, &boundary);
    // Playback starts by itself once a period is written; capture only when told to.
    const snd_pcm_uframes_t startThreshold = direction == WaveDirection::Out ? period : boundary;
    snd_pcm_sw_params_set_start_threshold(pcm, sw.params, startThreshold);
    snd_pcm_sw_params_set_avail_min(pcm, sw.params, period);
    if (int error = snd_pcm_sw_params(pcm, sw.params); error < 0) return AlsaResult(error);

    shape.periodFrames = period;
    shape.bufferFrames = buffer;
    shape.frameBytes = format->nBlockAlign;
    shape.rate = format->nSamplesPerSec;
    shape.canPause = snd_pcm_hw_params_can_pause(hw.params) != 0;
    return MMSYSERR_NOERROR;
}
