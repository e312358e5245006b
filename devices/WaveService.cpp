#include "devices/WaveService.h"

#include <mutex>

#include "devices/alsa/AlsaWaveService.h"

const char* StandardWaveErrorText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "No error";
    case MMSYSERR_ERROR:
        return "Unspecified error";
    case MMSYSERR_BADDEVICEID:
        return "The device identifier is out of range";
    case MMSYSERR_NOTENABLED:
        return "The driver could not be enabled";
    case MMSYSERR_ALLOCATED:
        return "The device is already in use";
    case MMSYSERR_INVALHANDLE:
        return "Invalid device handle";
    case MMSYSERR_NODRIVER:
        return "No device driver is present";
    case MMSYSERR_NOMEM:
        return "Not enough memory";
    case MMSYSERR_NOTSUPPORTED:
        return "The device does not support this operation";
    case MMSYSERR_BADERRNUM:
        return "Unknown error number";
    case MMSYSERR_INVALFLAG:
        return "Invalid flag";
    case MMSYSERR_INVALPARAM:
        return "Invalid parameter";
    case MMSYSERR_HANDLEBUSY:
        return "The device handle is busy on another thread";
    case WAVERR_BADFORMAT:
        return "The device cannot use this wave format";
    case WAVERR_STILLPLAYING:
        return "Buffers are still queued at the device";
    case WAVERR_UNPREPARED:
        return "The buffer is not prepared";
    case WAVERR_SYNC:
        return "The device is synchronous";
    default:
        return nullptr;
    }
}

uint32_t StandardFormatBit(uint32_t rateClass, int channels, int bits) {
    int rateIndex;
    switch (rateClass) {
    case 11025:
        rateIndex = 0;
        break;
    case 22050:
        rateIndex = 1;
        break;
    case 44100:
        rateIndex = 2;
        break;
    default:
        return 0;
    }
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return 0;
    const int index = rateIndex * 4 + (bits == 16 ? 2 : 0) + (channels == 2 ? 1 : 0);
    return 1u << index;
}

std::string WaveErrorMessage(WaveService& service, MMRESULT code) {
    std::string text;
    if (service.ErrorText(code, text) != MMSYSERR_NOERROR || text.empty()) return WaveUnknownErrorText;
    return text;
}

namespace {

std::mutex defaultLock;
std::shared_ptr<WaveService>& installedService() {
    static std::shared_ptr<WaveService> service;
    return service;
}

} // namespace

std::shared_ptr<WaveService> DefaultWaveService() {
    std::lock_guard guard(defaultLock);
    auto& service = installedService();
    if (!service) service = std::make_shared<AlsaWaveService>();
    return service;
}

void SetDefaultWaveService(std::shared_ptr<WaveService> service) {
    std::lock_guard guard(defaultLock);
    installedService() = std::move(service);
}
