#include "stream/MMDSPComponent.h"

#include <algorithm>
#include <mutex>

namespace {

// Every live chain component, for the link-release and removal broadcasts. Freed when empty.
std::mutex registryLock;
std::vector<TMMDSPComponent*>* registry = nullptr;

std::vector<TMMDSPComponent*> snapshot() {
    std::lock_guard guard(registryLock);
    return registry ? *registry : std::vector<TMMDSPComponent*>{};
}

bool isLive(TMMDSPComponent* c) {
    std::lock_guard guard(registryLock);
    return registry && std::find(registry->begin(), registry->end(), c) != registry->end();
}

std::string cutName(const std::string& name) { return name.substr(0, MaxLinkNameLength); }

} // namespace

TMMDSPComponent::TMMDSPComponent() {
    std::lock_guard guard(registryLock);
    if (!registry) registry = new std::vector<TMMDSPComponent*>();
    registry->push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
    state_ |= csDestroying;
    // Survivors let go first, through their own SetInput/SetOutput, so their overrides run.
    for (auto* c : snapshot())
        if (c != this && isLive(c)) c->Notification(this, opRemove);
    SetInput(nullptr);
    SetOutput(nullptr);
    SetPWaveFormat(nullptr);
    std::lock_guard guard(registryLock);
    if (registry) {
        std::erase(*registry, this);
        if (registry->empty()) {
            delete registry;
            registry = nullptr;
        }
    }
}

int TMMDSPComponent::LiveComponentCount() {
    std::lock_guard guard(registryLock);
    return registry ? static_cast<int>(registry->size()) : 0;
}

void TMMDSPComponent::BroadcastLinkReleased(TMMDSPComponent* sender, TMMLinkSide side, const std::string& name) {
    for (auto* c : snapshot())
        if (isLive(c)) c->LinkReleased(sender, side, name);
}

TMMDSPComponent* TMMDSPComponent::PublishedLink(const std::string& name) const {
    if (name == "Input" && PublishesInput()) return GetInput();
    if (name == "Output" && PublishesOutput()) return GetOutput();
    return nullptr;
}

void TMMDSPComponent::Notification(TMMComponent* component, TMMOperation operation) {
    if (operation != opRemove) return;
    if (component == input_) SetInput(nullptr);
    if (component == output_) SetOutput(nullptr);
}

void TMMDSPComponent::Loaded() { SetPWaveFormat(GetPWaveFormat()); }

void TMMDSPComponent::UpdateFormat() {
    if (LoadingOrDestroying()) return;
    if (auto* in = GetInput())
        InputFormatChanged(in->GetPWaveFormat());
    else if (auto* out = GetOutput())
        out->InputFormatChanged(GetPWaveFormat());
}

void TMMDSPComponent::LinkReleased(TMMDSPComponent* sender, TMMLinkSide side, const std::string& name) {
    if (!sender) return;
    if (side == lsOutput) {
        if (sender == input_ && inputLinkName_ == name && sender->PublishedLink(name) == this)
            SetInputLink(nullptr, "");
    } else {
        if (sender == output_ && outputLinkName_ == name && sender->PublishedLink(name) == this)
            SetOutputLink(nullptr, "");
    }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
    if (value == input_ || (value && !CanConnectInput(value))) return;
    Stopped();
    if (input_) {
        BroadcastLinkReleased(this, lsInput, "Input");
        SetInputLink(nullptr, "");
        InputFormatChanged(nullptr);
    }
    if (!value) return;
    BroadcastLinkReleased(value, lsOutput, "Output");
    SetInputLink(value, "Output");
    value->SetOutputLink(this, "Input");
    UpdateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
    if (value == output_ || (value && !CanConnectOutput(value))) return;
    Stopped();
    if (output_) {
        BroadcastLinkReleased(this, lsOutput, "Output");
        // The broadcast may already have unlinked it; the old output still hears of the null format.
        TMMDSPComponent* old = output_;
        old->InputFormatChanged(nullptr);
        SetOutputLink(nullptr, "");
    }
    if (!value) return;
    BroadcastLinkReleased(value, lsInput, "Input");
    SetOutputLink(value, "Input");
    value->SetInputLink(this, "Output");
    UpdateFormat();
}

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != format_.get()) {
        if (started_) Stopped();
        format_ = CopyWaveFormat(format);
    }
    if (LoadingOrDestroying()) return;
    if (auto* out = GetOutput()) out->InputFormatChanged(GetPWaveFormat());
}

int32_t TMMDSPComponent::GetBufferSize() const { return opened_ ? realBufferSize_ : requestedBufferSize_; }

void TMMDSPComponent::SetBufferSize(int32_t bytes) {
    if (started_) Stopped();
    requestedBufferSize_ = bytes;
}

void TMMDSPComponent::InputFormatChanged(const WAVEFORMATEX* format) { SetPWaveFormat(format); }

void TMMDSPComponent::Opened() {
    if (opened_) return;
    realBufferSize_ = RealBufferSize(GetPWaveFormat(), requestedBufferSize_);
    opened_ = true;
    started_ = false;
    paused_ = false;
}

void TMMDSPComponent::Closed() { opened_ = false; }

void TMMDSPComponent::Started() {
    if (opened_ && !started_) started_ = true;
}

void TMMDSPComponent::Paused() { paused_ = true; }
void TMMDSPComponent::Restarted() { paused_ = false; }

void TMMDSPComponent::Stopped() {
    if (started_) {
        started_ = false;
        paused_ = false;
    }
}

void TMMDSPComponent::Reset() {}
void TMMDSPComponent::Looped() {}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
    if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
    if (auto* out = GetOutput()) out->BufferReady(lpWaveHdr);
}

int TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    if (auto* in = GetInput()) in->BufferLoad(lpWaveHdr, MoreBuffers);
    return 0;
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* component, const std::string& linkName) {
    input_ = component;
    inputLinkName_ = cutName(linkName);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* component, const std::string& linkName) {
    output_ = component;
    outputLinkName_ = cutName(linkName);
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* c) {
    if (!c || c == this || !c->PublishesOutput()) return false;
    if (!GetOutput()) return true;
    return GetOutput()->CanConnectInput(c);
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* c) {
    if (!c || c == this || !(c->PublishesInput() || c->AcceptsInput)) return false;
    if (!GetInput()) return true;
    return GetInput()->CanConnectOutput(c);
}
