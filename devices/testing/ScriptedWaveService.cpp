#include "devices/testing/ScriptedWaveService.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "devices/WaveBufferState.h"

namespace {

std::atomic<WaveHandle> nextHandle{0x5C000001};

int slot(WaveDirection direction) {
    return direction == WaveDirection::In ? 0 : 1;
}

void defaultSource(uint8_t* data, size_t bytes, uint64_t offset) {
    for (size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<uint8_t>(offset + i);
}

constexpr TMMDeviceId NoDevice = -2;

} // namespace

ScriptedWaveService::ScriptedWaveService(ClockMode mode) : mode_(mode), source_(defaultSource) {
    notifier_ = std::thread([this] { runNotifier(); });
    if (mode_ == ClockMode::RealTime) ticker_ = std::thread([this] { runTicker(); });
}

ScriptedWaveService::~ScriptedWaveService() {
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    if (ticker_.joinable()) ticker_.join();
    notifier_.join();
}

// ---- setting up ------------------------------------------------------------------------------

void ScriptedWaveService::AddDevice(WaveDirection direction, Device device) {
    std::lock_guard guard(lock_);
    devices_[slot(direction)].push_back(std::move(device));
}

void ScriptedWaveService::FailNext(Operation operation, MMRESULT code, int times) {
    std::lock_guard guard(lock_);
    failures_[operation] = {code, times};
}

void ScriptedWaveService::ClearFailures() {
    std::lock_guard guard(lock_);
    failures_.clear();
}

void ScriptedWaveService::SetErrorText(MMRESULT code, std::string text) {
    std::lock_guard guard(lock_);
    texts_[code] = std::move(text);
}

void ScriptedWaveService::Withhold(WaveMessage kind, bool withhold) {
    std::lock_guard guard(lock_);
    if (withhold)
        withheld_.insert(kind);
    else
        withheld_.erase(kind);
}

void ScriptedWaveService::Delay(WaveMessage kind, std::chrono::milliseconds delay) {
    std::lock_guard guard(lock_);
    delays_[kind] = delay;
}

void ScriptedWaveService::ReleaseWithheld() {
    std::lock_guard guard(lock_);
    const auto now = std::chrono::steady_clock::now();
    for (const Note& note : withheldNotes_) {
        const uint64_t seq = ++sequence_;
        notes_.emplace(Key{now, seq}, note);
        undelivered_.insert(seq);
    }
    withheldNotes_.clear();
    changed_.notify_all();
}

void ScriptedWaveService::SetCaptureSource(CaptureSource source) {
    std::lock_guard guard(lock_);
    source_ = source ? std::move(source) : CaptureSource(defaultSource);
}

void ScriptedWaveService::SetPositionStart(uint32_t samples) {
    std::lock_guard guard(lock_);
    positionStart_ = samples;
}

void ScriptedWaveService::AnswerPositionIn(WaveTimeUnit unit) {
    std::lock_guard guard(lock_);
    answerSet_ = true;
    answerUnit_ = unit;
}

// ---- the clock -------------------------------------------------------------------------------

void ScriptedWaveService::AdvanceClock(std::chrono::microseconds step) {
    std::unique_lock lock(lock_);
    advance(static_cast<uint64_t>(std::max<int64_t>(step.count(), 0)));
    waitDelivered(lock, sequence_);
}

std::chrono::microseconds ScriptedWaveService::Now() const {
    std::lock_guard guard(lock_);
    return std::chrono::microseconds(clock_);
}

void ScriptedWaveService::WaitDelivered() {
    std::unique_lock lock(lock_);
    waitDelivered(lock, sequence_);
}

void ScriptedWaveService::waitDelivered(std::unique_lock<std::mutex>& lock, uint64_t upTo) {
    if (onNotifier()) return;
    changed_.wait(lock, [&] { return undelivered_.empty() || *undelivered_.begin() > upTo; });
}

void ScriptedWaveService::advance(uint64_t micros) {
    clock_ += micros;
    for (auto& [handle, s] : streams_) {
        if (!s.open) continue;
        const bool moving = s.direction == WaveDirection::Out ? !s.paused && !s.queue.empty() : s.started;
        if (!moving) {
            s.remainder = 0;
            continue;
        }
        s.remainder += micros * s.format.nSamplesPerSec;
        const uint64_t frames = s.remainder / 1000000;
        s.remainder %= 1000000;
        if (s.direction == WaveDirection::Out)
            playFor(s, frames);
        else
            recordFor(s, frames);
    }
}

void ScriptedWaveService::playFor(Stream& s, uint64_t frames) {
    const unsigned frameBytes = std::max<unsigned>(s.format.nBlockAlign, 1);
    while (!s.queue.empty()) {
        Entry& entry = s.queue.front();
        const uint64_t capacity = entry.buffer->dwBufferLength / frameBytes;
        const uint64_t take = std::min(frames, capacity - entry.frames);
        const uint8_t* data = entry.buffer->lpData + entry.frames * frameBytes;
        s.played.insert(s.played.end(), data, data + take * frameBytes);
        entry.frames += take;
        s.position += take;
        frames -= take;
        if (entry.frames < capacity) break;
        finish(s, false);
    }
    if (s.queue.empty()) s.remainder = 0; // idle time is not play time
}

void ScriptedWaveService::recordFor(Stream& s, uint64_t frames) {
    const unsigned frameBytes = std::max<unsigned>(s.format.nBlockAlign, 1);
    s.position += frames;
    while (frames > 0 || (!s.queue.empty() && s.queue.front().buffer->dwBufferLength < frameBytes)) {
        if (s.queue.empty()) {
            s.captured += frames * frameBytes; // nobody listens: dropped
            return;
        }
        Entry& entry = s.queue.front();
        const uint64_t capacity = entry.buffer->dwBufferLength / frameBytes;
        const uint64_t take = std::min(frames, capacity - entry.frames);
        source_(entry.buffer->lpData + entry.frames * frameBytes, take * frameBytes, s.captured);
        s.captured += take * frameBytes;
        entry.frames += take;
        frames -= take;
        if (entry.frames == capacity) finish(s, true);
    }
}

void ScriptedWaveService::finish(Stream& s, bool recordPartial) {
    Entry entry = s.queue.front();
    s.queue.pop_front();
    if (s.direction == WaveDirection::In && recordPartial)
        entry.buffer->dwBytesRecorded =
            static_cast<uint32_t>(entry.frames * std::max<unsigned>(s.format.nBlockAlign, 1));
    FinishQueuedBuffer(entry.buffer);
    notify(s, WaveMessage::Done, entry.buffer);
}

uint64_t ScriptedWaveService::returnAll(Stream& s) {
    while (!s.queue.empty())
        finish(s, true);
    return sequence_;
}

// ---- notifications ---------------------------------------------------------------------------

uint64_t ScriptedWaveService::notify(const Stream& s, WaveMessage kind, WAVEHDR* buffer) {
    if (!s.callback) return 0;
    const Note note{s.handle, kind, s.callback, s.instance, buffer};
    if (withheld_.count(kind)) {
        withheldNotes_.push_back(note);
        return 0;
    }
    auto due = std::chrono::steady_clock::now();
    const auto delay = delays_.find(kind);
    const bool delayed = delay != delays_.end() && delay->second.count() > 0;
    if (delayed) due += delay->second;
    const uint64_t seq = ++sequence_;
    notes_.emplace(Key{due, seq}, note);
    if (!delayed) undelivered_.insert(seq);
    changed_.notify_all();
    return delayed ? 0 : seq;
}

bool ScriptedWaveService::onNotifier() const {
    return std::this_thread::get_id() == notifier_.get_id();
}

void ScriptedWaveService::runNotifier() {
    pthread_setname_np(pthread_self(), "ScriptedWave");
    std::unique_lock lock(lock_);
    while (true) {
        if (quit_) return;
        if (notes_.empty()) {
            changed_.wait(lock);
            continue;
        }
        auto first = notes_.begin();
        if (first->first.first > std::chrono::steady_clock::now()) {
            changed_.wait_until(lock, first->first.first);
            continue;
        }
        const uint64_t seq = first->first.second;
        const Note note = first->second;
        notes_.erase(first);
        lock.unlock();
        note.callback(note.handle, note.kind, note.instance, note.buffer);
        lock.lock();
        undelivered_.erase(seq);
        changed_.notify_all();
    }
}

void ScriptedWaveService::runTicker() {
    pthread_setname_np(pthread_self(), "ScriptedClock");
    auto last = std::chrono::steady_clock::now();
    std::unique_lock lock(lock_);
    while (!quit_) {
        changed_.wait_for(lock, std::chrono::milliseconds(1));
        const auto now = std::chrono::steady_clock::now();
        advance(
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now - last).count()));
        last = now;
    }
}

