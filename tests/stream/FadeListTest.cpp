#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stream/MMFadeList.h"
#include "stream/MMObserver.h"

namespace {

const WAVEFORMATEX mono16 = PcmBuildFormat(16, 1, 44100);

TMMFadePoint point(int32_t position, int32_t gain, int32_t volume = 0) {
    TMMFadePoint p;
    p.Position = position;
    p.LeftGain = p.RightGain = gain;
    p.Volume = volume;
    p.Flags = 7;
    return p;
}

TEST(TMMFadeList, RampsFromSilenceToFullScaleThenLeavesDataAlone) {
    TMMFadeList fades;
    fades.Add(point(0, 0));
    fades.Add(point(1000, 16384));
    fades.CurrentPosition = 0;
    fades.CurrentLeftGain = fades.CurrentRightGain = 0;
    std::vector<int16_t> data(1000, 32767); // 2000 bytes: the ramp, then 1000 bytes past the point
    const bool clipped = fades.ApplyFades(&mono16, reinterpret_cast<uint8_t*>(data.data()), 2000);
    EXPECT_FALSE(clipped);
    EXPECT_EQ(data[0], 0);
    for (int i = 1; i < 500; ++i) ASSERT_GE(data[i], data[i - 1]) << i;
    EXPECT_NEAR(data[250], 16383, 64);
    EXPECT_GE(data[499], 32767 - 70);
    for (int i = 500; i < 1000; ++i) ASSERT_EQ(data[i], 32767) << i; // past the last point: untouched
    EXPECT_EQ(fades.CurrentLeftGain, 16384);
}

TEST(TMMFadeList, RampContinuesAcrossCalls) {
    TMMFadeList whole, split;
    for (auto* f : {&whole, &split}) {
        f->Add(point(0, 0));
        f->Add(point(800, 16384));
        f->CurrentLeftGain = f->CurrentRightGain = 0;
    }
    std::vector<int16_t> a(400, 20000), b(400, 20000);
    whole.ApplyFades(&mono16, reinterpret_cast<uint8_t*>(a.data()), 800);
    split.ApplyFades(&mono16, reinterpret_cast<uint8_t*>(b.data()), 300);
    split.ApplyFades(&mono16, reinterpret_cast<uint8_t*>(b.data()) + 300, 500);
    EXPECT_EQ(a, b);
}

TEST(TMMFadeList, ConstantGainsScaleSilenceOrSaturate) {
    struct Case {
        int32_t gain;
        int16_t in, out;
        bool clipped;
    } cases[] = {{32768, 32767, 32767, true}, {32768, -20000, -32768, true}, {8192, -3, -2, false},
                 {0, 1234, 0, false},         {16384, 1234, 1234, false}};
    for (const auto& c : cases) {
        TMMFadeList fades;
        fades.Add(point(0, c.gain));
        fades.Add(point(1 << 20, c.gain));
        fades.CurrentLeftGain = fades.CurrentRightGain = c.gain;
        std::vector<int16_t> data(8, c.in);
        EXPECT_EQ(fades.ApplyFades(&mono16, reinterpret_cast<uint8_t*>(data.data()), 16), c.clipped) << c.gain;
        EXPECT_EQ(data[5], c.out) << c.gain;
    }
}

TEST(TMMFadeList, EightBitIsCentredOn128) {
    const auto mono8 = PcmBuildFormat(8, 1, 8000);
    TMMFadeList fades;
    fades.Add(point(0, 8192));
    fades.Add(point(100, 8192));
    fades.CurrentLeftGain = fades.CurrentRightGain = 8192;
    std::vector<uint8_t> data = {228, 28, 128};
    fades.ApplyFades(&mono8, data.data(), 3);
    EXPECT_EQ(data, (std::vector<uint8_t>{178, 78, 128}));
}

TEST(TMMFadeList, FindIndexVolumeAtAndSort) {
    TMMFadeList fades;
    EXPECT_EQ(fades.FindIndex(0), -1);
    EXPECT_EQ(fades.VolumeAt(10), 0);
    fades.Add(point(1000, 0, 200));
    fades.Add(point(0, 0, 100));
    fades.Add(point(500, 0, 300));
    fades.Sort();
    EXPECT_EQ(fades.Items(0).Position, 0);
    EXPECT_EQ(fades.Items(2).Position, 1000);
    EXPECT_EQ(fades.Items(1).Flags, 0); // cleared when added
    EXPECT_EQ(fades.FindIndex(-1), 0);
    EXPECT_EQ(fades.FindIndex(500), 2);
    EXPECT_EQ(fades.FindIndex(2000), 3);
    EXPECT_EQ(fades.VolumeAt(-5), 0); // before the first point
    EXPECT_EQ(fades.VolumeAt(250), 200);
    EXPECT_EQ(fades.VolumeAt(750), 250);
    EXPECT_THROW(fades.Items(3), EListError);
    TMMFadeList copy;
    copy.Assign(fades);
    EXPECT_EQ(copy.Count(), 3);
}

TEST(TMMEnvelopePoint, StoresPositionVolumeAndSelection) {
    RegisterEnvelopeClasses();
    TMMEnvelopePoint p;
    p.Position = 44100;
    p.Volume = -3;
    p.Selected = true;
    ObjectStreamWriter out;
    WriteStoredObject(out, &p);
    EXPECT_EQ(out.Bytes().size(), 1 + 16 + 9u);
    ObjectStreamReader in(out.Bytes());
    auto back = ReadStoredObject(in);
    auto* q = dynamic_cast<TMMEnvelopePoint*>(back.get());
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->Position, 44100);
    EXPECT_EQ(q->Volume, -3);
    EXPECT_TRUE(q->Selected);
}

TEST(TMMObservable, NotifiesLastAttachedFirstAndDetachesOnDestruction) {
    std::vector<int> order;
    TMMObservable subject;
    TMMObserver a, b;
    a.OnNotify = [&](TMMObserver*, int32_t d) { order.push_back(10 + d); };
    b.OnNotify = [&](TMMObserver*, int32_t d) { order.push_back(20 + d); };
    subject.Attach(&a);
    subject.Attach(&b);
    subject.Notify(1);
    EXPECT_EQ(order, (std::vector<int>{21, 11}));
    b.Muted = true;
    subject.Notify(2);
    EXPECT_EQ(order.back(), 12);
    {
        TMMObserver c;
        subject.Attach(&c);
        EXPECT_EQ(subject.ObserverCount(), 3);
    }
    EXPECT_EQ(subject.ObserverCount(), 2);
    TMMObservable other;
    other.Attach(&a); // moves a
    EXPECT_EQ(subject.ObserverCount(), 1);
    EXPECT_EQ(a.Observable(), &other);
}

} // namespace
