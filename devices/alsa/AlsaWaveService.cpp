#include "devices/alsa/AlsaWaveService.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "devices/WaveBufferState.h"
#include "devices/alsa/AlsaCaptureStream.h"
#include "devices/alsa/AlsaPcm.h"
#include "devices/alsa/AlsaPlaybackStream.h"

namespace {

std::atomic<WaveHandle> nextHandle{1};

int slot(WaveDirection direction) {
    return direction == WaveDirection::In ? 0 : 1;
}

uint32_t driverVersion() {
    // The library's version, major.minor as the capability record carries it.
    unsigned major = 0, minor = 0;
    std::sscanf(snd_asoundlib_version(), "%u.%u", &major, &minor);
    return (major & 0xff) << 8 | (minor & 0xff);
}

uint32_t standardFormats(const std::string& pcmName, WaveDirection direction) {
    snd_pcm_t* pcm = nullptr;
    // A device busy right now is reported as taking everything; the open itself will tell.
    if (OpenAlsaPcm(pcmName, direction, &pcm) != MMSYSERR_NOERROR) return WAVE_FORMAT_ALL_STANDARD;
    uint32_t formats = 0;
    for (uint32_t rate : {11025u, 22050u, 44100u})
        for (int channels : {1, 2})
            for (int bits : {8, 16}) {
                const WAVEFORMATEX format = PcmBuildFormat(bits, channels, rate);
                if (AlsaPcmAcceptsFormat(pcm, &format)) formats |= StandardFormatBit(rate, channels, bits);
            }
    snd_pcm_close(pcm);
    return formats;
}

// ALSA prints its own diagnostics (an unknown PCM, a busy card) to stderr; the result codes
// already carry them to the user. TONALIS_ALSA_DEBUG keeps them for debugging.
void silentAlsaError(const char*, int, const char*, int, const char*, ...) {}

void quietAlsaDiagnostics() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::getenv("TONALIS_ALSA_DEBUG")) return;
        snd_lib_error_set_handler(silentAlsaError);
    });
}

} // namespace

#if defined(__SANITIZE_THREAD__)
// libpulse (inside ALSA's pulse plug-in) hands packet memory between its own threads through
// lock-free pools ThreadSanitizer cannot see into; its reports there concern libpulse's memory,
// never ours. Every program that can load the plug-in links this file, so it is said once here.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon\n";
}
#endif

AlsaWaveService::AlsaWaveService() {
    quietAlsaDiagnostics();
}

AlsaWaveService::~AlsaWaveService() = default;

int AlsaWaveService::DeviceCount(WaveDirection direction) {
    auto devices = AlsaDeviceList::List(direction);
    std::lock_guard guard(lock_);
    lists_[slot(direction)] = std::move(devices);
    listed_[slot(direction)] = true;
    return static_cast<int>(lists_[slot(direction)].size());
}

bool AlsaWaveService::device(WaveDirection direction, TMMDeviceId id, AlsaDevice& found) {
    bool listed;
    {
        std::lock_guard guard(lock_);
        listed = listed_[slot(direction)];
    }
    if (!listed) DeviceCount(direction);
    std::lock_guard guard(lock_);
    const auto& list = lists_[slot(direction)];
    if (list.empty()) return false;
    if (id == MapperId) {
        found = AlsaDeviceList::Mapper(direction);
        return true;
    }
    if (id < 0 || id >= static_cast<TMMDeviceId>(list.size())) return false;
    found = list[static_cast<size_t>(id)];
    return true;
}

std::string AlsaWaveService::PcmName(WaveDirection direction, TMMDeviceId id) {
    AlsaDevice found;
    return device(direction, id, found) ? found.pcm : std::string();
}