// ---- looking on ------------------------------------------------------------------------------

std::vector<ScriptedWaveService::Call> ScriptedWaveService::Calls() const {
    std::lock_guard guard(lock_);
    return calls_;
}

void ScriptedWaveService::ClearCalls() {
    std::lock_guard guard(lock_);
    calls_.clear();
}

std::vector<uint8_t> ScriptedWaveService::Played(WaveHandle handle) const {
    std::lock_guard guard(lock_);
    auto found = streams_.find(handle);
    return found == streams_.end() ? std::vector<uint8_t>() : found->second.played;
}

int ScriptedWaveService::QueuedCount(WaveHandle handle) const {
    std::lock_guard guard(lock_);
    const Stream* s = stream(handle);
    return s ? static_cast<int>(s->queue.size()) : 0;
}

bool ScriptedWaveService::IsOpen(WaveHandle handle) const {
    std::lock_guard guard(lock_);
    return stream(handle) != nullptr;
}

bool ScriptedWaveService::IsPaused(WaveHandle handle) const {
    std::lock_guard guard(lock_);
    const Stream* s = stream(handle);
    return s && s->paused;
}

bool ScriptedWaveService::IsStarted(WaveHandle handle) const {
    std::lock_guard guard(lock_);
    const Stream* s = stream(handle);
    return s && s->started;
}

