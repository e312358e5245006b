#pragma once
// An in-process wave service for fault injection: devices and formats set up by the test, a
// clock the test moves, result codes injected per operation, notifications delayed or withheld.
//
// Playback: a handle that is not paused plays its queued buffers at the format's rate while the
// clock moves; a buffer is done (WHDR_DONE set, Done queued) when the clock passes its end. What
// was played is kept per handle (Played), also after Close. Recording: a started handle fills
// its queued buffers from the capture source at the format's rate; data with no buffer queued is
// dropped, as on a real device.
//
// Notifications run on the service's own notifier thread, in order. Open, Reset and Close wait
// until the notifications they cause have been delivered, unless those are delayed or withheld
// (or the call comes from inside a callback, where waiting would stall the notifier).
// AdvanceClock waits the same way. The mapper (MapperId) is device 0.
//
// Thread rules: `lock_` guards all state; callbacks run without it.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "devices/WaveService.h"

class ScriptedWaveService : public WaveService {
public:
    enum class Operation {
        Caps,
        QueryFormat,
        Open,
        Prepare,
        Unprepare,
        Queue,
        Start,
        Stop,
        Pause,
        Restart,
        Reset,
        Close,
        Position,
        ErrorText
    };
    enum class ClockMode {
        Manual,   // time moves only through AdvanceClock
        Instant,  // buffers are played or recorded as soon as they can be
        RealTime, // the clock follows the system clock
    };
    struct Device {
        std::string name;
        uint32_t driverVersion = 0x0100;
        uint32_t formats = WAVE_FORMAT_ALL_STANDARD;
        // The formats the device takes; unset: every format PcmFormatSupported accepts.
        std::function<bool(const WAVEFORMATEX&)> accepts;
    };
    struct Call {
        Operation operation;
        WaveDirection direction;
        TMMDeviceId device; // for device calls, else -2
        WaveHandle handle;  // for handle calls (and a successful Open)
        uint32_t flags;     // Open's flags
        WAVEHDR* buffer;
        MMRESULT result;
    };
    // Fills recorded data; `offset` counts bytes recorded on the handle since it was opened.
    using CaptureSource = std::function<void(uint8_t* data, size_t bytes, uint64_t offset)>;

    explicit ScriptedWaveService(ClockMode mode = ClockMode::Manual);
    ~ScriptedWaveService() override;

    // Setting up.
    void AddDevice(WaveDirection direction, Device device);
    // The next `times` calls of the operation return `code` and do nothing (times < 0: every
    // call until ClearFailures).
    void FailNext(Operation operation, MMRESULT code, int times = 1);
    void ClearFailures();
    // A text for a code of this service; codes without one answer MMSYSERR_BADERRNUM.
    void SetErrorText(MMRESULT code, std::string text);
    // Withheld notifications of that kind wait for ReleaseWithheld; delayed ones come later.
    void Withhold(WaveMessage kind, bool withhold = true);
    void Delay(WaveMessage kind, std::chrono::milliseconds delay);
    void ReleaseWithheld();
    // Default: each byte is the low 8 bits of its offset.
    void SetCaptureSource(CaptureSource source);
    // The position a handle reports right after open and reset (to reach the 32-bit wrap soon).
    void SetPositionStart(uint32_t samples);
    // Answer GetPosition only in this unit, whatever is asked.
    void AnswerPositionIn(WaveTimeUnit unit);

    // The clock.
    void AdvanceClock(std::chrono::microseconds step);
    std::chrono::microseconds Now() const;
    // Waits until every notification queued so far, except delayed and withheld ones, was delivered.
    void WaitDelivered();

    // Looking on.
    std::vector<Call> Calls() const;
    void ClearCalls();
    std::vector<uint8_t> Played(WaveHandle handle) const;
    int QueuedCount(WaveHandle handle) const;
    bool IsOpen(WaveHandle handle) const;
    bool IsPaused(WaveHandle handle) const;
    bool IsStarted(WaveHandle handle) const;
    WaveHandle LastHandle() const;
    int OpenHandleCount() const;
    int WithheldCount() const;

    // The service.
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

private:
    struct Entry {
        WAVEHDR* buffer;
        uint64_t frames; // played or recorded so far
    };
    struct Stream {
        WaveHandle handle;
        WaveDirection direction;
        WAVEFORMATEX format;
        WaveCallback callback;
        void* instance;
        bool open = true;
        bool paused = false;  // output
        bool started = false; // input
        std::deque<Entry> queue;
        uint64_t position = 0;  // frames since the last reset
        uint64_t remainder = 0; // clock micro-frames not yet played
        uint64_t captured = 0;  // bytes recorded since open
        std::vector<uint8_t> played;
    };
    struct Note {
        WaveHandle handle;
        WaveMessage kind;
        WaveCallback callback;
        void* instance;
        WAVEHDR* buffer;
    };
    using Key = std::pair<std::chrono::steady_clock::time_point, uint64_t>; // due, sequence

    MMRESULT checkFailure(Operation operation);
    void log(Operation operation, WaveDirection direction, TMMDeviceId device, WaveHandle handle,
             uint32_t flags, WAVEHDR* buffer, MMRESULT result);
    const Device* device(WaveDirection direction, TMMDeviceId id) const;
    Stream* stream(WaveHandle handle);
    const Stream* stream(WaveHandle handle) const;
    // Queues a notification; returns its sequence number when it is delivered without delay, else 0.
    uint64_t notify(const Stream& stream, WaveMessage kind, WAVEHDR* buffer);
    void waitDelivered(std::unique_lock<std::mutex>& lock, uint64_t upTo);
    void advance(uint64_t micros);
    void playFor(Stream& stream, uint64_t frames);
    void recordFor(Stream& stream, uint64_t frames);
    void finish(Stream& stream, bool recordPartial);
    uint64_t returnAll(Stream& stream);
    void runNotifier();
    void runTicker();
    bool onNotifier() const;

    const ClockMode mode_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Device> devices_[2];
    std::map<Operation, std::pair<MMRESULT, int>> failures_;
    std::map<MMRESULT, std::string> texts_;
    std::set<WaveMessage> withheld_;
    std::map<WaveMessage, std::chrono::milliseconds> delays_;
    CaptureSource source_;
    uint32_t positionStart_ = 0;
    bool answerSet_ = false;
    WaveTimeUnit answerUnit_ = WaveTimeUnit::Samples;
    uint64_t clock_ = 0; // microseconds
    std::vector<Call> calls_;
    std::map<WaveHandle, Stream> streams_;
    WaveHandle lastHandle_ = NoWaveHandle;

    std::map<Key, Note> notes_;
    std::set<uint64_t> undelivered_; // sequences of notifications without delay not yet delivered
    std::vector<Note> withheldNotes_;
    uint64_t sequence_ = 0;
    bool quit_ = false;
    std::thread notifier_;
    std::thread ticker_;
};
