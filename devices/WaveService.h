#pragma once
// The sound device service: everything the wave input and output components ask of a sound
// back end, as one small table of operations.
//
// A back end lists devices per direction (ids 0..N-1, and MapperId for the system's default),
// opens a handle on one of them, and plays or records the audio buffers queued on that handle.
// Each queued buffer comes back exactly once, in queue order, marked WHDR_DONE and announced by a
// Done notification; Reset returns every queued buffer that way. Operations return MMRESULT
// codes, never throw; ErrorText turns a code into the back end's own text.
//
// Threads: every operation may be called from any thread. Notifications run on a thread of the
// back end (never on the caller's thread during the call), so a callback only counts and
// forwards. Open, Start, Stop, Pause, Restart, Reset, Close and GetPosition wait for the back
// end's thread: never call them while holding a lock the callback takes. Queue, Prepare and
// Unprepare never wait. From inside a callback every operation but Close may be called (Close
// answers MMSYSERR_HANDLEBUSY there).
//
// Buffer flags: while a buffer is queued the back end's thread owns it and writes dwFlags (and,
// for input, dwBytesRecorded). Other threads read and write dwFlags only through
// LoadBufferFlags/StoreBufferFlags, which are atomic, so polling for WHDR_DONE is safe.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "stream/AudioBuffer.h"
#include "stream/MMTypes.h"
#include "stream/WaveFormat.h"

using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;
// Codes from here up belong to a back end (the ALSA one adds the errno of a failed call);
// only that back end's ErrorText knows their texts.
constexpr MMRESULT WaveDriverErrorBase = 0x10000;

// The text a component shows when the service has no text for a code.
inline constexpr const char* WaveUnknownErrorText = "Specified error number is out of range (unknown error)";

// The service's texts for the codes above, or null for a code it does not define.
const char* StandardWaveErrorText(MMRESULT code);

// Set by the back end while a buffer is queued, next to WHDR_DONE and WHDR_PREPARED.
constexpr uint32_t WHDR_INQUEUE = 0x10;

inline uint32_t LoadBufferFlags(WAVEHDR* buffer) {
    return std::atomic_ref<uint32_t>(buffer->dwFlags).load(std::memory_order_acquire);
}
inline void StoreBufferFlags(WAVEHDR* buffer, uint32_t flags) {
    std::atomic_ref<uint32_t>(buffer->dwFlags).store(flags, std::memory_order_release);
}
inline bool BufferIsDone(WAVEHDR* buffer) {
    return (LoadBufferFlags(buffer) & WHDR_DONE) != 0;
}

// Standard formats of the capability mask: rate class 1 = 11025, 2 = 22050, 4 = 44100 Hz;
// M/S = mono/stereo; 08/16 = bits.
constexpr uint32_t WAVE_FORMAT_1M08 = 0x001;
constexpr uint32_t WAVE_FORMAT_1S08 = 0x002;
constexpr uint32_t WAVE_FORMAT_1M16 = 0x004;
constexpr uint32_t WAVE_FORMAT_1S16 = 0x008;
constexpr uint32_t WAVE_FORMAT_2M08 = 0x010;
constexpr uint32_t WAVE_FORMAT_2S08 = 0x020;
constexpr uint32_t WAVE_FORMAT_2M16 = 0x040;
constexpr uint32_t WAVE_FORMAT_2S16 = 0x080;
constexpr uint32_t WAVE_FORMAT_4M08 = 0x100;
constexpr uint32_t WAVE_FORMAT_4S08 = 0x200;
constexpr uint32_t WAVE_FORMAT_4M16 = 0x400;
constexpr uint32_t WAVE_FORMAT_4S16 = 0x800;
constexpr uint32_t WAVE_FORMAT_ALL_STANDARD = 0xFFF;

// The standard-format bit of a rate class (11025, 22050 or 44100), channel count and bit depth;
// 0 when the combination has none.
uint32_t StandardFormatBit(uint32_t rateClass, int channels, int bits);

// Open flag: open a concrete device through the system's mapper.
constexpr uint32_t WAVE_MAPPED = 0x0004;