WaveHandle ScriptedWaveService::LastHandle() const {
    std::lock_guard guard(lock_);
    return lastHandle_;
}

int ScriptedWaveService::OpenHandleCount() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(
        std::count_if(streams_.begin(), streams_.end(), [](const auto& s) { return s.second.open; }));
}

int ScriptedWaveService::WithheldCount() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(withheldNotes_.size());
}

// ---- the service -----------------------------------------------------------------------------

MMRESULT ScriptedWaveService::checkFailure(Operation operation) {
    auto found = failures_.find(operation);
    if (found == failures_.end()) return MMSYSERR_NOERROR;
    const MMRESULT code = found->second.first;
    if (found->second.second > 0 && --found->second.second == 0) failures_.erase(found);
    return code;
}

void ScriptedWaveService::log(Operation operation, WaveDirection direction, TMMDeviceId device,
                              WaveHandle handle, uint32_t flags, WAVEHDR* buffer, MMRESULT result) {
    calls_.push_back({operation, direction, device, handle, flags, buffer, result});
}

const ScriptedWaveService::Device* ScriptedWaveService::device(WaveDirection direction,
                                                               TMMDeviceId id) const {
    const auto& list = devices_[slot(direction)];
    if (list.empty()) return nullptr;
    if (id == MapperId) return &list.front();
    if (id < 0 || id >= static_cast<TMMDeviceId>(list.size())) return nullptr;
    return &list[static_cast<size_t>(id)];
}

ScriptedWaveService::Stream* ScriptedWaveService::stream(WaveHandle handle) {
    auto found = streams_.find(handle);
    return found != streams_.end() && found->second.open ? &found->second : nullptr;
}

const ScriptedWaveService::Stream* ScriptedWaveService::stream(WaveHandle handle) const {
    auto found = streams_.find(handle);
    return found != streams_.end() && found->second.open ? &found->second : nullptr;
}

int ScriptedWaveService::DeviceCount(WaveDirection direction) {
    std::lock_guard guard(lock_);
    return static_cast<int>(devices_[slot(direction)].size());
}

MMRESULT ScriptedWaveService::GetCaps(WaveDirection direction, TMMDeviceId id, WaveDeviceCaps& caps) {
    std::lock_guard guard(lock_);
    MMRESULT result = checkFailure(Operation::Caps);
    if (result == MMSYSERR_NOERROR) {
        if (const Device* d = device(direction, id)) {
            caps.productName = d->name;
            caps.driverVersion = d->driverVersion;
            caps.formats = d->formats;
        } else {
            result = MMSYSERR_BADDEVICEID;
        }
    }
    log(Operation::Caps, direction, id, NoWaveHandle, 0, nullptr, result);
    return result;
}

