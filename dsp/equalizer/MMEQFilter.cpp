#include "dsp/equalizer/MMEQFilter.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "dsp/equalizer/MMEqualizer.h"

namespace {

const uint8_t EquMagic[4] = {'E', 'Q', 'U', 0};
// Counts and capacities are 16-bit signed.
constexpr int MaxFilters = 32767;

} // namespace

void RegisterEqualizerClasses() {
    static std::once_flag once;
    std::call_once(once, [] { RegisterStreamClass("TMMEQFilter", [] { return std::make_unique<TMMEQFilter>(); }); });
}

void TMMEQFilter::SetParams(float f1, float f2, float gain) {
    if (f1 == F1 && f2 == F2 && gain == Gain) return;
    F1 = f1;
    F2 = f2;
    Gain = gain;
    Changed();
}

void TMMEQFilter::SetValue(int selector, double value) {
    const auto v = static_cast<float>(value);
    switch (selector) {
    case 0: SetParams(v, F2, Gain); break;
    case 1: SetParams(F1, v, Gain); break;
    case 2: SetParams(F1, F2, v); break;
    default: break;
    }
}

void TMMEQFilter::SetEnabled(bool enabled) {
    if (enabled == Enabled) return;
    Enabled = enabled;
    Changed();
}

void TMMEQFilter::Changed() {
    if (OnChange) OnChange(this);
}

void TMMEQFilter::Assign(const TMMStorable* source) {
    auto* other = dynamic_cast<const TMMEQFilter*>(source);
    if (!other) return;
    SetParams(other->F1, other->F2, other->Gain);
    Data = other->Data;
    SetEnabled(other->Enabled);
}

void TMMEQFilter::WriteToStream(ObjectStreamWriter& out) const {
    out.WriteU8(Enabled ? 1 : 0);
    out.WriteF32(F1);
    out.WriteF32(F2);
    out.WriteF32(Gain);
}

void TMMEQFilter::ReadFromStream(ObjectStreamReader& in) {
    Enabled = in.ReadU8() != 0;
    const float f1 = in.ReadF32();
    const float f2 = in.ReadF32();
    const float gain = in.ReadF32();
    SetParams(f1, f2, gain);
}

TMMEQFilterList::~TMMEQFilterList() {
    Equalizer = nullptr; // no notifications while dying
    if (OwnsObjects)
        for (auto* f : items_) delete f;
}

void TMMEQFilterList::grow() {
    capacity_ += capacity_ < 5 ? 4 : capacity_ < 9 ? 8 : 16;
    if (capacity_ > MaxFilters) capacity_ = MaxFilters;
}

void TMMEQFilterList::bind(TMMEQFilter* filter) {
    filter->OnChange = [this](TMMEQFilter* f) {
        if (Equalizer) Equalizer->FilterChanged(f);
    };
}

int TMMEQFilterList::Add(TMMEQFilter* filter) {
    if (Count() >= MaxFilters) {
        if (OwnsObjects) delete filter;
        throw EListError("List capacity out of bounds (" + std::to_string(MaxFilters + 1) + ")");
    }
    if (Count() == capacity_) grow();
    items_.push_back(filter);
    bind(filter);
    Changed();
    if (Equalizer && UpdateCount() == 0) Equalizer->ListChanged();
    return Count() - 1;
}

TMMEQFilter* TMMEQFilterList::Items(int index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return items_[index];
}

void TMMEQFilterList::Clear() {
    if (OwnsObjects)
        for (auto* f : items_) delete f;
    items_.clear();
    capacity_ = 0;
    Changed();
    if (Equalizer && UpdateCount() == 0) Equalizer->ListChanged();
}

void TMMEQFilterList::Assign(const TMMEQFilterList* source) {
    if (source == this) return;
    const bool wasSuppressed = Equalizer && Equalizer->LoadingSuppressed();
    BeginUpdate();
    if (Equalizer) Equalizer->SetLoadingSuppressed(true);
    try {
        Clear();
        if (source)
            for (int i = 0; i < source->Count(); ++i) {
                auto* copy = new TMMEQFilter();
                copy->Assign(source->Items(i));
                Add(copy);
            }
    } catch (...) {
        if (Equalizer) Equalizer->SetLoadingSuppressed(wasSuppressed);
        EndUpdate();
        throw;
    }
    if (Equalizer) Equalizer->SetLoadingSuppressed(wasSuppressed);
    EndUpdate();
    if (Equalizer && UpdateCount() == 0) Equalizer->ListChanged();
}

std::vector<uint8_t> TMMEQFilterList::WriteData() const {
    RegisterEqualizerClasses();
    ObjectStreamWriter out;
    out.WriteBytes(EquMagic, 4);
    out.WriteU8(OwnsObjects ? 1 : 0);
    const std::string description = Equalizer ? Equalizer->Description : std::string();
    out.WriteI32(static_cast<int32_t>(description.size()));
    out.WriteBytes(description.data(), description.size());
    out.WriteI32(Equalizer ? Equalizer->GetFFTLength() : 256);
    out.WriteI16(static_cast<int16_t>(Count()));
    for (auto* f : items_) WriteStoredObject(out, f);
    return out.Bytes();
}

void TMMEQFilterList::ReadData(const std::vector<uint8_t>& bytes) {
    RegisterEqualizerClasses();
    // Everything is parsed and checked before the list changes, so a damaged stream leaves it
    // exactly as it was.
    ObjectStreamReader in(bytes);
    uint8_t magic[4];
    in.ReadBytes(magic, 4);
    if (std::memcmp(magic, EquMagic, 4) != 0) throw EStreamError(StreamText::InvalidObjectStream);
    const bool owns = in.ReadU8() != 0;
    const int32_t descriptionLength = in.ReadI32();
    if (descriptionLength < 0) throw EStreamError(StreamText::InvalidObjectStream);
    const std::string description = in.ReadString(static_cast<size_t>(descriptionLength));
    const int32_t fftLength = in.ReadI32();
    const int16_t count = in.ReadI16();
    if (count < 0) throw EStreamError(StreamText::InvalidObjectStream);
    std::vector<std::unique_ptr<TMMEQFilter>> loaded;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<TMMStorable> object = ReadStoredObject(in);
        auto* filter = dynamic_cast<TMMEQFilter*>(object.get());
        if (!filter) throw EStreamError(StreamText::InvalidObjectStream);
        object.release();
        std::unique_ptr<TMMEQFilter> owned(filter);
        // A band without finite edges or gain cannot be placed on the response.
        if (!std::isfinite(filter->F1) || !std::isfinite(filter->F2) || !std::isfinite(filter->Gain)) continue;
        loaded.push_back(std::move(owned));
    }

    const bool wasSuppressed = Equalizer && Equalizer->LoadingSuppressed();
    BeginUpdate();
    if (Equalizer) Equalizer->SetLoadingSuppressed(true);
    try {
        Clear();
        OwnsObjects = owns;
        if (Equalizer) {
            if (descriptionLength > 0) Equalizer->Description = description;
            Equalizer->SetFFTLength(fftLength);
        }
        while (capacity_ < static_cast<int>(loaded.size())) grow();
        for (auto& f : loaded) Add(f.release());
    } catch (...) {
        if (Equalizer) Equalizer->SetLoadingSuppressed(wasSuppressed);
        EndUpdate();
        throw;
    }
    if (Equalizer) Equalizer->SetLoadingSuppressed(wasSuppressed);
    EndUpdate();
    if (Equalizer && UpdateCount() == 0) Equalizer->ListChanged();
}
