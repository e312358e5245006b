#include "stream/MMFadeList.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr int MaxFadePoints = 134217727;

// Scales one channel's samples from gain g0 towards g1 over `total` frames, of which the first
// `frames` are in this call, starting `done` frames into the ramp. Returns true on saturation.
template <typename Sample>
bool rampChannel(Sample* s, int stride, int32_t frames, int32_t g0, int32_t g1, int64_t total, int64_t done,
                 int32_t bias, int32_t lo, int32_t hi) {
    bool clipped = false;
    auto scale = [&](int32_t v, int64_t g) {
        int64_t r = (static_cast<int64_t>(v - bias) * g) >> 14;
        if (r < lo) r = lo, clipped = true;
        if (r > hi) r = hi, clipped = true;
        return static_cast<Sample>(r + bias);
    };
    if (g0 == 16384 && g1 == 16384) return false;
    if (g0 == g1) {
        if (g0 == 0) {
            for (int32_t i = 0; i < frames; ++i) s[i * stride] = static_cast<Sample>(bias);
            return false;
        }
        for (int32_t i = 0; i < frames; ++i) s[i * stride] = scale(s[i * stride], g0);
        return clipped;
    }
    // Gain at frame k of the ramp is g0 + (g1 - g0) * k / total, kept exact with an error term.
    const int64_t delta = g1 - g0;
    for (int32_t i = 0; i < frames; ++i) {
        const int64_t k = done + i;
        const int64_t g = g0 + (total > 0 ? delta * k / total : delta);
        s[i * stride] = scale(s[i * stride], g);
    }
    return clipped;
}

} // namespace

int TMMFadeList::Add(const TMMFadePoint& point) {
    if (Count() >= MaxFadePoints) throw EListError("List capacity out of bounds (" + std::to_string(Count()) + ")");
    if (Count() == capacity_) capacity_ += capacity_ < 5 ? 4 : capacity_ < 9 ? 8 : 16;
    TMMFadePoint p = point;
    p.Flags = 0;
    points_.push_back(p);
    return Count() - 1;
}

void TMMFadeList::Clear() {
    points_.clear();
    points_.shrink_to_fit();
    capacity_ = 0;
}

void TMMFadeList::Sort() {
    const int n = Count();
    int gap = 1;
    while (gap <= n / 9) gap = 3 * gap + 1;
    for (; gap > 0; gap /= 3)
        for (int i = gap; i < n; ++i) {
            const TMMFadePoint p = points_[i];
            int j = i;
            for (; j >= gap && points_[j - gap].Position > p.Position; j -= gap) points_[j] = points_[j - gap];
            points_[j] = p;
        }
}

const TMMFadePoint& TMMFadeList::Items(int index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return points_[index];
}

TMMFadePoint& TMMFadeList::Items(int index) {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return points_[index];
}

int TMMFadeList::FindIndex(int32_t position) const {
    if (points_.empty()) return -1;
    for (int i = 0; i < Count(); ++i)
        if (points_[i].Position > position) return i;
    return Count();
}

int32_t TMMFadeList::VolumeAt(int32_t position) const {
    int k = FindIndex(position);
    if (k <= 0) return 0;
    k = std::min(k, Count() - 1);
    if (k <= 0 || !(points_[k - 1].Position < points_[k].Position)) return 0;
    const auto& a = points_[k - 1];
    const auto& b = points_[k];
    return static_cast<int32_t>(a.Volume + static_cast<int64_t>(b.Volume - a.Volume) * (position - a.Position) /
                                               (b.Position - a.Position));
}

void TMMFadeList::Assign(const TMMFadeList& source) {
    if (&source == this) return;
    Clear();
    for (const auto& p : source.points_) Add(p);
}

bool TMMFadeList::ApplyFades(const WAVEFORMATEX* f, uint8_t* data, int32_t bytes) {
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || !data || bytes <= 0 || f->nBlockAlign == 0) return false;
    const int channels = f->nChannels;
    const int width = f->wBitsPerSample / 8;
    if ((channels != 1 && channels != 2) || (width != 1 && width != 2)) return false;
    const int32_t frame = f->nBlockAlign;
    bool clipped = false;
    CurrentIndex = std::max(FindIndex(CurrentPosition) - 1, 0);
    while (bytes > 0 && CurrentIndex < Count()) {
        const TMMFadePoint& target = points_[CurrentIndex];
        const int64_t segment = static_cast<int64_t>(target.Position) - CurrentPosition;
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(bytes, std::max<int64_t>(segment, 0)));
        if (n > 0) {
            const int32_t frames = n / frame;
            const int64_t totalFrames = segment / frame;
            const int32_t gains0[2] = {CurrentLeftGain, CurrentRightGain};
            const int32_t gains1[2] = {target.LeftGain, target.RightGain};
            for (int c = 0; c < channels; ++c) {
                // Mono follows the left gain.
                if (width == 2)
                    clipped |= rampChannel(reinterpret_cast<int16_t*>(data) + c, channels, frames, gains0[c],
                                           gains1[c], totalFrames, 0, 0, -32768, 32767);
                else
                    clipped |= rampChannel(data + c, channels, frames, gains0[c], gains1[c], totalFrames, 0, 128,
                                           -128, 127);
            }
            // The gains reached after these frames; the rest of the ramp continues next call.
            auto reached = [&](int32_t g0, int32_t g1) {
                return totalFrames > 0 ? static_cast<int32_t>(g0 + static_cast<int64_t>(g1 - g0) * frames / totalFrames)
                                       : g1;
            };
            CurrentLeftGain = reached(CurrentLeftGain, target.LeftGain);
            CurrentRightGain = reached(CurrentRightGain, target.RightGain);
            data += n;
            bytes -= n;
            CurrentPosition += n;
        }
        if (CurrentPosition >= target.Position) ++CurrentIndex;
    }
    return clipped;
}

void TMMEnvelopePoint::WriteToStream(ObjectStreamWriter& out) const {
    out.WriteI32(Position);
    out.WriteI32(Volume);
    out.WriteU8(Selected ? 1 : 0);
}

void TMMEnvelopePoint::ReadFromStream(ObjectStreamReader& in) {
    Position = in.ReadI32();
    Volume = in.ReadI32();
    Selected = in.ReadU8() != 0;
}

void RegisterEnvelopeClasses() {
    static std::once_flag once;
    std::call_once(once,
                   [] { RegisterStreamClass("TMMEnvelopePoint", [] { return std::make_unique<TMMEnvelopePoint>(); }); });
}
