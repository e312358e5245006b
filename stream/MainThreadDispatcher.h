#pragma once
// Hands work to the main thread, which runs the Qt event loop.
//
// Posts are queued and run later on the main thread, in order; each carries an owner key so an
// object can withdraw what it posted before it dies. Run-and-wait requests block the caller until
// the main thread has run them and re-raise their exceptions in the caller. A main thread that
// waits for a worker must wait with WaitServing, which keeps serving run-and-wait requests;
// a plain wait would deadlock against a worker that is synchronising.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class MainThreadDispatcher {
public:
    using Task = std::function<void()>;

    static MainThreadDispatcher& Instance();

    bool IsMainThread() const;
    // Declares the calling thread the main thread (only needed where no QCoreApplication exists).
    void AdoptCurrentThreadAsMain();

    void Post(const void* owner, Task task);
    void RunAndWait(Task task);
    void RemovePosts(const void* owner);
    // Runs everything queued so far (posts and run-and-wait requests); main thread only.
    int ProcessPending();

    // Main thread: waits until `done` holds or the timeout passes, serving run-and-wait requests
    // meanwhile. Returns the last value of `done`.
    bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Wakes main-thread waiters so they re-check their condition early.
    void Wake();

private:
    MainThreadDispatcher();
    struct Entry {
        const void* owner;
        Task task;
    };
    void schedule();
    int serveSynchronous();

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Entry> posts_;
    std::deque<Task> synchronous_;
    bool scheduled_ = false;
    std::thread::id mainThread_;
    unsigned long long wakeCount_ = 0;
};
