#pragma once
// The wave service on ALSA: devices from AlsaDeviceList, one AlsaStream (and its service
// thread) per open handle, error texts from snd_strerror.
//
// Devices are listed again at each DeviceCount; the ids of later calls refer to that list.
// Before the first DeviceCount, the first id-taking call lists them. ALSA's own diagnostics on
// stderr are silenced (the result codes carry them) unless TONALIS_ALSA_DEBUG is set.

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "devices/WaveService.h"
#include "devices/alsa/AlsaDeviceList.h"

class AlsaStream;

class AlsaWaveService : public WaveService {
public:
    AlsaWaveService();
    ~AlsaWaveService() override;

    int DeviceCount(WaveDirection direction) override;
    MMRESULT GetCaps(WaveDirection direction, TMMDeviceId id, WaveDeviceCaps& caps) override;
    MMRESULT QueryFormat(WaveDirection direction, TMMDeviceId id, const WAVEFORMATEX* format) override;
    MMRESULT Open(WaveDirection direction, TMMDeviceId id, const WAVEFORMATEX* format, WaveCallback callback,
                  void* instance, uint32_t flags, WaveHandle& handle) override;
    MMRESULT Prepare(WaveHandle handle, WAVEHDR* buffer) override;
    MMRESULT Unprepare(WaveHandle handle, WAVEHDR* buffer) override;
    MMRESULT Queue(WaveHandle handle, WAVEHDR* buffer) override;
    MMRESULT Start(WaveHandle handle) override;
    MMRESULT Stop(WaveHandle handle) override;
    MMRESULT Pause(WaveHandle handle) override;
    MMRESULT Restart(WaveHandle handle) override;
    MMRESULT Reset(WaveHandle handle) override;
    MMRESULT Close(WaveHandle handle) override;
    MMRESULT GetPosition(WaveHandle handle, WavePosition& position) override;
    MMRESULT ErrorText(MMRESULT code, std::string& text) override;

    // The PCM name behind an id (MapperId included); empty for an id out of range.
    std::string PcmName(WaveDirection direction, TMMDeviceId id);

private:
    bool device(WaveDirection direction, TMMDeviceId id, AlsaDevice& found);
    std::shared_ptr<AlsaStream> stream(WaveHandle handle);

    std::mutex lock_; // guards the lists and the handle table, never held across a stream call
    std::vector<AlsaDevice> lists_[2];
    bool listed_[2] = {false, false};
    std::map<WaveHandle, std::shared_ptr<AlsaStream>> streams_;
};
