#include "stream/SharedTimerService.h"

#include "stream/MMServices.h"

#include <algorithm>

SharedTimerService& SharedTimerService::Instance() {
    // Never destroyed: clients may unregister from static destructors.
    static auto* instance = new SharedTimerService(true);
    return *instance;
}

std::unique_ptr<SharedTimerService> SharedTimerService::CreateManual() {
    return std::unique_ptr<SharedTimerService>(new SharedTimerService(false));
}

SharedTimerService::SharedTimerService(bool ticking) : ticking_(ticking) {}

SharedTimerService::~SharedTimerService() {
    TimerThread::TimerId timer;
    {
        std::lock_guard guard(lock_);
        timer = timer_;
        timer_ = 0;
    }
    if (timer) TimerThread::Instance().Kill(timer);
}

SharedTimerService::Client* SharedTimerService::Register(int intervalMs, Callback callback, intptr_t data) {
    std::lock_guard guard(lock_);
    if (ticking_ && !timer_) {
        timer_ = TimerThread::Instance().StartPeriodic(std::chrono::milliseconds(TickMs), [this] { Tick(); });
        if (!timer_) return nullptr;
    }
    auto client = std::make_unique<Client>();
    client->interval = std::max(intervalMs, TickMs);
    client->callback = std::move(callback);
    client->data = data;
    clients_.push_back(std::move(client));
    return clients_.back().get();
}

void SharedTimerService::Unregister(Client* client) {
    if (!client) return;
    TimerThread::TimerId stop = 0;
    {
        std::lock_guard guard(lock_);
        auto it = std::find_if(clients_.begin(), clients_.end(), [&](auto& c) { return c.get() == client; });
        if (it == clients_.end()) return;
        if (walking_ > 0) {
            // Called from a callback: the walk in progress still holds the record.
            (*it)->removed = true;
        } else {
            clients_.erase(it);
        }
        const bool any = std::any_of(clients_.begin(), clients_.end(), [](auto& c) { return !c->removed; });
        if (!any) {
            stop = timer_;
            timer_ = 0;
        }
    }
    // Outside the lock: the tick being killed may be waiting for it.
    if (stop) TimerThread::Instance().Kill(stop);
}

void SharedTimerService::Suspend(Client* client) {
    if (!client) return;
    std::lock_guard guard(lock_);
    ++client->suspendCount;
    client->elapsed = 0;
}

void SharedTimerService::Resume(Client* client) {
    if (!client) return;
    std::lock_guard guard(lock_);
    if (client->suspendCount > 0) --client->suspendCount;
}

int SharedTimerService::ClientCount() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](auto& c) { return !c->removed; }));
}

void SharedTimerService::Tick() {
    std::lock_guard guard(lock_);
    if (walking_ > 0) return; // the previous tick is still running
    ++walking_;
    // Callbacks may register clients; index so growth does not invalidate the walk.
    for (size_t i = 0; i < clients_.size(); ++i) {
        Client* c = clients_[i].get();
        if (c->removed || c->suspendCount != 0) continue;
        c->elapsed += TickMs;
        if (c->elapsed >= c->interval) {
            c->elapsed = 0;
            try {
                if (c->callback) c->callback(c, c->data);
            } catch (...) {
                ReportErrorOnMainThread(std::current_exception());
            }
        }
    }
    --walking_;
    std::erase_if(clients_, [](auto& c) { return c->removed; });
}
