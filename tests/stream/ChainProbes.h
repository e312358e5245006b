#pragma once
// Small recording components for chain tests.

#include <memory>
#include <string>
#include <vector>

#include "stream/MMSoundComponent.h"

// Shared log of "name:operation" entries, in call order.
using CallLog = std::vector<std::string>;

class PlainProbe : public TMMDSPComponent {
public:
    PlainProbe(std::string name, CallLog* log = nullptr) : log_(log) { Name = std::move(name); }
    void Opened() override { note("Opened"), TMMDSPComponent::Opened(); }
    void Closed() override { note("Closed"), TMMDSPComponent::Closed(); }
    void Started() override { note("Started"), TMMDSPComponent::Started(); }
    void Paused() override { note("Paused"), TMMDSPComponent::Paused(); }
    void Restarted() override { note("Restarted"), TMMDSPComponent::Restarted(); }
    void Stopped() override { note("Stopped"), TMMDSPComponent::Stopped(); }
    void Reset() override { note("Reset"); }
    void Looped() override { note("Looped"); }
    void InputFormatChanged(const WAVEFORMATEX* f) override {
        formatChanges.push_back(f != nullptr);
        TMMDSPComponent::InputFormatChanged(f);
    }
    std::vector<bool> formatChanges; // true for a format, false for null
    bool publishesOutput = true;
    bool PublishesOutput() const override { return publishesOutput; }

protected:
    void note(const char* op) {
        if (log_) log_->push_back(Name + ":" + op);
    }
    CallLog* log_;
};

class SoundProbe : public TMMCustomSoundComponent {
public:
    SoundProbe(std::string name, CallLog* log = nullptr) : log_(log) { Name = std::move(name); }
    void Opened() override { note("Opened"), TMMCustomSoundComponent::Opened(); }
    void Closed() override { note("Closed"), TMMCustomSoundComponent::Closed(); }
    void Started() override { note("Started"), TMMCustomSoundComponent::Started(); }
    void Paused() override { note("Paused"), TMMCustomSoundComponent::Paused(); }
    void Restarted() override { note("Restarted"), TMMCustomSoundComponent::Restarted(); }
    void Stopped() override { note("Stopped"), TMMCustomSoundComponent::Stopped(); }
    void Reset() override { note("Reset"), TMMCustomSoundComponent::Reset(); }
    void Looped() override { note("Looped"), TMMCustomSoundComponent::Looped(); }

    void SetNumBuffers(int v) override { numBuffers_ = v; }
    int GetNumBuffers() const override { return numBuffers_; }
    void SetDeviceID(TMMDeviceId v) override { device_ = v; }
    TMMDeviceId GetDeviceID() const override { return device_; }
    void SetProductName(const std::string&) override {}
    std::string GetProductName() const override { return "probe"; }
    void SetCallBackMode(TMMCBMode v) override { mode_ = v; }
    TMMCBMode GetCallBackMode() const override { return mode_; }

private:
    void note(const char* op) {
        if (log_) log_->push_back(Name + ":" + op);
    }
    CallLog* log_;
    int numBuffers_ = 4;
    TMMDeviceId device_ = MapperId;
    TMMCBMode mode_ = cmThread;
};

// A sink with four named inputs, like a mixer: each input remembers the name of the property of
// its source that points back here.
class FourInputProbe : public TMMDSPComponent {
public:
    FourInputProbe() { Name = "mixer"; }
    ~FourInputProbe() override {
        for (int k = 0; k < 4; ++k) SetInputN(k, nullptr);
    }
    bool PublishesInput() const override { return false; }
    TMMDSPComponent* PublishedLink(const std::string& name) const override {
        for (int k = 0; k < 4; ++k)
            if (name == "Input" + std::to_string(k + 1)) return inputs[k];
        return TMMDSPComponent::PublishedLink(name);
    }
    void SetInputN(int k, TMMDSPComponent* source) {
        if (inputs[k]) {
            BroadcastLinkReleased(this, lsInput, "Input" + std::to_string(k + 1));
            inputs[k] = nullptr;
        }
        if (!source) return;
        BroadcastLinkReleased(source, lsOutput, "Output");
        inputs[k] = source;
        names[k] = "Output";
        AcceptsInput = true;
        source->SetOutputLink(this, "Input" + std::to_string(k + 1));
        AcceptsInput = false;
    }
    void LinkReleased(TMMDSPComponent* sender, TMMLinkSide side, const std::string& name) override {
        if (side == lsOutput)
            for (int k = 0; k < 4; ++k)
                if (inputs[k] == sender && names[k] == name && sender->PublishedLink(name) == this) inputs[k] = nullptr;
        TMMDSPComponent::LinkReleased(sender, side, name);
    }
    void Notification(TMMComponent* c, TMMOperation op) override {
        if (op == opRemove)
            for (auto& in : inputs)
                if (in == c) in = nullptr;
        TMMDSPComponent::Notification(c, op);
    }
    TMMDSPComponent* inputs[4] = {};
    std::string names[4];
};
