#include "stream/MainThreadDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <exception>

MainThreadDispatcher& MainThreadDispatcher::Instance() {
    // Never destroyed: worker threads may still post while the process shuts down.
    static auto* instance = new MainThreadDispatcher();
    return *instance;
}

MainThreadDispatcher::MainThreadDispatcher() : mainThread_(std::this_thread::get_id()) {}

bool MainThreadDispatcher::IsMainThread() const {
    if (auto* app = QCoreApplication::instance()) return QThread::currentThread() == app->thread();
    std::lock_guard guard(lock_);
    return std::this_thread::get_id() == mainThread_;
}

void MainThreadDispatcher::AdoptCurrentThreadAsMain() {
    std::lock_guard guard(lock_);
    mainThread_ = std::this_thread::get_id();
}

void MainThreadDispatcher::schedule() {
    // Called with lock_ held; one queued invocation drains everything posted before it runs.
    if (scheduled_) return;
    auto* app = QCoreApplication::instance();
    if (!app) return;
    scheduled_ = true;
    QMetaObject::invokeMethod(app, [this] { ProcessPending(); }, Qt::QueuedConnection);
}

void MainThreadDispatcher::Post(const void* owner, Task task) {
    std::lock_guard guard(lock_);
    posts_.push_back({owner, std::move(task)});
    schedule();
}

void MainThreadDispatcher::RunAndWait(Task task) {
    if (IsMainThread()) {
        task();
        return;
    }
    std::mutex doneLock;
    std::condition_variable doneSignal;
    bool done = false;
    std::exception_ptr error;
    {
        std::lock_guard guard(lock_);
        synchronous_.push_back([&] {
            try {
                task();
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard g(doneLock);
            done = true;
            doneSignal.notify_one();
        });
        ++wakeCount_;
        schedule();
    }
    wake_.notify_all();
    std::unique_lock wait(doneLock);
    doneSignal.wait(wait, [&] { return done; });
    if (error) std::rethrow_exception(error);
}

void MainThreadDispatcher::RemovePosts(const void* owner) {
    std::lock_guard guard(lock_);
    std::erase_if(posts_, [owner](const Entry& e) { return e.owner == owner; });
}

int MainThreadDispatcher::serveSynchronous() {
    int count = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard guard(lock_);
            if (synchronous_.empty()) return count;
            task = std::move(synchronous_.front());
            synchronous_.pop_front();
        }
        task();
        ++count;
    }
}

int MainThreadDispatcher::ProcessPending() {
    size_t budget;
    {
        std::lock_guard guard(lock_);
        scheduled_ = false;
        budget = posts_.size(); // what is posted while we run waits for the next round
    }
    int count = serveSynchronous();
    for (; budget > 0; --budget) {
        Task task;
        {
            std::lock_guard guard(lock_);
            if (posts_.empty()) break;
            task = std::move(posts_.front().task);
            posts_.pop_front();
        }
        task();
        ++count;
        count += serveSynchronous();
    }
    return count;
}

bool MainThreadDispatcher::WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        serveSynchronous();
        if (done()) return true;
        std::unique_lock guard(lock_);
        if (!synchronous_.empty()) continue;
        const auto seen = wakeCount_;
        // The poll interval bounds how late a condition without a Wake() is noticed.
        const auto next = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(2));
        wake_.wait_until(guard, next, [&] { return wakeCount_ != seen; });
        if (std::chrono::steady_clock::now() >= deadline) {
            guard.unlock();
            serveSynchronous();
            return done();
        }
    }
}

void MainThreadDispatcher::Wake() {
    {
        std::lock_guard guard(lock_);
        ++wakeCount_;
    }
    wake_.notify_all();
}
