#include <gtest/gtest.h>

#include <memory>

#include "ChainProbes.h"

namespace {

const WAVEFORMATEX cd = PcmBuildFormat(16, 2, 44100);

TEST(ChainLinking, SelfLinksAndCyclesAreIgnored) {
    PlainProbe a("a"), b("b"), c("c");
    a.SetInput(&a);
    a.SetOutput(&a);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), nullptr);

    a.SetOutput(&b);
    b.SetOutput(&c);
    c.SetOutput(&a); // a is upstream of c
    a.SetInput(&c);  // c is downstream of a
    EXPECT_EQ(c.Output(), nullptr);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Output(), &c);
}

TEST(ChainLinking, RelinkingReleasesTheOldNeighbour) {
    PlainProbe a("a"), b("b"), c("c");
    a.SetPWaveFormat(&cd);
    c.SetInput(&a);
    ASSERT_EQ(a.Output(), &c);

    b.SetInput(&a);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Input(), &a);
    ASSERT_NE(b.PWaveFormat(), nullptr);
    EXPECT_NE(b.PWaveFormat(), a.PWaveFormat()); // its own copy
    EXPECT_TRUE(IsSameWaveFormat(b.PWaveFormat(), &cd));
    EXPECT_EQ(b.InputLinkName(), "Output");
    EXPECT_EQ(a.OutputLinkName(), "Input");
}

TEST(ChainLinking, ClearingOutputNullsTheOldOutputsFormat) {
    PlainProbe a("a"), b("b");
    a.SetPWaveFormat(&cd);
    a.SetOutput(&b);
    ASSERT_NE(b.PWaveFormat(), nullptr);
    a.SetOutput(nullptr);
    EXPECT_EQ(b.PWaveFormat(), nullptr);
    EXPECT_EQ(b.Input(), nullptr);
    EXPECT_EQ(b.formatChanges.back(), false);
}

TEST(ChainLinking, ClearingInputNullsOwnFormatDownstream) {
    PlainProbe a("a"), b("b"), c("c");
    a.SetPWaveFormat(&cd);
    a.SetOutput(&b);
    b.SetOutput(&c);
    ASSERT_NE(c.PWaveFormat(), nullptr);
    b.SetInput(nullptr);
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(b.PWaveFormat(), nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(ChainLinking, DestroyingTheMiddleUnlinksBothSides) {
    PlainProbe a("a"), c("c");
    a.SetPWaveFormat(&cd);
    {
        PlainProbe b("b");
        a.SetOutput(&b);
        b.SetOutput(&c);
        ASSERT_NE(c.PWaveFormat(), nullptr);
    }
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(ChainLinking, FormatSetAtHeadReachesEveryComponent) {
    PlainProbe a("a"), b("b"), c("c");
    a.SetOutput(&b);
    b.SetOutput(&c);
    a.SetPWaveFormat(&cd);
    for (auto* p : {&a, &b, &c}) {
        ASSERT_NE(p->PWaveFormat(), nullptr) << p->Name;
        EXPECT_TRUE(IsSameWaveFormat(p->PWaveFormat(), &cd));
    }
    EXPECT_NE(b.PWaveFormat(), c.PWaveFormat());
    // A null format is accepted anywhere and cleared downstream.
    a.SetPWaveFormat(nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(ChainLinking, UnpublishedLinksCannotConnect) {
    PlainProbe a("a"), b("b");
    a.publishesOutput = false;
    b.SetInput(&a);
    EXPECT_EQ(b.Input(), nullptr);

    FourInputProbe m; // publishes no Input
    b.SetOutput(&m);
    EXPECT_EQ(b.Output(), nullptr);
    m.AcceptsInput = true;
    b.SetOutput(&m);
    EXPECT_EQ(b.Output(), &m);
}

TEST(ChainLinking, NamedLinksAreReleasedOnlyByName) {
    PlainProbe a("a"), b("b");
    FourInputProbe m;
    m.SetInputN(1, &a);
    m.SetInputN(2, &b);
    ASSERT_EQ(a.Output(), &m);
    ASSERT_EQ(a.OutputLinkName(), "Input2");

    // Releasing m's Input3 lets b go, not a.
    m.SetInputN(2, nullptr);
    EXPECT_EQ(b.Output(), nullptr);
    EXPECT_EQ(a.Output(), &m);

    // Linking a elsewhere releases m's Input2 through the "Output" name test.
    PlainProbe x("x");
    x.SetInput(&a);
    EXPECT_EQ(m.inputs[1], nullptr);
    EXPECT_EQ(a.Output(), &x);
}

TEST(ChainLinking, LinkNamesAreCutToTwentyCharacters) {
    PlainProbe a("a");
    a.SetInputLink(nullptr, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(a.InputLinkName(), "ABCDEFGHIJKLMNOPQRST");
}

TEST(ChainBuffers, PullWithoutSourceReturnsNothing) {
    PlainProbe a("a"), b("b");
    a.SetOutput(&b);
    TMMAudioBuffer buffer{};
    uint8_t data[16];
    buffer.lpData = data;
    buffer.dwBufferLength = 16;
    bool more = false;
    b.BufferLoad(&buffer, more);
    EXPECT_EQ(buffer.dwBytesRecorded, 0u);
    EXPECT_FALSE(more);
}

TEST(ChainBuffers, PullReachesTheHeadHandlerAndPushVisitsEveryComponent) {
    PlainProbe a("a"), b("b"), c("c");
    a.SetOutput(&b);
    b.SetOutput(&c);
    a.OnBufferLoad = [](TMMDSPComponent*, PWaveHdr h, bool& more) {
        h->dwBytesRecorded = h->dwBufferLength / 2;
        more = true;
    };
    std::vector<std::string> seen;
    for (auto* p : {&a, &b, &c})
        p->OnBufferReady = [&seen](TMMDSPComponent* s, PWaveHdr) { seen.push_back(s->Name); };
    TMMAudioBuffer buffer{};
    uint8_t data[16];
    buffer.lpData = data;
    buffer.dwBufferLength = 16;
    bool more = false;
    c.BufferLoad(&buffer, more);
    EXPECT_EQ(buffer.dwBytesRecorded, 8u);
    EXPECT_TRUE(more);
    a.BufferReady(&buffer);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(ChainState, BufferSizeAndPlainStates) {
    PlainProbe a("a");
    auto six = PcmBuildFormat(16, 3, 8000);
    a.SetPWaveFormat(&six);
    a.SetBufferSize(2048);
    EXPECT_EQ(a.BufferSize(), 2048);
    a.Opened();
    EXPECT_EQ(a.BufferSize(), 2046);
    a.Started();
    a.Paused();
    EXPECT_TRUE(a.IsPaused());
    a.SetBufferSize(100); // a started component stops first
    EXPECT_FALSE(a.IsStarted());
    EXPECT_FALSE(a.IsPaused());
    a.Closed();
    EXPECT_EQ(a.BufferSize(), 100);
}

TEST(ChainRegistry, EmptiesWhenTheLastComponentDies) {
    const int before = TMMDSPComponent::LiveComponentCount();
    {
        auto a = std::make_unique<PlainProbe>("a");
        auto b = std::make_unique<PlainProbe>("b");
        EXPECT_EQ(TMMDSPComponent::LiveComponentCount(), before + 2);
    }
    EXPECT_EQ(TMMDSPComponent::LiveComponentCount(), before);
}

} // namespace
