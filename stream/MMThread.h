#pragma once
// Thread classes of the drivers.
//
// A TMMThreadEx is created suspended; Resume starts it once. Execute runs on the new thread and
// should return soon after Terminate. TMMDSPThread is the base of every device, trigger and queue
// thread: it is listed in a process-wide registry while it lives, so SynchronizeDSP can tell that
// the calling thread is one of ours.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "stream/MMTypes.h"

class TMMDSPComponent;

class TMMThreadEx {
public:
    explicit TMMThreadEx(std::string name);
    virtual ~TMMThreadEx(); // joins; derived destructors must Terminate and WaitFor first
    TMMThreadEx(const TMMThreadEx&) = delete;
    TMMThreadEx& operator=(const TMMThreadEx&) = delete;

    void Resume(); // starts the thread the first time; later calls do nothing
    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }
    void WaitFor(); // joins; callable once from any thread but this one
    bool Running() const { return running_.load(); }
    bool Finished() const { return finished_.load(); }

    TMMThreadPriority Priority() const { return priority_; }
    // Applies at once when running; raising priority may be refused, which is ignored.
    void SetPriority(TMMThreadPriority priority);

    // Runs `task` on the main thread and waits for it.
    void Synchronize(const std::function<void()>& task);

    const std::string& Name() const { return name_; }

protected:
    virtual void Execute() = 0;

private:
    void run();
    void applyPriority();

    std::string name_;
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> finished_{false};
    std::atomic<TMMThreadPriority> priority_{tpNormal};
    std::atomic<long> tid_{0};
};

class TMMDSPThread : public TMMThreadEx {
public:
    TMMDSPThread(std::string name, TMMDSPComponent* owner);
    ~TMMDSPThread() override;

    TMMDSPComponent* Owner() const { return owner_; }

    // The live TMMDSPThread running the calling code, or null.
    static TMMDSPThread* Current();
    static int RegisteredCount();

protected:
    // Descendants implement DSPExecute; the registration of the current thread wraps it.
    void Execute() final;
    virtual void DSPExecute() = 0;

private:
    TMMDSPComponent* owner_;
};

// Runs `task` on the main thread and waits when called from any other thread (one of our DSP
// threads or a foreign one); runs it directly on the main thread.
void SynchronizeDSP(const std::function<void()>& task);
