#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "StreamTestSupport.h"
#include "stream/MMErrors.h"
#include "stream/MMEvent.h"
#include "stream/MMTrigger.h"
#include "support/TestServices.h"

namespace {

using namespace std::chrono_literals;
using namespace streamtest;
auto& dispatcher() { return MainThreadDispatcher::Instance(); }

const WAVEFORMATEX cd = PcmBuildFormat(16, 2, 44100);
constexpr uint32_t Buffer = 2048;

// source -> trigger -> sink, with every trigger event counted.
struct TriggerChain : ::testing::Test {
    ScopedTestServices services;
    std::unique_ptr<PatternSource> source;
    TMMTrigger trigger;
    RecordingSink sink;
    std::atomic<int> opens{0}, starts{0}, pauses{0}, restarts{0}, stops{0}, closes{0}, errors{0}, errorsEx{0},
        filled{0};
    std::atomic<bool> stopOnMain{true};
    bool handleErrors = false;

    void SetUp() override {
        trigger.SetOutput(&sink);
        trigger.SetBufferSize(Buffer);
        trigger.OnOpen = [this](TMMComponent*) { ++opens; };
        trigger.OnStart = [this](TMMComponent*) { ++starts; };
        trigger.OnPause = [this](TMMComponent*) { ++pauses; };
        trigger.OnRestart = [this](TMMComponent*) { ++restarts; };
        trigger.OnStop = [this](TMMComponent*) {
            ++stops;
            stopOnMain = stopOnMain && dispatcher().IsMainThread();
        };
        trigger.OnClose = [this](TMMComponent*) { ++closes; };
        trigger.OnError = [this](TMMComponent*) { ++errors; };
        trigger.OnErrorEx = [this](TMMComponent*, bool& handled) {
            ++errorsEx;
            handled = handleErrors;
        };
        trigger.OnBufferFilled = [this](TMMDSPComponent*, PWaveHdr) { ++filled; };
    }
    void TearDown() override { trigger.CloseDevice(); }

