#include "stream/MMObserver.h"

#include <algorithm>

TMMObservable::~TMMObservable() {
    for (auto* o : observers_) o->observable_ = nullptr;
}

void TMMObservable::Attach(TMMObserver* observer) {
    if (!observer) return;
    if (observer->observable_) observer->observable_->Detach(observer);
    observers_.push_back(observer);
    observer->observable_ = this;
}

void TMMObservable::Detach(TMMObserver* observer) {
    if (!observer || observer->observable_ != this) return;
    std::erase(observers_, observer);
    observer->observable_ = nullptr;
}

void TMMObservable::Notify(int32_t data) {
    if (Muted) return;
    // A copy: an observer may detach itself (or others) while being notified.
    const auto observers = observers_;
    for (auto it = observers.rbegin(); it != observers.rend(); ++it)
        if (std::find(observers_.begin(), observers_.end(), *it) != observers_.end()) (*it)->Update(data);
}

TMMObserver::~TMMObserver() {
    if (observable_) observable_->Detach(this);
}

void TMMObserver::Update(int32_t data) {
    if (!Muted && OnNotify) OnNotify(this, data);
}
