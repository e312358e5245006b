#include "devices/alsa/AlsaStream.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "devices/WaveBufferState.h"

AlsaStream::AlsaStream(WaveHandle handle, WaveDirection direction, std::string pcmName,
                       const WAVEFORMATEX& format, WaveCallback callback, void* instance)
    : format_(format), handle_(handle), direction_(direction), pcmName_(std::move(pcmName)),
      callback_(callback), instance_(instance) {}

AlsaStream::~AlsaStream() {
    if (thread_.joinable()) {
        // Only reached when the owner gives up on an open stream (service destroyed while open).
        {
            std::lock_guard guard(mutex_);
            closed_ = true;
            stopping_ = true;
        }
        wake();
        thread_.join();
    }
    if (pcm_) snd_pcm_close(pcm_);
    if (eventFd_ >= 0) ::close(eventFd_);
}

MMRESULT AlsaStream::Open() {
    eventFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (eventFd_ < 0) return MMSYSERR_NOMEM;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return MMSYSERR_NOMEM;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return openAnswered_; });
    const MMRESULT result = openResult_;
    lock.unlock();
    if (result != MMSYSERR_NOERROR) thread_.join();
    return result;
}

MMRESULT AlsaStream::Queue(WAVEHDR* buffer) {
    {
        std::lock_guard guard(mutex_);
        if (closed_) return MMSYSERR_INVALHANDLE;
        if (failure_) return AlsaResult(failure_);
        if (MMRESULT result = BeginQueuedBuffer(buffer, direction_); result != MMSYSERR_NOERROR)
            return result;
        incoming_.push_back(buffer);
    }
    wake();
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaStream::Close() {
    if (std::this_thread::get_id() == threadId_.load()) return MMSYSERR_HANDLEBUSY;
    const MMRESULT result = command(Command::Close);
    if (result == MMSYSERR_NOERROR && thread_.joinable()) thread_.join();
    return result;
}

MMRESULT AlsaStream::GetPosition(WavePosition& position) {
    return command(Command::Position, &position);
}

MMRESULT AlsaStream::command(Command kind, WavePosition* position) {
    if (std::this_thread::get_id() == threadId_.load()) {
        takeIncoming();
        return execute(kind, position);
    }
    std::lock_guard serial(callers_);
    std::unique_lock lock(mutex_);
    if (closed_) return MMSYSERR_INVALHANDLE;
    pending_ = kind;
    pendingPosition_ = position;
    const uint64_t ticket = ++issued_;
    lock.unlock();
    wake();
    lock.lock();
    changed_.wait(lock, [&] { return answered_ >= ticket; });
    return result_;
}

MMRESULT AlsaStream::execute(Command kind, WavePosition* position) {
    const bool failed = failure() != MMSYSERR_NOERROR;
    switch (kind) {
    case Command::None:
        return MMSYSERR_NOERROR;
    case Command::Start:
        return failed ? failure() : startCommand();
    case Command::Stop:
        return failed ? failure() : stopCommand();
    case Command::Pause:
        return failed ? failure() : pauseCommand();
    case Command::Restart:
        return failed ? failure() : restartCommand();
    case Command::Reset:
        if (failed) {
            returnAll();
            return MMSYSERR_NOERROR;
        }
        return resetCommand();
    case Command::Position: {
        if (failed) return failure();
        const uint64_t frames = positionFrames();
        if (position->unit == WaveTimeUnit::Bytes)
            position->value = static_cast<uint32_t>(frames * shape_.frameBytes);
        else
            position->value = static_cast<uint32_t>(frames);
        return MMSYSERR_NOERROR;
    }
    case Command::Close: {
        std::lock_guard guard(mutex_);
        if (!incoming_.empty() || holdsBuffers()) return WAVERR_STILLPLAYING;
        closed_ = true;
        stopping_ = true;
        return MMSYSERR_NOERROR;
    }
    }
    return MMSYSERR_NOTSUPPORTED;
}

void AlsaStream::run() {
    threadId_.store(std::this_thread::get_id());
    pthread_setname_np(pthread_self(), direction_ == WaveDirection::Out ? "AlsaWaveOut" : "AlsaWaveIn");
    // Audio threads run above normal; a refusal (no privileges) is fine.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -10);

    MMRESULT result = OpenAlsaPcm(pcmName_, direction_, &pcm_);
    if (result == MMSYSERR_NOERROR) {
        result = ConfigureAlsaPcm(pcm_, direction_, &format_, shape_);
        if (result != MMSYSERR_NOERROR) {
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
        }
    }
    if (result == MMSYSERR_NOERROR && callback_) callback_(handle_, WaveMessage::Open, instance_, nullptr);
    {
        std::lock_guard guard(mutex_);
        openResult_ = result;
        openAnswered_ = true;
        opened_ = result == MMSYSERR_NOERROR;
    }
    changed_.notify_all();
    if (result != MMSYSERR_NOERROR) return;

    while (true) {
        uint64_t drained;
        (void)!::read(eventFd_, &drained, sizeof drained);
        takeIncoming();
        Command kind;
        WavePosition* position;
        {
            std::lock_guard guard(mutex_);
            kind = answered_ < issued_ ? pending_ : Command::None;
            position = pendingPosition_;
        }
        if (kind != Command::None) {
            const MMRESULT answer = execute(kind, position);
            if (kind == Command::Close && answer == MMSYSERR_NOERROR) {
                snd_pcm_drop(pcm_);
                snd_pcm_close(pcm_);
                pcm_ = nullptr;
                if (callback_) callback_(handle_, WaveMessage::Close, instance_, nullptr);
            }
            {
                std::lock_guard guard(mutex_);
                result_ = answer;
                answered_ = issued_;
            }
            changed_.notify_all();
        }
        {
            std::lock_guard guard(mutex_);
            if (stopping_) break;
        }
        if (failure() == MMSYSERR_NOERROR) service();
        wait();
    }
}

void AlsaStream::takeIncoming() {
    std::deque<WAVEHDR*> taken;
    {
        std::lock_guard guard(mutex_);
        taken.swap(incoming_);
    }
    for (WAVEHDR* buffer : taken)
        accept(buffer);
}

void AlsaStream::wait() {
    fds_.clear();
    fds_.push_back({eventFd_, POLLIN, 0});
    const bool onPcm = failure() == MMSYSERR_NOERROR && waitOnPcm();
    if (onPcm) {
        const int count = snd_pcm_poll_descriptors_count(pcm_);
        if (count > 0) {
            fds_.resize(1 + count);
            snd_pcm_poll_descriptors(pcm_, fds_.data() + 1, count);
        }
    }
    const int64_t timeout = failure() == MMSYSERR_NOERROR ? waitTimeoutNs() : -1;
    timespec ts{};
    if (timeout >= 0) {
        ts.tv_sec = timeout / 1000000000;
        ts.tv_nsec = timeout % 1000000000;
    }
    const int ready = ppoll(fds_.data(), fds_.size(), timeout >= 0 ? &ts : nullptr, nullptr);
    if (ready > 0 && fds_.size() > 1) {
        // Some plug-ins only clear their wake-up descriptor here.
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(pcm_, fds_.data() + 1, fds_.size() - 1, &revents);
    }
}

void AlsaStream::wake() {
    const uint64_t one = 1;
    (void)!::write(eventFd_, &one, sizeof one);
}

void AlsaStream::notifyDone(WAVEHDR* buffer) {
    FinishQueuedBuffer(buffer);
    if (callback_) callback_(handle_, WaveMessage::Done, instance_, buffer);
}

void AlsaStream::fail(int error) {
    {
        std::lock_guard guard(mutex_);
        if (failure_) return;
        failure_ = error;
    }
    returnAll();
}

MMRESULT AlsaStream::failure() const {
    std::lock_guard guard(mutex_);
    return failure_ ? AlsaResult(failure_) : MMSYSERR_NOERROR;
}
