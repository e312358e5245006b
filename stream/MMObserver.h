#pragma once
// A minimal notification pair: an observable calls its attached observers, last attached first.
// Either side detaches itself when destroyed. Main-thread only.

#include <cstdint>
#include <functional>
#include <vector>

class TMMObserver;

class TMMObservable {
public:
    TMMObservable() = default;
    TMMObservable(const TMMObservable&) = delete;
    TMMObservable& operator=(const TMMObservable&) = delete;
    ~TMMObservable();

    void Attach(TMMObserver* observer); // detaches it from any previous observable first
    void Detach(TMMObserver* observer);
    void Notify(int32_t data);
    bool Muted = false;
    int ObserverCount() const { return static_cast<int>(observers_.size()); }

private:
    std::vector<TMMObserver*> observers_;
};

class TMMObserver {
public:
    TMMObserver() = default;
    TMMObserver(const TMMObserver&) = delete;
    TMMObserver& operator=(const TMMObserver&) = delete;
    ~TMMObserver();

    TMMObservable* Observable() const { return observable_; }
    bool Muted = false;
    std::function<void(TMMObserver* sender, int32_t data)> OnNotify;
    void Update(int32_t data);

private:
    friend class TMMObservable;
    TMMObservable* observable_ = nullptr;
};