enum class WaveDirection { In, Out };

struct WaveDeviceCaps {
    std::string productName;
    uint32_t driverVersion = 0; // major in the high byte, minor in the low byte
    uint32_t formats = 0;       // WAVE_FORMAT_... bits the device takes
};

enum class WaveMessage { Open, Close, Done };

// An open device; 0 is never a valid handle. Handles are not reused within a process.
using WaveHandle = uint64_t;
constexpr WaveHandle NoWaveHandle = 0;

// `buffer` is set for Done only. `instance` is the value given to Open.
using WaveCallback = void (*)(WaveHandle handle, WaveMessage message, void* instance, WAVEHDR* buffer);

enum class WaveTimeUnit { Samples, Bytes };

// Asked in `unit`; a back end that cannot answer in it answers in the other and says so.
// The count wraps at 2^32.
struct WavePosition {
    WaveTimeUnit unit = WaveTimeUnit::Samples;
    uint32_t value = 0;
};

class WaveService {
public:
    virtual ~WaveService() = default;

    // Number of devices; ids 0..N-1 and MapperId are valid while N > 0. Each call lists the
    // devices again; the ids of the other operations refer to the latest list.
    virtual int DeviceCount(WaveDirection direction) = 0;
    virtual MMRESULT GetCaps(WaveDirection direction, TMMDeviceId id, WaveDeviceCaps& caps) = 0;
    // 0 when the device can play (record) the format; nothing stays open.
    virtual MMRESULT QueryFormat(WaveDirection direction, TMMDeviceId id, const WAVEFORMATEX* format) = 0;
    // On success `handle` is set and the Open notification has been delivered.
    virtual MMRESULT Open(WaveDirection direction, TMMDeviceId id, const WAVEFORMATEX* format,
                          WaveCallback callback, void* instance, uint32_t flags, WaveHandle& handle) = 0;

    virtual MMRESULT Prepare(WaveHandle handle, WAVEHDR* buffer) = 0;
    // WAVERR_STILLPLAYING while the buffer is queued.
    virtual MMRESULT Unprepare(WaveHandle handle, WAVEHDR* buffer) = 0;
    // Output: plays dwBufferLength bytes. Input: records up to dwBufferLength bytes and sets
    // dwBytesRecorded. The buffer must be prepared and not queued.
    virtual MMRESULT Queue(WaveHandle handle, WAVEHDR* buffer) = 0;

    // Input only: start and stop recording. Stop returns the partly filled buffer (if any).
    virtual MMRESULT Start(WaveHandle handle) = 0;
    virtual MMRESULT Stop(WaveHandle handle) = 0;
    // Output only: hold and resume playback; buffers queued while paused wait.
    virtual MMRESULT Pause(WaveHandle handle) = 0;
    virtual MMRESULT Restart(WaveHandle handle) = 0;
    // Stops the stream, returns every queued buffer (Done notifications delivered before it
    // returns) and sets the position to 0. A paused output stays paused; an input stops.
    virtual MMRESULT Reset(WaveHandle handle) = 0;
    // WAVERR_STILLPLAYING while buffers are queued. On success the Close notification has been
    // delivered and the handle is gone.
    virtual MMRESULT Close(WaveHandle handle) = 0;

    // Samples played (recorded) since the last reset.
    virtual MMRESULT GetPosition(WaveHandle handle, WavePosition& position) = 0;
    // MMSYSERR_BADERRNUM for a code the back end has no text for.
    virtual MMRESULT ErrorText(MMRESULT code, std::string& text) = 0;
};

// The text of `code`, or WaveUnknownErrorText when the service has none.
std::string WaveErrorMessage(WaveService& service, MMRESULT code);

// The service components use when they are not given one: the ALSA back end unless a test has
// installed another. Components keep the pointer they got, so replacing it never pulls a back end
// from under an open device.
std::shared_ptr<WaveService> DefaultWaveService();
// Null restores the ALSA back end.
void SetDefaultWaveService(std::shared_ptr<WaveService> service);
