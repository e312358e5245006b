#pragma once
// The chain component: one Input and one Output link, the format of the stream at this point,
// the open/start/pause/restart/stop/reset/close protocol, the push (BufferReady, downstream) and
// the pull (BufferLoad, upstream).
//
// Threads: linking, format changes and open/close happen on the main thread. Pushes and pulls run
// on whatever thread the driver uses; the framework takes no lock around them.

#include <functional>
#include <string>
#include <vector>

#include "stream/AudioBuffer.h"
#include "stream/WaveFormat.h"

enum TMMComponentState { csLoading = 1, csReading = 2, csDestroying = 4 };
enum TMMOperation { opInsert, opRemove };
enum TMMLinkSide { lsInput, lsOutput };

class TMMComponent {
public:
    TMMComponent() = default;
    TMMComponent(const TMMComponent&) = delete;
    TMMComponent& operator=(const TMMComponent&) = delete;
    virtual ~TMMComponent() = default;

    std::string Name;
    unsigned ComponentState() const { return state_; }
    // Marks the component as being read from a stored description; EndLoading runs Loaded.
    void BeginLoading() { state_ |= csLoading | csReading; }
    void EndLoading() {
        state_ &= ~(csLoading | csReading);
        Loaded();
    }

protected:
    virtual void Loaded() {}
    // Sent to every live chain component when `component` is inserted or removed.
    virtual void Notification(TMMComponent* component, TMMOperation operation) {
        (void)component;
        (void)operation;
    }
    unsigned state_ = 0;
    friend class TMMDSPComponent;
};

class TMMNonVisualComponent : public TMMComponent {};
class TMMCustomDSPComponent : public TMMNonVisualComponent {};

class TMMDSPComponent;
using TMMBufferEvent = std::function<void(TMMDSPComponent* sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent = std::function<void(TMMDSPComponent* sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

class TMMDSPComponent : public TMMCustomDSPComponent {
public:
    TMMDSPComponent();
    ~TMMDSPComponent() override;

    // Published links. Impossible links (self, cycles, missing property) are ignored silently.
    TMMDSPComponent* Input() const { return GetInput(); }
    TMMDSPComponent* Output() const { return GetOutput(); }

    const WAVEFORMATEX* PWaveFormat() const { return GetPWaveFormat(); }
    int32_t BufferSize() const { return GetBufferSize(); }

    bool IsOpened() const { return opened_; }
    bool IsStarted() const { return started_; }
    bool IsPaused() const { return paused_; }

    bool AcceptsInput = false;
    const std::string& InputLinkName() const { return inputLinkName_; }
    const std::string& OutputLinkName() const { return outputLinkName_; }

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;

    // Which link properties this class publishes, and the component a published property of that
    // name refers to (null when there is no such property or it is empty).
    virtual bool PublishesInput() const { return true; }
    virtual bool PublishesOutput() const { return true; }
    virtual TMMDSPComponent* PublishedLink(const std::string& name) const;

    // --- virtual operations, in their fixed order ---
    virtual void UpdateFormat();
    virtual void LinkReleased(TMMDSPComponent* sender, TMMLinkSide side, const std::string& name);
    virtual void SetInput(TMMDSPComponent* value);
    virtual TMMDSPComponent* GetInput() const { return input_; }
    virtual void SetOutput(TMMDSPComponent* value);
    virtual TMMDSPComponent* GetOutput() const { return output_; }
    virtual void SetPWaveFormat(const WAVEFORMATEX* format);
    virtual const WAVEFORMATEX* GetPWaveFormat() const { return format_.get(); }
    virtual int32_t GetBufferSize() const;
    virtual void SetBufferSize(int32_t bytes);
    virtual void InputFormatChanged(const WAVEFORMATEX* format);
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void Reset();
    virtual void Looped();
    virtual void BufferReady(PWaveHdr lpWaveHdr);
    virtual int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);
    virtual void SetInputLink(TMMDSPComponent* component, const std::string& linkName);
    virtual void SetOutputLink(TMMDSPComponent* component, const std::string& linkName);
    virtual bool CanConnectInput(TMMDSPComponent* component);
    virtual bool CanConnectOutput(TMMDSPComponent* component);

    // Sends LinkReleased to every live chain component.
    static void BroadcastLinkReleased(TMMDSPComponent* sender, TMMLinkSide side, const std::string& name);
    static int LiveComponentCount();

protected:
    void Loaded() override;
    void Notification(TMMComponent* component, TMMOperation operation) override;
    bool LoadingOrDestroying() const { return (state_ & (csLoading | csReading | csDestroying)) != 0; }
    int32_t RequestedBufferSize() const { return requestedBufferSize_; }
    int32_t RealBufferSizeValue() const { return realBufferSize_; }
    void SetRealBufferSize(int32_t bytes) { realBufferSize_ = bytes; }

    bool opened_ = false;
    bool started_ = false;
    bool paused_ = false;

private:
    TMMDSPComponent* input_ = nullptr;
    TMMDSPComponent* output_ = nullptr;
    WaveFormatPtr format_;
    int32_t requestedBufferSize_ = 2048;
    int32_t realBufferSize_ = 2048;
    std::string inputLinkName_;
    std::string outputLinkName_;
};

// Link names are cut to this many characters.
constexpr size_t MaxLinkNameLength = 20;
