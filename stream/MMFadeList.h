#pragma once
// A sorted list of gain points that applies linear volume and balance ramps to PCM data as it
// streams past. No lock: the owner serialises rebuilding and applying.

#include <cstdint>
#include <vector>

#include "stream/ObjectStream.h"
#include "stream/WaveFormat.h"

struct TMMFadePoint {
    int32_t Position = 0;  // byte position in the stream
    int32_t Volume = 0;    // the owner's overall volume at the point
    int32_t LeftGain = 16384;
    int32_t RightGain = 16384;
    int32_t Flags = 0;
};

class TMMFadeList {
public:
    int Add(const TMMFadePoint& point); // Flags cleared; returns the index
    void Clear();
    void Sort();
    int Count() const { return static_cast<int>(points_.size()); }
    int Capacity() const { return capacity_; }
    // Raises EListError "List index out of bounds (%d)".
    const TMMFadePoint& Items(int index) const;
    TMMFadePoint& Items(int index);
    // The first point whose Position is greater than `position`; Count when none; -1 when empty.
    int FindIndex(int32_t position) const;
    int32_t VolumeAt(int32_t position) const;
    void Assign(const TMMFadeList& source);
    // Applies the ramps from the current position on; true when a sample saturated.
    bool ApplyFades(const WAVEFORMATEX* format, uint8_t* data, int32_t bytes);

    // Streaming state, set by the owner before streaming.
    int32_t CurrentIndex = 0;
    int32_t CurrentPosition = 0;
    int32_t CurrentLeftGain = 16384;
    int32_t CurrentRightGain = 16384;

private:
    std::vector<TMMFadePoint> points_;
    int capacity_ = 0;
};

// The storable form of a gain point.
class TMMEnvelopePoint : public TMMStorable {
public:
    int32_t Position = 0;
    int32_t Volume = 0;
    bool Selected = false;
    std::string ClassName() const override { return "TMMEnvelopePoint"; }
    void WriteToStream(ObjectStreamWriter& out) const override;
    void ReadFromStream(ObjectStreamReader& in) override;
};

// Registers TMMEnvelopePoint with the stream class registry (once).
void RegisterEnvelopeClasses();
