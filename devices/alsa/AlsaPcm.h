#pragma once
// Opening and configuring ALSA PCMs the way every stream of the back end uses them.
//
// Streams are interleaved, non-blocking, with a period of 128..1024 frames (about 10 ms) and a
// buffer of four periods: the pulse plug-in needs at least three periods, and small periods keep
// the done reports close to what is heard.

#include <alsa/asoundlib.h>

#include <string>

#include "devices/WaveService.h"

// An ALSA error (negative errno) as a result code of this back end.
inline MMRESULT AlsaResult(int error) {
    return error >= 0 ? MMSYSERR_NOERROR : WaveDriverErrorBase + static_cast<MMRESULT>(-error);
}

struct AlsaStreamShape {
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_uframes_t bufferFrames = 0;
    unsigned frameBytes = 0;
    unsigned rate = 0;
    bool canPause = false;
};

// The ALSA sample format for a PCM wave format (8, 16, 24 or 32 bits); false for anything else.
bool AlsaSampleFormat(const WAVEFORMATEX* format, snd_pcm_format_t& sampleFormat);

// Opens `name` non-blocking for the direction.
MMRESULT OpenAlsaPcm(const std::string& name, WaveDirection direction, snd_pcm_t** pcm);

// True when the PCM's hardware parameters take the format (nothing is committed).
bool AlsaPcmAcceptsFormat(snd_pcm_t* pcm, const WAVEFORMATEX* format);

// Commits hardware and software parameters for the format; WAVERR_BADFORMAT when it is refused.
MMRESULT ConfigureAlsaPcm(snd_pcm_t* pcm, WaveDirection direction, const WAVEFORMATEX* format,
                          AlsaStreamShape& shape);