MMRESULT ScriptedWaveService::QueryFormat(WaveDirection direction, TMMDeviceId id,
                                          const WAVEFORMATEX* format) {
    std::lock_guard guard(lock_);
    MMRESULT result = checkFailure(Operation::QueryFormat);
    if (result == MMSYSERR_NOERROR) {
        const Device* d = device(direction, id);
        if (!d)
            result = MMSYSERR_BADDEVICEID;
        else if (!format || !(d->accepts ? d->accepts(*format) : PcmFormatSupported(format)))
            result = WAVERR_BADFORMAT;
    }
    log(Operation::QueryFormat, direction, id, NoWaveHandle, 0, nullptr, result);
    return result;
}

MMRESULT ScriptedWaveService::Open(WaveDirection direction, TMMDeviceId id, const WAVEFORMATEX* format,
                                   WaveCallback callback, void* instance, uint32_t flags,
                                   WaveHandle& handle) {
    std::unique_lock lock(lock_);
    handle = NoWaveHandle;
    MMRESULT result = checkFailure(Operation::Open);
    if (result == MMSYSERR_NOERROR) {
        const Device* d = device(direction, id);
        if (!d)
            result = MMSYSERR_BADDEVICEID;
        else if (!format || !(d->accepts ? d->accepts(*format) : PcmFormatSupported(format)))
            result = WAVERR_BADFORMAT;
    }
    if (result != MMSYSERR_NOERROR) {
        log(Operation::Open, direction, id, NoWaveHandle, flags, nullptr, result);
        return result;
    }
    const WaveHandle opened = nextHandle.fetch_add(1);
    Stream& s = streams_[opened];
    s.handle = opened;
    s.direction = direction;
    s.format = *format;
    s.callback = callback;
    s.instance = instance;
    lastHandle_ = opened;
    handle = opened;
    log(Operation::Open, direction, id, opened, flags, nullptr, result);
    const uint64_t seq = notify(s, WaveMessage::Open, nullptr);
    if (seq) waitDelivered(lock, seq);
    return result;
}

MMRESULT ScriptedWaveService::Prepare(WaveHandle handle, WAVEHDR* buffer) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Prepare);
    if (result == MMSYSERR_NOERROR) result = s ? PrepareBuffer(buffer) : MMSYSERR_INVALHANDLE;
    log(Operation::Prepare, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, buffer, result);
    return result;
}

MMRESULT ScriptedWaveService::Unprepare(WaveHandle handle, WAVEHDR* buffer) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Unprepare);
    if (result == MMSYSERR_NOERROR) result = s ? UnprepareBuffer(buffer) : MMSYSERR_INVALHANDLE;
    log(Operation::Unprepare, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, buffer, result);
    return result;
}

MMRESULT ScriptedWaveService::Queue(WaveHandle handle, WAVEHDR* buffer) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Queue);
    if (result == MMSYSERR_NOERROR)
        result = s ? BeginQueuedBuffer(buffer, s->direction) : MMSYSERR_INVALHANDLE;
    log(Operation::Queue, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, buffer, result);
    if (result != MMSYSERR_NOERROR) return result;
    s->queue.push_back({buffer, 0});
    if (mode_ == ClockMode::Instant) {
        if (s->direction == WaveDirection::Out && !s->paused)
            playFor(*s, UINT64_MAX);
        else if (s->direction == WaveDirection::In && s->started)
            recordFor(*s, buffer->dwBufferLength / std::max<unsigned>(s->format.nBlockAlign, 1));
    }
    return result;
}

MMRESULT ScriptedWaveService::Start(WaveHandle handle) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Start);
    if (result == MMSYSERR_NOERROR) {
        if (!s)
            result = MMSYSERR_INVALHANDLE;
        else if (s->direction != WaveDirection::In)
            result = MMSYSERR_NOTSUPPORTED;
        else
            s->started = true;
    }
    log(Operation::Start, s ? s->direction : WaveDirection::In, NoDevice, handle, 0, nullptr, result);
    if (result == MMSYSERR_NOERROR && mode_ == ClockMode::Instant) {
        uint64_t frames = 0;
        for (const Entry& entry : s->queue)
            frames += entry.buffer->dwBufferLength / std::max<unsigned>(s->format.nBlockAlign, 1);
        recordFor(*s, frames);
    }
    return result;
}