    void UseSource(size_t bytes, bool endWithData = true) {
        trigger.SetInput(nullptr);
        source = std::make_unique<PatternSource>(bytes, endWithData);
        source->SetOutput(&trigger);
        source->SetPWaveFormat(&cd);
    }
    bool WaitForStops(int n) {
        return WaitUntil([&] { return stops >= n; });
    }
};

TEST_F(TriggerChain, RunsTheSourceToItsEndAndStaysOpen) {
    struct Case {
        size_t bytes;
        bool endWithData; // "no more" comes with the last data, or from an empty pull after it
        int pushes;
    };
    for (const Case c : {Case{3 * Buffer, true, 3}, Case{3 * Buffer, false, 3}, Case{2 * Buffer + 100, true, 3},
                         Case{100, true, 1}}) {
        SCOPED_TRACE(testing::Message() << c.bytes << (c.endWithData ? " with data" : " empty pull"));
        stops = 0;
        UseSource(c.bytes, c.endWithData);
        const int pushesBefore = sink.Pushes();
        const auto dataBefore = sink.Data().size();
        trigger.StartDevice();
        EXPECT_TRUE(sink.IsOpened()); // the segment below is opened and started with it
        EXPECT_TRUE(sink.IsStarted());
        ASSERT_TRUE(WaitForStops(1));
        Settle();
        EXPECT_EQ(stops, 1);
        EXPECT_TRUE(stopOnMain);
        EXPECT_EQ(sink.Pushes() - pushesBefore, c.pushes);
        const auto data = sink.Data();
        EXPECT_EQ(std::vector<uint8_t>(data.begin() + dataBefore, data.end()), Pattern(c.bytes));
        EXPECT_TRUE(trigger.IsOpened());
        EXPECT_FALSE(trigger.IsStarted());
        EXPECT_FALSE(sink.IsStarted());
    }
    EXPECT_EQ(filled, 3 + 3 + 3 + 1);
    EXPECT_EQ(errors, 0);
    trigger.CloseDevice();
    EXPECT_FALSE(sink.IsOpened());
    // Each new source brought a new format, and a format change closes the trigger.
    EXPECT_EQ(opens, 4);
    EXPECT_EQ(closes, 4);
}

TEST_F(TriggerChain, AnEmptySourceCannotStartAndLeavesTheTriggerClosed) {
    UseSource(0);
    try {
        trigger.StartDevice();
        FAIL() << "no error";
    } catch (const EMMTriggerError& e) {
        EXPECT_STREQ(e.what(), "TriggerStart:\n\rUnable to start device");
    }
    EXPECT_FALSE(trigger.IsOpened());
    EXPECT_FALSE(sink.IsOpened());
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(sink.Pushes(), 0);
}

TEST_F(TriggerChain, OpeningWithoutAFormatFails) {
    TMMTrigger lonely;
    int errorCount = 0;
    lonely.OnError = [&](TMMComponent*) { ++errorCount; };
    try {
        lonely.OpenDevice();
        FAIL() << "no error";
    } catch (const EMMTriggerError& e) {
        EXPECT_STREQ(e.what(), "TriggerOpen:\n\rInvalid wave format");
    }
    EXPECT_EQ(errorCount, 1);
    EXPECT_FALSE(lonely.IsOpened());
}

TEST_F(TriggerChain, PropertiesAreClampedAndBufferSizeIsFixedWhileOpen) {
    TMMTrigger t;
    EXPECT_EQ(t.BufferSize(), 2048);
    EXPECT_EQ(t.Interval(), 0);
    EXPECT_EQ(t.TimeFormat(), tfByte);
    EXPECT_FALSE(t.Synchronize());
    t.SetInterval(-5);
    EXPECT_EQ(t.Interval(), 0);
    t.SetBufferSize(10);
    EXPECT_EQ(t.BufferSize(), 32);

    UseSource(10 * Buffer);
    trigger.OpenDevice();
    trigger.SetBufferSize(Buffer); // the same size is no change
    try {
        trigger.SetBufferSize(4096);
        FAIL() << "no error";
    } catch (const EMMTriggerError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(trigger.BufferSize(), int(Buffer));
}

TEST_F(TriggerChain, SynchronizeDecidesWhichThreadPushes) {
    for (const bool synchronize : {true, false}) {
        stops = 0;
        UseSource(4 * Buffer);
        trigger.SetSynchronize(synchronize);
        const size_t before = sink.Threads().size();
        trigger.StartDevice();
        ASSERT_TRUE(WaitForStops(1));
        const auto threads = sink.Threads();
        ASSERT_EQ(threads.size() - before, 4u);
        for (size_t i = before; i < threads.size(); ++i)
            EXPECT_EQ(threads[i] == std::this_thread::get_id(), synchronize) << "push " << i;
    }
}

// The sink's first push ends only after the main thread has served a run-and-wait request from
// inside it. The test's main thread waits for that push without serving (a plain event wait), so
// the request is served only by the trigger's own wait inside the call under test: the call
// certainly arrives while the buffer is in progress.
struct HeldFirstPush {
    MMEvent entered{MMEvent::ManualReset};
    std::atomic<bool> servedInsideCall{false};
    void Arm(RecordingSink& sink) {
        sink.duringPush = [this](int push, PWaveHdr) {
            if (push != 0) return;
            entered.Set();
            MainThreadDispatcher::Instance().RunAndWait([this] { servedInsideCall = true; });
        };
    }
    bool WaitEntered() { return entered.Wait(10s); }
};

TEST_F(TriggerChain, PauseWaitsForTheBufferInProgressAndHoldsTheThreadUntilRestart) {
    UseSource(4 * Buffer);
    HeldFirstPush held;
    held.Arm(sink);
    trigger.StartDevice();
    ASSERT_TRUE(held.WaitEntered());
    trigger.PauseDevice();
    EXPECT_TRUE(held.servedInsideCall);
    EXPECT_EQ(sink.Pushes(), 1); // the buffer in progress was finished first
    EXPECT_TRUE(trigger.IsPaused());
    EXPECT_TRUE(sink.IsPaused());
    Settle();
    EXPECT_EQ(sink.PushesStarted(), 1); // nothing moves while paused
    trigger.RestartDevice();
    EXPECT_FALSE(sink.IsPaused());
    ASSERT_TRUE(WaitForStops(1));
    EXPECT_EQ(sink.Data(), Pattern(4 * Buffer));
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(restarts, 1);
}

TEST_F(TriggerChain, StopDuringABufferFinishesItAndAStartLaterContinues) {
    UseSource(4 * Buffer);
    HeldFirstPush held;
    held.Arm(sink);
    trigger.StartDevice();
    ASSERT_TRUE(held.WaitEntered());
    trigger.StopDevice();
    EXPECT_TRUE(held.servedInsideCall);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(trigger.IsStarted());
    EXPECT_FALSE(trigger.StopPending());
    EXPECT_EQ(sink.Pushes(), 1);
    EXPECT_EQ(source->Pulls(), 1); // a pending stop pulls no further buffer
    Settle();
    EXPECT_EQ(stops, 1); // the stop message of that buffer was withdrawn

    trigger.StartDevice(); // goes on where the source stands
    ASSERT_TRUE(WaitForStops(2));
    Settle();
    EXPECT_EQ(stops, 2);
    EXPECT_EQ(sink.Data(), Pattern(4 * Buffer));
}

TEST_F(TriggerChain, PausedTriggerStopsAtOnce) {
    UseSource(40 * Buffer);
    trigger.StartDevice();
    ASSERT_TRUE(WaitUntil([&] { return sink.Pushes() >= 1; }));
    trigger.PauseDevice();
    trigger.StopDevice();
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(trigger.IsPaused());
    const int pushes = sink.Pushes();
    Settle();
    EXPECT_EQ(sink.Pushes(), pushes);
}

TEST_F(TriggerChain, CloseDuringABufferReturnsClosed) {
    UseSource(4 * Buffer);
    HeldFirstPush held;
    held.Arm(sink);
    trigger.StartDevice();
    ASSERT_TRUE(held.WaitEntered());
    trigger.CloseDevice();
    EXPECT_TRUE(held.servedInsideCall);
    EXPECT_FALSE(trigger.IsOpened());
    EXPECT_FALSE(sink.IsOpened());
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(sink.Pushes(), 1);
}

TEST_F(TriggerChain, StopAskedInsideASynchronizedPushCompletesThroughTheStopMessage) {
    UseSource(4 * Buffer);
    trigger.SetSynchronize(true);
    std::atomic<bool> pendingInside{false}, startedInside{false};
    sink.duringPush = [&](int push, PWaveHdr) {
        if (push != 1) return;
        trigger.StopDevice();
        pendingInside = trigger.StopPending();
        startedInside = trigger.IsStarted();
    };
    trigger.StartDevice();
    ASSERT_TRUE(WaitForStops(1));
    Settle();
    EXPECT_TRUE(pendingInside);
    EXPECT_TRUE(startedInside);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(sink.Pushes(), 2);
    EXPECT_FALSE(trigger.StopPending());
}

TEST_F(TriggerChain, ErrorsWhileProcessingGoToOnErrorExThenToTheErrorHandler) {
    enum Fault { SourceHiccup, SinkThrows };
    struct Case {
        Fault fault;
        bool handled;
    };
    for (const Case c : {Case{SourceHiccup, false}, Case{SourceHiccup, true}, Case{SinkThrows, false},
                         Case{SinkThrows, true}}) {
        SCOPED_TRACE(testing::Message() << (c.fault == SourceHiccup ? "hiccup" : "sink") << " handled "
                                        << c.handled);
        trigger.CloseDevice();
        errors = errorsEx = stops = closes = 0;
        const auto reportsBefore = services.errors->Messages().size();
        const auto dataBefore = sink.Data().size();
        UseSource(4 * Buffer);
        handleErrors = c.handled;
        if (c.fault == SourceHiccup) {
            source->hiccupAt = 1; // the second pull brings nothing yet says "more"
            sink.duringPush = nullptr;
        } else {
            sink.duringPush = [thrown = std::make_shared<std::atomic<bool>>(false)](int push, PWaveHdr) {
                if (push >= 1 && !thrown->exchange(true)) throw EMMDSPError("disk full");
            };
        }
        trigger.StartDevice();
        const std::string expected = c.fault == SourceHiccup ? "Error filling wave buffer" : "disk full";
        if (c.handled) {
            ASSERT_TRUE(WaitForStops(1));
            const auto data = sink.Data();
            // Nothing is lost: a handled failed push is pushed again.
            EXPECT_EQ(std::vector<uint8_t>(data.begin() + dataBefore, data.end()), Pattern(4 * Buffer));
            EXPECT_EQ(services.errors->Messages().size(), reportsBefore);
            EXPECT_TRUE(trigger.IsOpened());
        } else {
            ASSERT_TRUE(WaitUntil([&] { return closes >= 1; }));
            const auto reports = services.errors->Messages();
            ASSERT_EQ(reports.size(), reportsBefore + 1);
            EXPECT_EQ(reports.back(), expected);
            EXPECT_FALSE(trigger.IsOpened());
        }
        EXPECT_EQ(errors, 1);
        EXPECT_EQ(errorsEx, 1);
    }
}

TEST_F(TriggerChain, DestroyingARunningTriggerStopsItsThreadFirst) {
    for (const bool synchronize : {false, true}) {
        UseSource(1000 * Buffer);
        auto running = std::make_unique<TMMTrigger>();
        running->SetSynchronize(synchronize);
        running->SetBufferSize(Buffer);
        trigger.SetInput(nullptr);
        trigger.SetOutput(nullptr);
        source->SetOutput(running.get());
        source->SetPWaveFormat(&cd);
        running->SetOutput(&sink);
        running->StartDevice();
        const int before = sink.Pushes();
        ASSERT_TRUE(WaitUntil([&] { return sink.Pushes() >= before + 2; }));
        running.reset();
        const int after = sink.Pushes();
        Settle();
        EXPECT_EQ(sink.Pushes(), after);
        EXPECT_FALSE(sink.IsOpened());
    }
}

TEST_F(TriggerChain, PushesFromUpstreamAreDropped) {
    UseSource(Buffer);
    trigger.OpenDevice();
    Push(trigger, Pattern(100));
    EXPECT_EQ(sink.Pushes(), 0);
}

} // namespace
