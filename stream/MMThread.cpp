#include "stream/MMThread.h"

#include "stream/MainThreadDispatcher.h"

#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int niceValue(TMMThreadPriority p) {
    switch (p) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -10;
    }
    return 0;
}

std::mutex registryLock;
std::set<TMMDSPThread*>* registry = nullptr; // freed when the last thread leaves it
thread_local TMMDSPThread* currentThread = nullptr;

} // namespace

TMMThreadEx::TMMThreadEx(std::string name) : name_(std::move(name)) {}

TMMThreadEx::~TMMThreadEx() {
    Terminate();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

void TMMThreadEx::Resume() {
    if (running_.exchange(true)) return;
    thread_ = std::thread([this] { run(); });
}

void TMMThreadEx::run() {
    // Linux limits thread names to 15 characters.
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    tid_.store(static_cast<long>(syscall(SYS_gettid)));
    applyPriority();
    Execute();
    finished_.store(true);
}

void TMMThreadEx::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TMMThreadEx::SetPriority(TMMThreadPriority priority) {
    priority_.store(priority);
    if (tid_.load() != 0 && !finished_.load()) applyPriority();
}

void TMMThreadEx::applyPriority() {
    const long tid = tid_.load();
    if (tid == 0) return;
    const auto p = priority_.load();
    if (p == tpTimeCritical) {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        if (sched_setscheduler(static_cast<pid_t>(tid), SCHED_FIFO, &param) == 0) return;
    }
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceValue(p)); // refusal is ignored
}

void TMMThreadEx::Synchronize(const std::function<void()>& task) { MainThreadDispatcher::Instance().RunAndWait(task); }

TMMDSPThread::TMMDSPThread(std::string name, TMMDSPComponent* owner) : TMMThreadEx(std::move(name)), owner_(owner) {
    std::lock_guard guard(registryLock);
    if (!registry) registry = new std::set<TMMDSPThread*>();
    registry->insert(this);
}

TMMDSPThread::~TMMDSPThread() {
    std::lock_guard guard(registryLock);
    if (registry) {
        registry->erase(this);
        if (registry->empty()) {
            delete registry;
            registry = nullptr;
        }
    }
}

void TMMDSPThread::Execute() {
    currentThread = this;
    DSPExecute();
    currentThread = nullptr;
}

TMMDSPThread* TMMDSPThread::Current() {
    std::lock_guard guard(registryLock);
    if (currentThread && registry && registry->count(currentThread)) return currentThread;
    return nullptr;
}

int TMMDSPThread::RegisteredCount() {
    std::lock_guard guard(registryLock);
    return registry ? static_cast<int>(registry->size()) : 0;
}

void SynchronizeDSP(const std::function<void()>& task) {
    auto& dispatcher = MainThreadDispatcher::Instance();
    if (auto* thread = TMMDSPThread::Current()) {
        thread->Synchronize(task);
    } else if (!dispatcher.IsMainThread()) {
        dispatcher.RunAndWait(task);
    } else {
        task();
    }
}
