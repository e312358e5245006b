#include "stream/MMSoundComponent.h"

bool IsSoundComponent(const TMMDSPComponent* component) {
    return dynamic_cast<const TMMCustomSoundComponent*>(component) != nullptr;
}

TMMDSPComponent* TMMCustomSoundComponent::walkStart(bool setDriven) {
    if (setDriven) Driven = false;
    TMMDSPComponent* head = this;
    for (TMMDSPComponent* c = GetInput(); c; c = c->GetInput()) {
        if (IsSoundComponent(c)) {
            if (setDriven) Driven = true;
            return this;
        }
        head = c;
    }
    return head;
}

template <typename Op> void TMMCustomSoundComponent::walkForward(Op op) {
    for (TMMDSPComponent* c = walkStart(false); c; c = c->GetOutput()) {
        if (c == this) continue;
        op(c);
        if (IsSoundComponent(c)) break;
    }
}

template <typename Op> void TMMCustomSoundComponent::walkShutdown(Op op) {
    // The downstream device is shut before the plain components between it and us.
    TMMDSPComponent* next = GetOutput();
    while (next && !IsSoundComponent(next)) next = next->GetOutput();
    if (next) op(next);
    for (TMMDSPComponent* c = walkStart(false); c; c = c->GetOutput()) {
        if (c == this) continue;
        if (IsSoundComponent(c)) break;
        op(c);
    }
}

void TMMCustomSoundComponent::Opened() {
    TMMDSPComponent* start = walkStart(true);
    const int32_t size = GetBufferSize();
    for (TMMDSPComponent* c = start; c; c = c->GetOutput()) {
        if (c == this) continue;
        c->SetBufferSize(size);
        c->Opened();
        if (IsSoundComponent(c)) break;
    }
    OpenedSelf();
}

void TMMCustomSoundComponent::Closed() {
    walkShutdown([](TMMDSPComponent* c) { c->Closed(); });
    ClosedSelf();
}

void TMMCustomSoundComponent::Started() {
    walkForward([](TMMDSPComponent* c) { c->Started(); });
    StartedSelf();
}

void TMMCustomSoundComponent::Paused() {
    walkForward([](TMMDSPComponent* c) { c->Paused(); });
    PausedSelf();
}

void TMMCustomSoundComponent::Restarted() {
    walkForward([](TMMDSPComponent* c) { c->Restarted(); });
    RestartedSelf();
}

void TMMCustomSoundComponent::Reset() {
    walkForward([](TMMDSPComponent* c) { c->Reset(); });
    TMMDSPComponent::Reset();
}

void TMMCustomSoundComponent::Looped() {
    walkForward([](TMMDSPComponent* c) { c->Looped(); });
    TMMDSPComponent::Looped();
}

void TMMCustomSoundComponent::Stopped() {
    walkShutdown([](TMMDSPComponent* c) { c->Stopped(); });
    StoppedSelf();
}
