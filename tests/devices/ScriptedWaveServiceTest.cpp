// The scripted back end: the clock drives playback and recording, failures and notifications
// are under the test's control. Component tests rely on each of these behaving exactly.

#include <gtest/gtest.h>

#include <thread>

#include "WaveEvents.h"
#include "devices/testing/ScriptedWaveService.h"

using namespace std::chrono_literals;
using Op = ScriptedWaveService::Operation;

namespace {

class ScriptedWaveServiceTest : public ::testing::Test {
protected:
    explicit ScriptedWaveServiceTest(
        ScriptedWaveService::ClockMode mode = ScriptedWaveService::ClockMode::Manual)
        : service(mode) {
        service.AddDevice(WaveDirection::Out, {"Speakers", 0x0102, WAVE_FORMAT_ALL_STANDARD, {}});
        service.AddDevice(WaveDirection::Out, {"Mono only", 0x0100, WAVE_FORMAT_1M08,
                                               [](const WAVEFORMATEX& f) { return f.nChannels == 1; }});
        service.AddDevice(WaveDirection::In, {"Line in", 0x0100, WAVE_FORMAT_4S16, {}});
    }

    WaveHandle open(WaveDirection direction, TMMDeviceId id = 0, uint32_t flags = 0) {
        WaveHandle handle = NoWaveHandle;
        EXPECT_EQ(service.Open(direction, id, &format, WaveEvents::Callback, &events, flags, handle),
                  MMSYSERR_NOERROR);
        return handle;
    }

    void queueAll(WaveHandle handle, TestBuffers& buffers) {
        for (int i = 0; i < buffers.Count(); ++i) {
            ASSERT_EQ(service.Prepare(handle, buffers[i]), MMSYSERR_NOERROR);
            ASSERT_EQ(service.Queue(handle, buffers[i]), MMSYSERR_NOERROR);
        }
    }

    uint32_t position(WaveHandle handle, WaveTimeUnit unit = WaveTimeUnit::Samples) {
        WavePosition p{unit, 0};
        EXPECT_EQ(service.GetPosition(handle, p), MMSYSERR_NOERROR);
        return p.value;
    }

    WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    WaveEvents events;
    ScriptedWaveService service;
};

TEST_F(ScriptedWaveServiceTest, DevicesCapsAndFormatsAreAsConfigured) {
    EXPECT_EQ(service.DeviceCount(WaveDirection::Out), 2);
    EXPECT_EQ(service.DeviceCount(WaveDirection::In), 1);
    WaveDeviceCaps caps;
    ASSERT_EQ(service.GetCaps(WaveDirection::Out, MapperId, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.productName, "Speakers");
    ASSERT_EQ(service.GetCaps(WaveDirection::In, 0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.formats, WAVE_FORMAT_4S16);
    EXPECT_EQ(service.GetCaps(WaveDirection::In, 1, caps), MMSYSERR_BADDEVICEID);

    EXPECT_EQ(service.QueryFormat(WaveDirection::Out, 0, &format), MMSYSERR_NOERROR);
    EXPECT_EQ(service.QueryFormat(WaveDirection::Out, 1, &format), WAVERR_BADFORMAT);
    WaveHandle handle = NoWaveHandle;
    EXPECT_EQ(service.Open(WaveDirection::Out, 1, &format, WaveEvents::Callback, &events, 0, handle),
              WAVERR_BADFORMAT);
    EXPECT_EQ(service.OpenHandleCount(), 0);

    handle = open(WaveDirection::Out, 0, WAVE_MAPPED);
    const auto calls = service.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().operation, Op::Open);
    EXPECT_EQ(calls.back().flags, WAVE_MAPPED);
    EXPECT_EQ(calls.back().handle, handle);
    EXPECT_EQ(events.Count(WaveMessage::Open), 1) << "Open returns after its notification";
    ASSERT_EQ(service.Close(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(events.Count(WaveMessage::Close), 1);
    EXPECT_EQ(service.Close(handle), MMSYSERR_INVALHANDLE);
}

TEST_F(ScriptedWaveServiceTest, TheClockPlaysBuffersAndReturnsEachWhenItsEndIsPassed) {
    const WaveHandle handle = open(WaveDirection::Out);
    TestBuffers buffers(3, 4410 * 4); // 100 ms each
    for (int i = 0; i < 3; ++i)
        std::fill(buffers.Data(i).begin(), buffers.Data(i).end(), uint8_t(i + 1));
    queueAll(handle, buffers);
    service.AdvanceClock(99ms);
    EXPECT_EQ(events.Count(WaveMessage::Done), 0);
    EXPECT_EQ(position(handle), 4365u);
    service.AdvanceClock(1ms);
    ASSERT_EQ(events.Count(WaveMessage::Done), 1);
    EXPECT_EQ(events.Of(WaveMessage::Done)[0].buffer, buffers[0]);
    EXPECT_EQ(LoadBufferFlags(buffers[0]), WHDR_DONE | WHDR_PREPARED);
    EXPECT_EQ(service.QueuedCount(handle), 2);

    ASSERT_EQ(service.Pause(handle), MMSYSERR_NOERROR);
    service.AdvanceClock(500ms);
    EXPECT_EQ(events.Count(WaveMessage::Done), 1);
    EXPECT_EQ(position(handle), 4410u);
    ASSERT_EQ(service.Restart(handle), MMSYSERR_NOERROR);
    service.AdvanceClock(300ms);
    ASSERT_EQ(events.Count(WaveMessage::Done), 3);
    EXPECT_EQ(position(handle), 3u * 4410) << "idle time after the last buffer is not played";
    EXPECT_EQ(position(handle, WaveTimeUnit::Bytes), 3u * 4410 * 4);

    std::vector<uint8_t> expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), buffers.Data(i).begin(), buffers.Data(i).end());
    ASSERT_EQ(service.Close(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(service.Played(handle) == expected);
}

TEST_F(ScriptedWaveServiceTest, ResetReturnsEveryBufferAndKeepsOnlyWhatWasHeard) {
    const WaveHandle handle = open(WaveDirection::Out);
    TestBuffers buffers(4, 4000);
    queueAll(handle, buffers);
    service.AdvanceClock(10ms); // 441 of the first buffer's 1000 frames
    EXPECT_EQ(service.Close(handle), WAVERR_STILLPLAYING);
    EXPECT_EQ(service.Unprepare(handle, buffers[1]), WAVERR_STILLPLAYING);
    ASSERT_EQ(service.Reset(handle), MMSYSERR_NOERROR);
    const auto done = events.Of(WaveMessage::Done);
    ASSERT_EQ(done.size(), 4u) << "Reset returns after the notifications";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(done[i].buffer, buffers[i]);
    EXPECT_EQ(position(handle), 0u);
    EXPECT_EQ(service.Played(handle).size(), 441u * 4);
    EXPECT_EQ(service.Close(handle), MMSYSERR_NOERROR);
}

TEST_F(ScriptedWaveServiceTest, RecordingFillsFromTheSourceAndStopReturnsThePartialBuffer) {
    const WaveHandle handle = open(WaveDirection::In);
    TestBuffers buffers(2, 441 * 4); // 10 ms each
    queueAll(handle, buffers);
    service.AdvanceClock(50ms);
    EXPECT_EQ(events.Count(WaveMessage::Done), 0) << "not started";
    ASSERT_EQ(service.Start(handle), MMSYSERR_NOERROR);
    service.AdvanceClock(15ms);
    ASSERT_EQ(events.Count(WaveMessage::Done), 1);
    EXPECT_EQ(buffers[0]->dwBytesRecorded, 441u * 4);
    for (size_t i = 0; i < buffers.Data(0).size(); ++i)
        ASSERT_EQ(buffers.Data(0)[i], uint8_t(i));
    ASSERT_EQ(service.Stop(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 2, 1s));
    EXPECT_EQ(buffers[1]->dwBytesRecorded, 220u * 4);
    EXPECT_EQ(buffers.Data(1)[0], uint8_t(441 * 4)) << "the stream goes on where the first buffer ended";
    EXPECT_EQ(position(handle), 661u);
    EXPECT_EQ(service.Pause(handle), MMSYSERR_NOTSUPPORTED);
}

TEST_F(ScriptedWaveServiceTest, PositionCanStartNearTheWrapAndAnswerInBytes) {
    service.SetPositionStart(0xFFFFFF00u);
    const WaveHandle handle = open(WaveDirection::Out);
    TestBuffers buffers(1, 4410 * 4);
    queueAll(handle, buffers);
    EXPECT_EQ(position(handle), 0xFFFFFF00u);
    service.AdvanceClock(10ms);
    EXPECT_EQ(position(handle), 441u - 0x100u);
    service.AnswerPositionIn(WaveTimeUnit::Bytes);
    WavePosition asked{WaveTimeUnit::Samples, 0};
    ASSERT_EQ(service.GetPosition(handle, asked), MMSYSERR_NOERROR);
    EXPECT_EQ(asked.unit, WaveTimeUnit::Bytes);
    EXPECT_EQ(asked.value, (441u - 0x100u) * 4);
}

struct FailureCase {
    Op operation;
    MMRESULT code;
};

class ScriptedFailureTest : public ScriptedWaveServiceTest,
                            public ::testing::WithParamInterface<FailureCase> {};

// An injected failure is returned once, changes nothing, and the next call works.
TEST_P(ScriptedFailureTest, InjectedFailureIsReturnedOnceWithoutEffect) {
    const auto [operation, code] = GetParam();
    const bool input = operation == Op::Start || operation == Op::Stop;
    const WaveDirection direction = input ? WaveDirection::In : WaveDirection::Out;
    TestBuffers buffers(1, 400);
    WaveHandle handle = NoWaveHandle;
    auto call = [&]() -> MMRESULT {
        WaveDeviceCaps caps;
        WavePosition position;
        std::string text;
        switch (operation) {
        case Op::Caps:
            return service.GetCaps(direction, 0, caps);
        case Op::QueryFormat:
            return service.QueryFormat(direction, 0, &format);
        case Op::Open:
            return service.Open(direction, 0, &format, WaveEvents::Callback, &events, 0, handle);
        case Op::Prepare:
            return service.Prepare(handle, buffers[0]);
        case Op::Unprepare:
            return service.Unprepare(handle, buffers[0]);
        case Op::Queue:
            return service.Queue(handle, buffers[0]);
        case Op::Start:
            return service.Start(handle);
        case Op::Stop:
            return service.Stop(handle);
        case Op::Pause:
            return service.Pause(handle);
        case Op::Restart:
            return service.Restart(handle);
        case Op::Reset:
            return service.Reset(handle);
        case Op::Close:
            return service.Close(handle);
        case Op::Position:
            return service.GetPosition(handle, position);
        case Op::ErrorText:
            return service.ErrorText(WAVERR_BADFORMAT, text);
        }
        return MMSYSERR_ERROR;
    };
    if (operation != Op::Open) handle = open(direction);
    if (operation == Op::Queue || operation == Op::Unprepare) {
        ASSERT_EQ(service.Prepare(handle, buffers[0]), MMSYSERR_NOERROR);
    }
    const int openBefore = service.OpenHandleCount();

    service.FailNext(operation, code);
    EXPECT_EQ(call(), code);
    EXPECT_EQ(service.OpenHandleCount(), openBefore);
    EXPECT_EQ(service.QueuedCount(handle), 0);
    if (operation == Op::Prepare) {
        EXPECT_EQ(LoadBufferFlags(buffers[0]), 0u);
    }
    EXPECT_EQ(call(), MMSYSERR_NOERROR);
    if (service.IsOpen(handle)) {
        service.Reset(handle);
        service.Close(handle);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryOperation, ScriptedFailureTest,
    ::testing::Values(FailureCase{Op::Caps, MMSYSERR_NODRIVER},
                      FailureCase{Op::QueryFormat, WAVERR_BADFORMAT},
                      FailureCase{Op::Open, MMSYSERR_ALLOCATED}, FailureCase{Op::Prepare, MMSYSERR_NOMEM},
                      FailureCase{Op::Unprepare, MMSYSERR_ERROR}, FailureCase{Op::Queue, MMSYSERR_ERROR},
                      FailureCase{Op::Start, MMSYSERR_ERROR}, FailureCase{Op::Stop, MMSYSERR_ERROR},
                      FailureCase{Op::Pause, MMSYSERR_ERROR}, FailureCase{Op::Restart, MMSYSERR_ERROR},
                      FailureCase{Op::Reset, MMSYSERR_ERROR}, FailureCase{Op::Close, MMSYSERR_ERROR},
                      FailureCase{Op::Position, MMSYSERR_ERROR},
                      FailureCase{Op::ErrorText, MMSYSERR_BADERRNUM}));

TEST_F(ScriptedWaveServiceTest, ErrorTextsAreScriptedAndUnknownOnesFallBack) {
    service.SetErrorText(WaveDriverErrorBase + 5, "Scripted failure");
    EXPECT_EQ(WaveErrorMessage(service, WaveDriverErrorBase + 5), "Scripted failure");
    EXPECT_EQ(WaveErrorMessage(service, WaveDriverErrorBase + 6), WaveUnknownErrorText);
    EXPECT_EQ(WaveErrorMessage(service, MMSYSERR_ALLOCATED), "The device is already in use");
    service.FailNext(Op::ErrorText, MMSYSERR_BADERRNUM, -1);
    EXPECT_EQ(WaveErrorMessage(service, MMSYSERR_ALLOCATED), WaveUnknownErrorText);
    EXPECT_EQ(WaveErrorMessage(service, MMSYSERR_ALLOCATED), WaveUnknownErrorText);
    service.ClearFailures();
    EXPECT_EQ(WaveErrorMessage(service, MMSYSERR_ALLOCATED), "The device is already in use");
}

TEST_F(ScriptedWaveServiceTest, WithheldNotificationsNeverComeUntilReleased) {
    service.Withhold(WaveMessage::Close);
    service.Withhold(WaveMessage::Done);
    const WaveHandle handle = open(WaveDirection::Out);
    TestBuffers buffers(2, 400);
    queueAll(handle, buffers);
    service.AdvanceClock(100ms);
    EXPECT_TRUE(BufferIsDone(buffers[0])) << "the buffer is back; only its notification is withheld";
    ASSERT_EQ(service.Close(handle), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(events.Count(WaveMessage::Done), 0);
    EXPECT_EQ(events.Count(WaveMessage::Close), 0);
    EXPECT_EQ(service.WithheldCount(), 3);
    service.ReleaseWithheld();
    service.WaitDelivered();
    const auto all = events.All();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[1].buffer, buffers[0]);
    EXPECT_EQ(all[2].buffer, buffers[1]);
    EXPECT_EQ(all[3].kind, WaveMessage::Close);
}

TEST_F(ScriptedWaveServiceTest, DelayedOpenNotificationArrivesAfterOpenReturns) {
    service.Delay(WaveMessage::Open, 100ms);
    const auto start = std::chrono::steady_clock::now();
    const WaveHandle handle = open(WaveDirection::Out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 90ms);
    EXPECT_EQ(events.Count(WaveMessage::Open), 0);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Open, 1, 2s));
    EXPECT_GE(events.Of(WaveMessage::Open)[0].at - start, 95ms);
    EXPECT_EQ(service.Close(handle), MMSYSERR_NOERROR);
}

TEST_F(ScriptedWaveServiceTest, NotificationsRunOnTheServiceThreadInOrder) {
    static std::thread::id caller;
    static std::atomic<bool> elsewhere{true};
    caller = std::this_thread::get_id();
    events.onEvent = [](WaveHandle, WaveMessage, WAVEHDR*) {
        if (std::this_thread::get_id() == caller) elsewhere = false;
    };
    const WaveHandle handle = open(WaveDirection::Out);
    TestBuffers buffers(20, 40);
    queueAll(handle, buffers);
    service.AdvanceClock(1s);
    const auto done = events.Of(WaveMessage::Done);
    ASSERT_EQ(done.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(done[i].buffer, buffers[i]);
    EXPECT_TRUE(elsewhere.load());
    EXPECT_EQ(service.Close(handle), MMSYSERR_NOERROR);
}

class InstantScriptedTest : public ScriptedWaveServiceTest {
protected:
    InstantScriptedTest() : ScriptedWaveServiceTest(ScriptedWaveService::ClockMode::Instant) {}
};

TEST_F(InstantScriptedTest, BuffersPlayAtOnceUnlessPaused) {
    const WaveHandle handle = open(WaveDirection::Out);
    ASSERT_EQ(service.Pause(handle), MMSYSERR_NOERROR);
    TestBuffers buffers(3, 4000);
    queueAll(handle, buffers);
    service.WaitDelivered();
    EXPECT_EQ(events.Count(WaveMessage::Done), 0);
    ASSERT_EQ(service.Restart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 3, 1s));
    EXPECT_EQ(position(handle), 3000u);
    EXPECT_EQ(service.Close(handle), MMSYSERR_NOERROR);
}

class RealTimeScriptedTest : public ScriptedWaveServiceTest {
protected:
    RealTimeScriptedTest() : ScriptedWaveServiceTest(ScriptedWaveService::ClockMode::RealTime) {}
};

TEST_F(RealTimeScriptedTest, BuffersComeBackAsRealTimePasses) {
    const WaveHandle handle = open(WaveDirection::Out);
    TestBuffers buffers(2, 2205 * 4); // 50 ms each
    const auto start = std::chrono::steady_clock::now();
    queueAll(handle, buffers);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 2, 2s));
    EXPECT_GE(events.Of(WaveMessage::Done)[1].at - start, 95ms);
    ASSERT_EQ(service.Close(handle), MMSYSERR_NOERROR);
}

} // namespace
