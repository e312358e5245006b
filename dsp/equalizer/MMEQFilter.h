#pragma once
// The band filters of the equalizer and the list that holds them.
//
// A filter gives a gain in dB between two frequencies. The list owns its filters; adding one
// binds the filter's change notification to the owning equalizer, which then applies just that
// band on top of the current response.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stream/MMObject.h"
#include "stream/ObjectStream.h"

class TMMEqualizer;

class TMMEQFilter : public TMMStorable {
public:
    TMMEQFilter() = default;
    TMMEQFilter(float f1, float f2, float gain) : F1(f1), F2(f2), Gain(gain) {}

    float F1 = 0;
    float F2 = 0;
    float Gain = 0;
    int32_t Data = 0; // for the caller; copied by Assign, never stored
    bool Enabled = true;
    std::function<void(TMMEQFilter* sender)> OnChange;

    void SetParams(float f1, float f2, float gain);
    // 0 = F1, 1 = F2, 2 = Gain, each through SetParams.
    void SetValue(int selector, double value);
    void SetEnabled(bool enabled);
    virtual void Changed();
    void Assign(const TMMStorable* source);

    std::string ClassName() const override { return "TMMEQFilter"; }
    void WriteToStream(ObjectStreamWriter& out) const override;
    void ReadFromStream(ObjectStreamReader& in) override;
};

class TMMEQFilterList : public TMMObject {
public:
    explicit TMMEQFilterList(TMMEqualizer* equalizer = nullptr) : Equalizer(equalizer) {}
    ~TMMEQFilterList() override;

    TMMEqualizer* Equalizer;
    bool OwnsObjects = true;

    int Add(TMMEQFilter* filter); // takes ownership when OwnsObjects
    TMMEQFilter* Items(int index) const; // raises EListError "List index out of bounds (%d)"
    TMMEQFilter* operator[](int index) const { return Items(index); }
    int Count() const { return static_cast<int>(items_.size()); }
    int Capacity() const { return capacity_; }
    void Clear();
    void Assign(const TMMEQFilterList* source);

    // The "ObjectContainer" data: magic, OwnsObjects, the equalizer's description and FFT length,
    // the filters. Reading checks everything against the bytes left and changes nothing on a
    // wrong magic.
    std::vector<uint8_t> WriteData() const;
    void ReadData(const std::vector<uint8_t>& bytes);


private:
    void grow();
    void bind(TMMEQFilter* filter);
    std::vector<TMMEQFilter*> items_;
    int capacity_ = 0;
};

// Registers TMMEQFilter with the stream class registry (done once, automatically, on first use).
void RegisterEqualizerClasses();