MMRESULT ScriptedWaveService::Stop(WaveHandle handle) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Stop);
    if (result == MMSYSERR_NOERROR) {
        if (!s)
            result = MMSYSERR_INVALHANDLE;
        else if (s->direction != WaveDirection::In)
            result = MMSYSERR_NOTSUPPORTED;
        else {
            s->started = false;
            s->remainder = 0;
            if (!s->queue.empty() && s->queue.front().frames > 0) finish(*s, true);
        }
    }
    log(Operation::Stop, s ? s->direction : WaveDirection::In, NoDevice, handle, 0, nullptr, result);
    return result;
}

MMRESULT ScriptedWaveService::Pause(WaveHandle handle) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Pause);
    if (result == MMSYSERR_NOERROR) {
        if (!s)
            result = MMSYSERR_INVALHANDLE;
        else if (s->direction != WaveDirection::Out)
            result = MMSYSERR_NOTSUPPORTED;
        else
            s->paused = true;
    }
    log(Operation::Pause, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, nullptr, result);
    return result;
}

MMRESULT ScriptedWaveService::Restart(WaveHandle handle) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Restart);
    if (result == MMSYSERR_NOERROR) {
        if (!s)
            result = MMSYSERR_INVALHANDLE;
        else if (s->direction != WaveDirection::Out)
            result = MMSYSERR_NOTSUPPORTED;
        else
            s->paused = false;
    }
    log(Operation::Restart, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, nullptr, result);
    if (result == MMSYSERR_NOERROR && mode_ == ClockMode::Instant) playFor(*s, UINT64_MAX);
    return result;
}

MMRESULT ScriptedWaveService::Reset(WaveHandle handle) {
    std::unique_lock lock(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Reset);
    if (result == MMSYSERR_NOERROR && !s) result = MMSYSERR_INVALHANDLE;
    log(Operation::Reset, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, nullptr, result);
    if (result != MMSYSERR_NOERROR) return result;
    s->started = false;
    s->remainder = 0;
    const uint64_t upTo = returnAll(*s);
    s->position = 0;
    waitDelivered(lock, upTo);
    return result;
}

MMRESULT ScriptedWaveService::Close(WaveHandle handle) {
    std::unique_lock lock(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Close);
    if (result == MMSYSERR_NOERROR) {
        if (!s)
            result = MMSYSERR_INVALHANDLE;
        else if (onNotifier())
            result = MMSYSERR_HANDLEBUSY;
        else if (!s->queue.empty())
            result = WAVERR_STILLPLAYING;
    }
    log(Operation::Close, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, nullptr, result);
    if (result != MMSYSERR_NOERROR) return result;
    s->open = false;
    const uint64_t seq = notify(*s, WaveMessage::Close, nullptr);
    if (seq) waitDelivered(lock, seq);
    return result;
}

MMRESULT ScriptedWaveService::GetPosition(WaveHandle handle, WavePosition& position) {
    std::lock_guard guard(lock_);
    Stream* s = stream(handle);
    MMRESULT result = checkFailure(Operation::Position);
    if (result == MMSYSERR_NOERROR && !s) result = MMSYSERR_INVALHANDLE;
    log(Operation::Position, s ? s->direction : WaveDirection::Out, NoDevice, handle, 0, nullptr, result);
    if (result != MMSYSERR_NOERROR) return result;
    const uint64_t samples = s->position + positionStart_;
    const WaveTimeUnit unit = answerSet_ ? answerUnit_ : position.unit;
    position.unit = unit;
    position.value =
        static_cast<uint32_t>(unit == WaveTimeUnit::Bytes ? samples * s->format.nBlockAlign : samples);
    return result;
}

MMRESULT ScriptedWaveService::ErrorText(MMRESULT code, std::string& text) {
    std::lock_guard guard(lock_);
    MMRESULT result = checkFailure(Operation::ErrorText);
    if (result == MMSYSERR_NOERROR) {
        if (auto found = texts_.find(code); found != texts_.end())
            text = found->second;
        else if (const char* standard = StandardWaveErrorText(code))
            text = standard;
        else
            result = MMSYSERR_BADERRNUM;
    }
    log(Operation::ErrorText, WaveDirection::Out, NoDevice, NoWaveHandle, 0, nullptr, result);
    return result;
}
