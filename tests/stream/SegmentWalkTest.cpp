#include <gtest/gtest.h>

#include "ChainProbes.h"

namespace {

const WAVEFORMATEX cd = PcmBuildFormat(16, 2, 44100);

// head (sound) -> p1 -> p2 -> device (sound) -> p3
struct TwoSegments : ::testing::Test {
    CallLog log;
    SoundProbe head{"head", &log};
    PlainProbe p1{"p1", &log}, p2{"p2", &log};
    SoundProbe device{"device", &log};
    PlainProbe p3{"p3", &log};

    void SetUp() override {
        head.SetOutput(&p1);
        p1.SetOutput(&p2);
        p2.SetOutput(&device);
        device.SetOutput(&p3);
        head.SetPWaveFormat(&cd);
        head.SetBufferSize(2048);
        device.SetBufferSize(8192);
        log.clear();
    }
};

TEST_F(TwoSegments, OpenAtHeadOpensEverySegmentWithTheHeadsBufferSize) {
    head.Opened();
    for (TMMDSPComponent* c : std::initializer_list<TMMDSPComponent*>{&head, &p1, &p2, &device, &p3}) {
        EXPECT_TRUE(c->IsOpened()) << c->Name;
        EXPECT_EQ(c->BufferSize(), 2048) << c->Name;
    }
    EXPECT_FALSE(head.Driven);
    EXPECT_TRUE(device.Driven);
    EXPECT_EQ(log, (CallLog{"head:Opened", "p1:Opened", "p2:Opened", "device:Opened", "p3:Opened"}));
}

TEST_F(TwoSegments, BufferSizeIsRoundedToWholeFrames) {
    auto six = PcmBuildFormat(16, 3, 8000);
    head.SetPWaveFormat(&six);
    head.Opened();
    EXPECT_EQ(device.BufferSize(), 2046);
    EXPECT_EQ(p3.BufferSize(), 2046);
}

TEST_F(TwoSegments, CloseShutsTheDownstreamDeviceBeforeThePlainComponents) {
    head.Opened();
    log.clear();
    head.Closed();
    EXPECT_EQ(log, (CallLog{"head:Closed", "device:Closed", "p3:Closed", "p1:Closed", "p2:Closed"}));
    for (TMMDSPComponent* c : std::initializer_list<TMMDSPComponent*>{&head, &p1, &p2, &device, &p3})
        EXPECT_FALSE(c->IsOpened()) << c->Name;
}

TEST_F(TwoSegments, StartPauseRestartStopWalkTheChain) {
    head.Opened();
    log.clear();
    head.Started();
    EXPECT_EQ(log, (CallLog{"head:Started", "p1:Started", "p2:Started", "device:Started", "p3:Started"}));
    EXPECT_TRUE(p3.IsStarted());
    log.clear();
    head.Paused();
    EXPECT_TRUE(p2.IsPaused());
    EXPECT_TRUE(p3.IsPaused());
    head.Restarted();
    EXPECT_FALSE(p3.IsPaused());
    log.clear();
    head.Reset();
    head.Looped();
    EXPECT_EQ(log, (CallLog{"head:Reset", "p1:Reset", "p2:Reset", "device:Reset", "p3:Reset", "head:Looped",
                            "p1:Looped", "p2:Looped", "device:Looped", "p3:Looped"}));
    log.clear();
    head.Stopped();
    EXPECT_EQ(log, (CallLog{"head:Stopped", "device:Stopped", "p3:Stopped", "p1:Stopped", "p2:Stopped"}));
    EXPECT_FALSE(p3.IsStarted());
}

TEST(SegmentWalk, HeadlessChainIsOpenedFromItsHead) {
    CallLog log;
    PlainProbe source("source", &log);
    SoundProbe driver("driver", &log);
    PlainProbe sink("sink", &log);
    source.SetOutput(&driver);
    driver.SetOutput(&sink);
    driver.SetBufferSize(1000);
    log.clear();
    driver.Opened();
    EXPECT_EQ(log, (CallLog{"driver:Opened", "source:Opened", "sink:Opened"}));
    EXPECT_EQ(source.BufferSize(), 1000);
    EXPECT_FALSE(driver.Driven);
}

TEST(SegmentWalk, LinkChangeStopsTheSegment) {
    CallLog log;
    SoundProbe driver("driver", &log);
    PlainProbe a("a", &log), b("b", &log);
    driver.SetOutput(&a);
    driver.Opened();
    driver.Started();
    ASSERT_TRUE(a.IsStarted());
    driver.SetOutput(&b);
    EXPECT_FALSE(driver.IsStarted());
    EXPECT_FALSE(a.IsStarted());
}

} // namespace
