#pragma once
// Sound components (devices, the trigger) drive the plain components between themselves and the
// next sound component downstream, and that next sound component itself. Each open, start, pause,
// restart, reset, loop, stop and close of a sound component walks its segment.

#include <cstdint>
#include <string>

#include "stream/MMDSPComponent.h"
#include "stream/MMTypes.h"

class TMMCustomSoundComponent : public TMMDSPComponent {
public:
    // True when another sound component lies upstream; computed at each open.
    bool Driven = false;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Reset() override;
    void Looped() override;

    virtual void SetNumBuffers(int value) = 0;
    virtual int GetNumBuffers() const = 0;
    virtual void SetDeviceID(TMMDeviceId value) = 0;
    virtual TMMDeviceId GetDeviceID() const = 0;
    virtual void SetProductName(const std::string& value) = 0;
    virtual std::string GetProductName() const = 0;
    virtual void SetCallBackMode(TMMCBMode value) = 0;
    virtual TMMCBMode GetCallBackMode() const = 0;

protected:
    // The base state change alone, without walking the segment.
    void OpenedSelf() { TMMDSPComponent::Opened(); }
    void ClosedSelf() { TMMDSPComponent::Closed(); }
    void StartedSelf() { TMMDSPComponent::Started(); }
    void PausedSelf() { TMMDSPComponent::Paused(); }
    void RestartedSelf() { TMMDSPComponent::Restarted(); }
    void StoppedSelf() { TMMDSPComponent::Stopped(); }

private:
    // Where the forward walk begins: this component when a sound component lies upstream, else
    // the head of the chain. Sets Driven when `setDriven`.
    TMMDSPComponent* walkStart(bool setDriven);
    template <typename Op> void walkForward(Op op);
    template <typename Op> void walkShutdown(Op op);
};

bool IsSoundComponent(const TMMDSPComponent* component);

class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
public:
    virtual int64_t GetPosition() = 0;
    virtual void OpenDevice() = 0;
    virtual void CloseDevice() = 0;
    virtual void ResetDevice() = 0;
    virtual void StartDevice() = 0;
    virtual void PauseDevice() = 0;
    virtual void RestartDevice() = 0;
    virtual void StopDevice() = 0;
};
