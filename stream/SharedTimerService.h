#pragma once
// One periodic 25 ms timer shared by many small clients (peak-hold markers, display decay).
//
// A client registers with an interval, a callback and a data value; intervals below 25 ms become
// 25 ms. At each tick every client whose suspend count is 0 adds 25 ms to its elapsed time and,
// once that reaches its interval, is called and starts counting again. Suspending a client counts
// up and clears its elapsed time; resuming counts down, never below 0.
//
// Threads: callbacks run on the timer thread, under the service's lock, so after Unregister
// returns (on any other thread) the client's callback is not running and never runs again.
// Callbacks may suspend, resume or unregister clients, but must not wait for the main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "stream/TimerThread.h"

class SharedTimerService {
public:
    static constexpr int TickMs = 25;

    struct Client;
    using Callback = std::function<void(Client* client, intptr_t data)>;
    struct Client {
        int interval = TickMs;
        Callback callback;
        intptr_t data = 0;
        int elapsed = 0;
        int suspendCount = 0;
        bool removed = false;
    };

    // The process-wide service, ticked by the timer thread while it has clients.
    static SharedTimerService& Instance();
    // A service that ticks only when Tick is called (for callers that pace it themselves).
    static std::unique_ptr<SharedTimerService> CreateManual();
    ~SharedTimerService();
    SharedTimerService(const SharedTimerService&) = delete;
    SharedTimerService& operator=(const SharedTimerService&) = delete;

    // Null when the timer cannot be started; the first registration starts it.
    Client* Register(int intervalMs, Callback callback, intptr_t data);
    // The last unregistration stops the timer.
    void Unregister(Client* client);
    void Suspend(Client* client);
    void Resume(Client* client);

    int ClientCount() const;
    // One 25 ms step over the clients.
    void Tick();

private:
    explicit SharedTimerService(bool ticking);

    const bool ticking_;
    mutable std::recursive_mutex lock_;
    std::vector<std::unique_ptr<Client>> clients_;
    TimerThread::TimerId timer_ = 0;
    int walking_ = 0;
};
