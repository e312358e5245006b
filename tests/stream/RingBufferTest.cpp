#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "StreamTestSupport.h"
#include "stream/MMErrors.h"
#include "stream/MMEvent.h"
#include "stream/MMRingBuffer.h"
#include "support/TestServices.h"

namespace {

using namespace std::chrono_literals;
using namespace streamtest;

const WAVEFORMATEX stereo16 = PcmBuildFormat(16, 2, 44100);
const WAVEFORMATEX mono8 = PcmBuildFormat(8, 1, 8000);

struct Counters {
    std::atomic<int> overflows{0}, empties{0}, fills{0}, fillEnds{0}, flushes{0}, flushEnds{0};
    void Attach(TMMRingBuffer& ring) {
        ring.OnOverlow = [this](TMMComponent*) { ++overflows; };
        ring.OnEmpty = [this](TMMComponent*) { ++empties; };
        ring.OnFillQueue = [this](TMMComponent*) { ++fills; };
        ring.OnFillQueueEnd = [this](TMMComponent*) { ++fillEnds; };
        ring.OnFlushQueue = [this](TMMComponent*) { ++flushes; };
        ring.OnFlushQueueEnd = [this](TMMComponent*) { ++flushEnds; };
    }
};

void Configure(TMMRingBuffer& ring, TMMQueueMode mode, int numBuffers, int bufferSize,
               const WAVEFORMATEX& format = stereo16) {
    ring.SetPWaveFormat(&format);
    ring.SetQueueMode(mode);
    ring.SetNumBuffers(numBuffers);
    ring.SetBufferSize(bufferSize);
}

void OpenAndStart(TMMRingBuffer& ring) {
    ring.Opened();
    ring.Started();
}

std::vector<uint8_t> Filled(size_t bytes, uint8_t value) { return std::vector<uint8_t>(bytes, value); }

TEST(TMMRingBuffer, PropertiesAreClampedAndFixedWhileOpen) {
    TMMRingBuffer ring;
    EXPECT_EQ(ring.NumBuffers(), 20);
    EXPECT_EQ(ring.QueueMode(), qmNone);
    EXPECT_TRUE(ring.Enabled());
    EXPECT_FALSE(ring.WaitIfFull());
    EXPECT_FALSE(ring.LoopIfEmpty());
    EXPECT_EQ(ring.TimeOut(), 10000);
    ring.SetNumBuffers(1);
    EXPECT_EQ(ring.NumBuffers(), 20);
    ring.SetBufferSize(10);
    EXPECT_EQ(ring.BufferSize(), 32);

    Configure(ring, qmDuplex, 4, 1024);
    ring.Opened();
    const std::vector<std::function<void()>> changes = {
        [&] { ring.SetNumBuffers(8); }, [&] { ring.SetQueueMode(qmRead); }, [&] { ring.SetBufferSize(4096); }};
    for (const auto& change : changes) {
        try {
            change();
            ADD_FAILURE() << "no error";
        } catch (const EMMBufferError& e) {
            EXPECT_STREQ(e.what(), "Change to property while device was open");
        }
    }
    // Setting what is already there (as an opening segment does) is no change.
    ring.SetBufferSize(1024);
    ring.SetNumBuffers(4);
    ring.SetQueueMode(qmDuplex);
    EXPECT_EQ(ring.NumBuffers(), 4);
    EXPECT_EQ(ring.BufferSize(), 1024);
    ring.Closed();
}

TEST(TMMRingBuffer, ModesDecideWhichCallsPassStraightThrough) {
    struct Case {
        TMMQueueMode mode;
        bool pushPasses;
        bool pullPasses;
    };
    for (const Case c : {Case{qmNone, true, true}, Case{qmRead, true, false}, Case{qmWrite, false, true},
                         Case{qmDuplex, false, false}}) {
        SCOPED_TRACE(c.mode);
        PatternSource source(1 << 20);
        TMMRingBuffer ring;
        RecordingSink sink;
        source.SetOutput(&ring);
        ring.SetOutput(&sink);
        Configure(ring, c.mode, 4, 1024);
        ring.SetTimeOut(-1); // a qmRead pull does not wait for the worker
        OpenAndStart(ring);
        Push(ring, Pattern(512));
        EXPECT_EQ(sink.Pushes() == 1, c.pushPasses);
        Pull(ring, 512);
        const auto threads = source.Threads();
        const bool pulledHere = !threads.empty() && threads.front() == std::this_thread::get_id();
        EXPECT_EQ(pulledHere, c.pullPasses);
        ring.Closed();
    }
}

TEST(TMMRingBuffer, DuplexStartsWithSilenceUntilMoreThanHalfFull) {
    for (const auto& [format, silence] : {std::pair{stereo16, uint8_t(0)}, std::pair{mono8, uint8_t(128)}}) {
        TMMRingBuffer ring;
        Counters events;
        events.Attach(ring);
        Configure(ring, qmDuplex, 2, 1024, format);
        OpenAndStart(ring);
        auto p = Pull(ring, 700);
        EXPECT_EQ(p.data, Filled(700, silence));
        EXPECT_TRUE(p.more);
        Push(ring, Filled(1024, 1), 11);
        EXPECT_EQ(Pull(ring, 1024).data, Filled(1024, silence)); // one entry is not more than half
        Push(ring, Filled(1024, 2), 22);
        p = Pull(ring, 1024);
        EXPECT_EQ(p.data, Filled(1024, 1));
        EXPECT_EQ(p.user, 11u);
        EXPECT_EQ(Pull(ring, 1024).data, Filled(1024, 2));
        EXPECT_EQ(events.empties, 0);
        // The pushing side has stopped: silence, and OnEmpty each time.
        p = Pull(ring, 512);
        EXPECT_EQ(p.data, Filled(512, silence));
        EXPECT_TRUE(p.more);
        Pull(ring, 512);
        EXPECT_EQ(events.empties, 2);
        ring.Closed();
    }
}

TEST(TMMRingBuffer, AFullQueueDropsWhatDoesNotFitAndFiresOnOverlow) {
    TMMRingBuffer ring;
    Counters events;
    events.Attach(ring);
    Configure(ring, qmDuplex, 3, 1024);
    OpenAndStart(ring);
    for (uint8_t k = 1; k <= 3; ++k) Push(ring, Filled(1024, k));
    ASSERT_TRUE(ring.QueueFull());
    Push(ring, Filled(1024, 9));
    EXPECT_EQ(events.overflows, 1);
    EXPECT_EQ(ring.QueuedEntries(), 3);
    for (uint8_t k = 1; k <= 3; ++k) EXPECT_EQ(Pull(ring, 1024).data, Filled(1024, k));
    ring.Closed();
}

TEST(TMMRingBuffer, APushLargerThanAnEntryIsSplitAndOnlyTheRestIsDropped) {
    TMMRingBuffer ring;
    Counters events;
    events.Attach(ring);
    Configure(ring, qmDuplex, 4, 1024);
    OpenAndStart(ring);
    Push(ring, Pattern(2500)); // three entries: 1024, 1024, 452
    EXPECT_EQ(ring.QueuedEntries(), 3);
    EXPECT_EQ(ring.QueuedBytes(), 2500);
    EXPECT_EQ(events.overflows, 0);
    Push(ring, Pattern(3000, 2500)); // room for one entry only
    EXPECT_EQ(events.overflows, 1);
    EXPECT_EQ(ring.QueuedBytes(), 2500 + 1024);
    std::vector<uint8_t> all;
    for (int i = 0; i < 4; ++i) {
        const auto p = Pull(ring, 1024);
        all.insert(all.end(), p.data.begin(), p.data.end());
    }
    EXPECT_EQ(all, Pattern(3524));
    ring.Closed();
}

TEST(TMMRingBuffer, APartialReadLeavesTheRestAtTheFrontOfTheEntry) {
    TMMRingBuffer ring;
    Configure(ring, qmDuplex, 4, 4096);
    OpenAndStart(ring);
    Push(ring, Pattern(4096));
    Push(ring, Pattern(4096, 4096));
    Push(ring, Pattern(4096, 8192));
    EXPECT_EQ(Pull(ring, 1000).data, Pattern(1000));
    EXPECT_EQ(ring.QueuedEntries(), 3);
    EXPECT_EQ(ring.QueuedBytes(), 3 * 4096 - 1000);
    EXPECT_EQ(Pull(ring, 4096).data, Pattern(3096, 1000));
    EXPECT_EQ(Pull(ring, 4096).data, Pattern(4096, 4096));
    ring.Closed();
}

TEST(TMMRingBuffer, AnEmptyQueueRepeatsTheLastEntryWithLoopIfEmptyOrForNonPcm) {
    WAVEFORMATEX compressed = stereo16;
    compressed.wFormatTag = 2;
    struct Case {
        WAVEFORMATEX format;
        bool loopIfEmpty;
        bool repeats;
    };
    for (const Case c : {Case{stereo16, false, false}, Case{stereo16, true, true}, Case{compressed, false, true}}) {
        TMMRingBuffer ring;
        Configure(ring, qmDuplex, 2, 1024, c.format);
        ring.SetLoopIfEmpty(c.loopIfEmpty);
        OpenAndStart(ring);
        Push(ring, Filled(1024, 5));
        Push(ring, Filled(600, 6), 66);
        Pull(ring, 1024);
        Pull(ring, 1024);
        const auto p = Pull(ring, 1024);
        EXPECT_EQ(p.data, c.repeats ? Filled(600, 6) : Filled(1024, 0));
        EXPECT_EQ(p.user, c.repeats ? 66u : 0u);
        ring.Closed();
    }
}

TEST(TMMRingBuffer, DisabledReadModeWithAnEmptyQueuePullsStraightFromUpstream) {
    PatternSource source(3000);
    TMMRingBuffer ring;
    source.SetOutput(&ring);
    Configure(ring, qmRead, 4, 1024);
    ring.SetEnabled(false);
    OpenAndStart(ring);
    const auto p = Pull(ring, 2000);
    EXPECT_EQ(p.data, Pattern(2000));
    EXPECT_TRUE(p.more);
    ASSERT_EQ(source.Pulls(), 1);
    EXPECT_EQ(source.Threads().front(), std::this_thread::get_id());
    EXPECT_EQ(source.Requests().front(), 2000u);
    ring.Closed();
}

// Pulls until the ring says "no more", at most `limit` times.
std::vector<uint8_t> PullToEnd(TMMRingBuffer& ring, uint32_t bytes, bool& ended, int limit = 20000) {
    std::vector<uint8_t> all;
    ended = false;
    for (int i = 0; i < limit && !ended; ++i) {
        const auto p = Pull(ring, bytes);
        all.insert(all.end(), p.data.begin(), p.data.end());
        ended = !p.more;
        if (!ended && p.data.empty()) std::this_thread::sleep_for(1ms);
    }
    return all;
}

TEST(TMMRingBuffer, ReadModeDeliversTheSourceAndItsEnd) {
    struct Case {
        const char* name;
        size_t bytes;
        bool endWithData;
        int numBuffers;
        bool exact; // false: the reader may overtake the worker and get silence before the end
    };
    for (const Case c : {Case{"end with the last data", 3 * 2048, true, 20, true},
                         Case{"end from an empty pull", 3 * 2048, false, 20, true},
                         Case{"end after the reader emptied the queue", 2 * 2048, false, 2, false}}) {
        SCOPED_TRACE(c.name);
        PatternSource source(c.bytes, c.endWithData);
        TMMRingBuffer ring;
        Counters events;
        events.Attach(ring);
        source.SetOutput(&ring);
        Configure(ring, qmRead, c.numBuffers, 2048);
        OpenAndStart(ring);
        bool ended = false;
        const auto all = PullToEnd(ring, 2048, ended);
        ASSERT_TRUE(ended);
        ASSERT_GE(all.size(), c.bytes);
        EXPECT_EQ(std::vector<uint8_t>(all.begin(), all.begin() + c.bytes), Pattern(c.bytes));
        if (c.exact) {
            EXPECT_EQ(all.size(), c.bytes);
        } else {
            EXPECT_EQ(std::vector<uint8_t>(all.begin() + c.bytes, all.end()), Filled(all.size() - c.bytes, 0));
        }
        const auto after = Pull(ring, 2048); // the end stays
        EXPECT_TRUE(after.data.empty());
        EXPECT_FALSE(after.more);
        EXPECT_GE(events.fills, 1);
        ring.Closed();
        EXPECT_EQ(events.fills, events.fillEnds);
    }
}

TEST(TMMRingBuffer, ReadModeFetchesInChunksOfAbout64K) {
    PatternSource source(1 << 20);
    TMMRingBuffer ring;
    source.SetOutput(&ring);
    Configure(ring, qmRead, 64, 2048); // 128 KB of room
    OpenAndStart(ring);
    Pull(ring, 2048);
    ASSERT_GE(source.Requests().size(), 1u);
    EXPECT_EQ(source.Requests().front(), 65536u);
    ring.Closed();
}

TEST(TMMRingBuffer, ReadModeWithNegativeTimeOutDoesNotWaitForTheFirstFill) {
    PatternSource source(1 << 20);
    MMEvent release(MMEvent::ManualReset);
    source.beforePull = [&](int) { release.Wait(10s); };
    TMMRingBuffer ring;
    source.SetOutput(&ring);
    Configure(ring, qmRead, 4, 1024);
    ring.SetTimeOut(-1);
    OpenAndStart(ring);
    const auto p = Pull(ring, 1024); // the worker is held in the source
    EXPECT_TRUE(p.data.empty());
    EXPECT_FALSE(p.more);
    release.Set();
    ring.Closed();
}

// Serves `bytes` of the pattern and wraps to its start while the consumer asks for loops.
class LoopingSource : public TMMDSPComponent {
public:
    explicit LoopingSource(size_t bytes) : bytes_(bytes) {}
    int BufferLoad(PWaveHdr b, bool& more) override {
        uint32_t n = 0;
        b->LoopWrapped = 0;
        while (n < b->dwBufferLength) {
            if (position_ == bytes_) {
                if (!b->LoopEnabled || (b->LoopCount != 0 && b->LoopsLeft <= 0)) break;
                if (b->LoopCount != 0) --b->LoopsLeft;
                position_ = 0;
                b->LoopWrapped = -1;
            }
            b->lpData[n++] = PatternByte(position_++);
        }
        b->dwBytesRecorded = n;
        more = position_ < bytes_ || (b->LoopEnabled && (b->LoopCount == 0 || b->LoopsLeft > 0));
        return 0;
    }

private:
    const size_t bytes_;
    size_t position_ = 0;
};

TEST(TMMRingBuffer, ReadModeHandsTheLoopRequestToTheSourceAndReportsTheWrap) {
    LoopingSource source(3000);
    TMMRingBuffer ring;
    source.SetOutput(&ring);
    Configure(ring, qmRead, 20, 2048);
    OpenAndStart(ring);
    std::vector<uint8_t> all;
    int wraps = 0;
    bool more = true;
    for (int i = 0; i < 100 && more; ++i) {
        const auto p = Pull(ring, 2048, -1, 1, 1); // loop once
        all.insert(all.end(), p.data.begin(), p.data.end());
        wraps += p.wrapped == -1;
        more = p.more;
    }
    EXPECT_FALSE(more);
    auto twice = Pattern(3000);
    twice.insert(twice.end(), twice.begin(), twice.end());
    EXPECT_EQ(all, twice);
    EXPECT_EQ(wraps, 1);
    ring.Closed();
}

TEST(TMMRingBuffer, WriteModeStopForwardsWhatIsStillQueued) {
    TMMRingBuffer ring;
    RecordingSink sink;
    Counters events;
    events.Attach(ring);
    ring.SetOutput(&sink);
    Configure(ring, qmWrite, 20, 1024);
    OpenAndStart(ring);
    for (int k = 0; k < 3; ++k) Push(ring, Pattern(1024, k * 1024)); // below the drain threshold
    EXPECT_EQ(ring.QueuedEntries(), 3);
    EXPECT_EQ(sink.Pushes(), 0);
    ring.Stopped();
    EXPECT_EQ(sink.Data(), Pattern(3 * 1024));
    EXPECT_EQ(ring.QueuedEntries(), 0);
    EXPECT_EQ(events.flushes, 1);
    EXPECT_EQ(events.flushEnds, 1);
    ring.Closed();
}

TEST(TMMRingBuffer, WriteModeForwardsInChunksOfAtMost64K) {
    TMMRingBuffer ring;
    RecordingSink sink;
    ring.SetOutput(&sink);
    Configure(ring, qmWrite, 64, 2048);
    OpenAndStart(ring);
    for (int k = 0; k < 200; ++k) Push(ring, Pattern(2048, k * 2048));
    ring.Stopped();
    ring.Closed();
    const auto sizes = sink.Sizes();
    ASSERT_FALSE(sizes.empty());
    // The first drain starts at half full, so it carries many entries at once.
    EXPECT_GT(sizes.front(), 2048u);
    for (auto s : sizes) EXPECT_LE(s, 65536u);
    for (auto l : sink.Lengths()) EXPECT_EQ(l, 65536u);
    // Without WaitIfFull some pushes may have met a full queue; whole entries arrived.
    const auto data = sink.Data();
    EXPECT_EQ(data.size() % 2048, 0u);
    EXPECT_GE(data.size(), 32u * 2048);
}

TEST(TMMRingBuffer, WriteModeWithWaitIfFullLosesNothingBehindASlowOutput) {
    TMMRingBuffer ring;
    RecordingSink sink;
    Counters events;
    events.Attach(ring);
    sink.duringPush = [](int, PWaveHdr) { std::this_thread::sleep_for(2ms); };
    ring.SetOutput(&sink);
    Configure(ring, qmWrite, 4, 1024);
    ring.SetWaitIfFull(true);
    OpenAndStart(ring);
    for (int k = 0; k < 50; ++k) Push(ring, Pattern(1024, k * 1024));
    ring.Stopped();
    EXPECT_EQ(sink.Data(), Pattern(50 * 1024));
    EXPECT_EQ(events.overflows, 0);
    ring.Closed();
}

TEST(TMMRingBuffer, WaitIfFullLeavesItsWaitWhenTheRingStops) {
    TMMRingBuffer ring;
    RecordingSink sink;
    Counters events;
    events.Attach(ring);
    MMEvent release(MMEvent::ManualReset);
    sink.duringPush = [&](int push, PWaveHdr) {
        if (push == 0) release.Wait(); // the output is stuck
    };
    ring.SetOutput(&sink);
    Configure(ring, qmWrite, 4, 1024);
    ring.SetWaitIfFull(true);
    OpenAndStart(ring);
    std::atomic<bool> pusherDone{false};
    std::thread pusher([&] {
        for (int k = 0; k < 12; ++k) Push(ring, Pattern(1024, k * 1024));
        pusherDone = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return ring.QueueFull() && sink.PushesStarted() == 1; }));
    std::atomic<bool> doneBeforeRelease{false};
    std::thread releaser([&] {
        for (int i = 0; i < 10000 && !pusherDone; ++i) std::this_thread::sleep_for(1ms);
        doneBeforeRelease = pusherDone.load();
        release.Set();
    });
    ring.Stopped(); // waits for the stuck output, but the waiting pusher leaves at once
    pusher.join();
    releaser.join();
    EXPECT_TRUE(doneBeforeRelease);
    EXPECT_GE(events.overflows, 1); // what met the stopping, full queue was dropped
    const auto data = sink.Data();
    EXPECT_EQ(data, Pattern(data.size())); // what arrived is in order, without gaps
    ring.Closed();
}

TEST(TMMRingBuffer, ClosingWhileBothSidesAreBusyIsSafe) {
    for (const TMMQueueMode mode : {qmRead, qmWrite, qmDuplex}) {
        SCOPED_TRACE(mode);
        PatternSource source(1 << 30);
        auto ring = std::make_unique<TMMRingBuffer>();
        RecordingSink sink;
        source.SetOutput(ring.get());
        ring->SetOutput(&sink);
        Configure(*ring, mode, 8, 1024);
        OpenAndStart(*ring);
        std::atomic<bool> stop{false};
        std::thread pusher([&] {
            while (!stop) Push(*ring, Pattern(1024));
        });
        std::thread puller([&] {
            while (!stop) Pull(*ring, 1000);
        });
        std::this_thread::sleep_for(30ms);
        ring->Closed();
        stop = true;
        pusher.join();
        puller.join();
        ring.reset();
    }
}

} // namespace
