// The process-wide service selection and the buffer rules every back end shares.

#include <gtest/gtest.h>

#include "WaveEvents.h"
#include "devices/WaveBufferState.h"
#include "devices/alsa/AlsaWaveService.h"
#include "devices/testing/ScriptedWaveService.h"

namespace {

TEST(WaveServiceTest, DefaultIsAlsaUntilATestInstallsAnother) {
    const auto original = DefaultWaveService();
    EXPECT_NE(dynamic_cast<AlsaWaveService*>(original.get()), nullptr);
    EXPECT_EQ(DefaultWaveService(), original) << "one instance per process";

    auto scripted = std::make_shared<ScriptedWaveService>();
    SetDefaultWaveService(scripted);
    EXPECT_EQ(DefaultWaveService(), scripted);
    SetDefaultWaveService(nullptr);
    const auto restored = DefaultWaveService();
    EXPECT_NE(dynamic_cast<AlsaWaveService*>(restored.get()), nullptr);
    EXPECT_NE(restored, scripted);
}

TEST(WaveServiceTest, BufferFlagsFollowPrepareQueueAndFinish) {
    TestBuffers buffers(1, 16);
    WAVEHDR* buffer = buffers[0];
    buffer->dwBytesRecorded = 99;
    EXPECT_EQ(BeginQueuedBuffer(buffer, WaveDirection::Out), WAVERR_UNPREPARED);
    EXPECT_EQ(PrepareBuffer(buffer), MMSYSERR_NOERROR);
    EXPECT_EQ(PrepareBuffer(buffer), MMSYSERR_NOERROR);
    StoreBufferFlags(buffer, LoadBufferFlags(buffer) | WHDR_DONE);
    EXPECT_EQ(BeginQueuedBuffer(buffer, WaveDirection::In), MMSYSERR_NOERROR);
    EXPECT_EQ(LoadBufferFlags(buffer), WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(buffer->dwBytesRecorded, 0u) << "an input buffer starts empty";
    EXPECT_EQ(BeginQueuedBuffer(buffer, WaveDirection::In), WAVERR_STILLPLAYING);
    EXPECT_EQ(UnprepareBuffer(buffer), WAVERR_STILLPLAYING);
    FinishQueuedBuffer(buffer);
    EXPECT_EQ(LoadBufferFlags(buffer), WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(UnprepareBuffer(buffer), MMSYSERR_NOERROR);
    EXPECT_EQ(LoadBufferFlags(buffer), WHDR_DONE);

    WAVEHDR noData{};
    noData.dwBufferLength = 8;
    EXPECT_EQ(PrepareBuffer(&noData), MMSYSERR_INVALPARAM);
    EXPECT_EQ(PrepareBuffer(nullptr), MMSYSERR_INVALPARAM);
}

} // namespace
