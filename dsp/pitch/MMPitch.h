#pragma once
// Changes the playback speed (and with it the pitch) of the stream pulled through it.
//
// Runs on the thread that pulls the chain. Pushed buffers pass unchanged: only a pull can take
// more or fewer input frames than it hands on.

#include <cstdint>

#include "stream/MMDSPComponent.h"

class TMMPitch : public TMMDSPComponent {
public:
    TMMPitch() = default;
    ~TMMPitch() override;

    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool value);
    float GetPitch() const { return pitch_; }
    // Percent, clamped to -50 .. +50; +50 plays 1.5 times as fast.
    void SetPitch(float value);
    // The 16.16 step per output frame.
    int32_t Step() const { return step_; }

    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Reset() override;
    int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

private:
    void clearPullState();
    void freeBuffer();

    bool enabled_ = true;
    float pitch_ = 0;
    int32_t step_ = 65536;
    TMMAudioBuffer* internal_ = nullptr;
    uint32_t readPos_ = 0;
    uint32_t phase_ = 0;
    bool moreData_ = true;
    bool ended_ = false;
};