MMRESULT AlsaWaveService::GetCaps(WaveDirection direction, TMMDeviceId id, WaveDeviceCaps& caps) {
    AlsaDevice found;
    if (!device(direction, id, found)) return MMSYSERR_BADDEVICEID;
    caps.productName = found.description;
    caps.driverVersion = driverVersion();
    caps.formats = standardFormats(found.pcm, direction);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveService::QueryFormat(WaveDirection direction, TMMDeviceId id, const WAVEFORMATEX* format) {
    AlsaDevice found;
    if (!device(direction, id, found)) return MMSYSERR_BADDEVICEID;
    snd_pcm_format_t sampleFormat;
    if (!AlsaSampleFormat(format, sampleFormat)) return WAVERR_BADFORMAT;
    snd_pcm_t* pcm = nullptr;
    if (MMRESULT result = OpenAlsaPcm(found.pcm, direction, &pcm); result != MMSYSERR_NOERROR) return result;
    const bool accepted = AlsaPcmAcceptsFormat(pcm, format);
    snd_pcm_close(pcm);
    return accepted ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT AlsaWaveService::Open(WaveDirection direction, TMMDeviceId id, const WAVEFORMATEX* format,
                               WaveCallback callback, void* instance, uint32_t, WaveHandle& handle) {
    // Every device already goes through ALSA's plug layer, so the mapped flag changes nothing.
    handle = NoWaveHandle;
    AlsaDevice found;
    if (!device(direction, id, found)) return MMSYSERR_BADDEVICEID;
    snd_pcm_format_t sampleFormat;
    if (!AlsaSampleFormat(format, sampleFormat)) return WAVERR_BADFORMAT;

    const WaveHandle opened = nextHandle.fetch_add(1);
    std::shared_ptr<AlsaStream> stream;
    if (direction == WaveDirection::Out)
        stream =
            std::make_shared<AlsaPlaybackStream>(opened, direction, found.pcm, *format, callback, instance);
    else
        stream =
            std::make_shared<AlsaCaptureStream>(opened, direction, found.pcm, *format, callback, instance);
    {
        // Listed before the Open notification, so a callback may already use the handle.
        std::lock_guard guard(lock_);
        streams_[opened] = stream;
    }
    const MMRESULT result = stream->Open();
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard guard(lock_);
        streams_.erase(opened);
        return result;
    }
    handle = opened;
    return MMSYSERR_NOERROR;
}

std::shared_ptr<AlsaStream> AlsaWaveService::stream(WaveHandle handle) {
    std::lock_guard guard(lock_);
    auto found = streams_.find(handle);
    return found == streams_.end() ? nullptr : found->second;
}

MMRESULT AlsaWaveService::Prepare(WaveHandle handle, WAVEHDR* buffer) {
    if (!stream(handle)) return MMSYSERR_INVALHANDLE;
    return PrepareBuffer(buffer);
}

MMRESULT AlsaWaveService::Unprepare(WaveHandle handle, WAVEHDR* buffer) {
    if (!stream(handle)) return MMSYSERR_INVALHANDLE;
    return UnprepareBuffer(buffer);
}

MMRESULT AlsaWaveService::Queue(WaveHandle handle, WAVEHDR* buffer) {
    auto s = stream(handle);
    return s ? s->Queue(buffer) : MMSYSERR_INVALHANDLE;
}

MMRESULT AlsaWaveService::Start(WaveHandle handle) {
    auto s = stream(handle);
    return s ? s->Start() : MMSYSERR_INVALHANDLE;
}

MMRESULT AlsaWaveService::Stop(WaveHandle handle) {
    auto s = stream(handle);
    return s ? s->Stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT AlsaWaveService::Pause(WaveHandle handle) {
    auto s = stream(handle);
    return s ? s->Pause() : MMSYSERR_INVALHANDLE;
}

MMRESULT AlsaWaveService::Restart(WaveHandle handle) {
    auto s = stream(handle);
    return s ? s->Restart() : MMSYSERR_INVALHANDLE;
}

MMRESULT AlsaWaveService::Reset(WaveHandle handle) {
    auto s = stream(handle);
    return s ? s->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT AlsaWaveService::Close(WaveHandle handle) {
    auto s = stream(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    const MMRESULT result = s->Close();
    if (result == MMSYSERR_NOERROR) {
        std::lock_guard guard(lock_);
        streams_.erase(handle);
    }
    return result;
}

MMRESULT AlsaWaveService::GetPosition(WaveHandle handle, WavePosition& position) {
    auto s = stream(handle);
    return s ? s->GetPosition(position) : MMSYSERR_INVALHANDLE;
}

MMRESULT AlsaWaveService::ErrorText(MMRESULT code, std::string& text) {
    if (const char* standard = StandardWaveErrorText(code)) {
        text = standard;
        return MMSYSERR_NOERROR;
    }
    // errno values and ALSA's own error numbers (from 500000) are all far below a million.
    if (code > WaveDriverErrorBase && code - WaveDriverErrorBase < 1000000) {
        text = snd_strerror(-static_cast<int>(code - WaveDriverErrorBase));
        return MMSYSERR_NOERROR;
    }
    return MMSYSERR_BADERRNUM;
}
