// The ALSA back end through the private sound environment: unpaced file/null PCMs for exact data
// paths, paced PulseAudio null sinks (and their monitors) for timing and real recording.

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "SoundEnvironment.h"
#include "WaveEvents.h"
#include "devices/alsa/AlsaWaveService.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

double msSince(Clock::time_point start, Clock::time_point at) {
    return std::chrono::duration<double, std::milli>(at - start).count();
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void fillTone(std::vector<uint8_t>& data, uint64_t firstFrame, double hz, double amplitude, unsigned rate) {
    auto* samples = reinterpret_cast<int16_t*>(data.data());
    const size_t frames = data.size() / 4;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(firstFrame + i) / rate;
        const auto v = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * t)));
        samples[2 * i] = v;
        samples[2 * i + 1] = v;
    }
}

class AlsaWaveServiceTest : public ::testing::Test {
protected:
    void SetUp() override { TONALIS_NEEDS_SOUND_ENV(); }

    void TearDown() override {
        for (WaveHandle handle : handles_) {
            service.Reset(handle);
            service.Close(handle);
        }
    }

    // Lists exactly these PCMs as the devices of both directions.
    void useDevices(const std::string& list) { devices_.emplace("TONALIS_ALSA_DEVICES", list); }

    WaveHandle open(WaveDirection direction, const WAVEFORMATEX& format, TMMDeviceId id = 0) {
        WaveHandle handle = NoWaveHandle;
        const MMRESULT result =
            service.Open(direction, id, &format, WaveEvents::Callback, &events, 0, handle);
        EXPECT_EQ(result, MMSYSERR_NOERROR) << WaveErrorMessage(service, result);
        if (result == MMSYSERR_NOERROR) handles_.push_back(handle);
        return handle;
    }

    void queueAll(WaveHandle handle, TestBuffers& buffers) {
        for (int i = 0; i < buffers.Count(); ++i) {
            ASSERT_EQ(service.Prepare(handle, buffers[i]), MMSYSERR_NOERROR);
            ASSERT_EQ(service.Queue(handle, buffers[i]), MMSYSERR_NOERROR);
        }
    }

    uint32_t samples(WaveHandle handle) {
        WavePosition position;
        EXPECT_EQ(service.GetPosition(handle, position), MMSYSERR_NOERROR);
        EXPECT_EQ(position.unit, WaveTimeUnit::Samples);
        return position.value;
    }

    void closeHandle(WaveHandle handle) {
        ASSERT_EQ(service.Close(handle), MMSYSERR_NOERROR);
        std::erase(handles_, handle);
    }

    AlsaWaveService service;
    WaveEvents events;

private:
    std::vector<WaveHandle> handles_;
    std::optional<ScopedEnv> devices_;
};

// ---- devices -----------------------------------------------------------------------------------

TEST_F(AlsaWaveServiceTest, ListsOverriddenDevicesWithTheirHintDescriptions) {
    useDevices("tonalis_a; tonalis_file:FILE=/dev/null ;tonalis_missing");
    ScopedEnv mapper("TONALIS_ALSA_DEFAULT", "tonalis_b");
    for (WaveDirection direction : {WaveDirection::In, WaveDirection::Out}) {
        ASSERT_EQ(service.DeviceCount(direction), 3);
        const std::vector<std::pair<TMMDeviceId, std::string>> expected = {
            {MapperId, "Tonalis test sink B"},
            {0, "Tonalis test sink A"},
            {1, "Tonalis test file"},
            {2, "tonalis_missing"},
        };
        for (const auto& [id, name] : expected) {
            WaveDeviceCaps caps;
            ASSERT_EQ(service.GetCaps(direction, id, caps), MMSYSERR_NOERROR) << id;
            EXPECT_EQ(caps.productName, name);
        }
        EXPECT_EQ(service.PcmName(direction, 1), "tonalis_file:FILE=/dev/null");
        WaveDeviceCaps caps;
        EXPECT_EQ(service.GetCaps(direction, 3, caps), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(service.GetCaps(direction, -2, caps), MMSYSERR_BADDEVICEID);
    }
    WaveDeviceCaps caps;
    ASSERT_EQ(service.GetCaps(WaveDirection::In, 0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.formats, WAVE_FORMAT_ALL_STANDARD); // the pulse plug-in converts everything
}

TEST_F(AlsaWaveServiceTest, DirectionOverridesWinAndAnEmptyListHasNoDevicesNorMapper) {
    useDevices("tonalis_a;tonalis_b");
    ScopedEnv inputs("TONALIS_ALSA_INPUTS", "tonalis_c");
    ScopedEnv outputs("TONALIS_ALSA_OUTPUTS", "");
    EXPECT_EQ(service.DeviceCount(WaveDirection::In), 1);
    EXPECT_EQ(service.PcmName(WaveDirection::In, 0), "tonalis_c");
    EXPECT_EQ(service.DeviceCount(WaveDirection::Out), 0);
    WaveDeviceCaps caps;
    EXPECT_EQ(service.GetCaps(WaveDirection::Out, MapperId, caps), MMSYSERR_BADDEVICEID);
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    WaveHandle handle = NoWaveHandle;
    EXPECT_EQ(service.Open(WaveDirection::Out, MapperId, &format, WaveEvents::Callback, &events, 0, handle),
              MMSYSERR_BADDEVICEID);
}

TEST_F(AlsaWaveServiceTest, ListsTheSoundServerFirstAndNeverTheAliases) {
    ScopedEnv none("TONALIS_ALSA_DEVICES", std::nullopt);
    ScopedEnv noIn("TONALIS_ALSA_INPUTS", std::nullopt);
    ScopedEnv noOut("TONALIS_ALSA_OUTPUTS", std::nullopt);
    for (WaveDirection direction : {WaveDirection::In, WaveDirection::Out}) {
        const int count = service.DeviceCount(direction);
        ASSERT_GE(count, 1);
        EXPECT_EQ(service.PcmName(direction, 0), "pulse");
        for (TMMDeviceId id = 0; id < count; ++id) {
            const std::string pcm = service.PcmName(direction, id);
            EXPECT_TRUE(pcm == "pulse" || pcm == "pipewire" || pcm.rfind("plughw:CARD=", 0) == 0) << pcm;
        }
        EXPECT_EQ(service.PcmName(direction, MapperId), "default");
    }
}

// ---- errors ------------------------------------------------------------------------------------

TEST_F(AlsaWaveServiceTest, FailuresCarryAlsaTextsAndUnknownCodesFallBack) {
    useDevices("tonalis_missing;tonalis_a");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    WaveHandle handle = NoWaveHandle;
    const MMRESULT result =
        service.Open(WaveDirection::Out, 0, &format, WaveEvents::Callback, &events, 0, handle);
    ASSERT_GT(result, WaveDriverErrorBase);
    EXPECT_EQ(handle, NoWaveHandle);
    EXPECT_EQ(WaveErrorMessage(service, result),
              snd_strerror(-static_cast<int>(result - WaveDriverErrorBase)));
    EXPECT_EQ(service.QueryFormat(WaveDirection::In, 0, &format), result);
    EXPECT_EQ(events.All().size(), 0u);

    EXPECT_EQ(WaveErrorMessage(service, WAVERR_BADFORMAT), "The device cannot use this wave format");
    EXPECT_EQ(WaveErrorMessage(service, 77), WaveUnknownErrorText);
    std::string text;
    EXPECT_EQ(service.ErrorText(77, text), MMSYSERR_BADERRNUM);

    WAVEFORMATEX wide = PcmBuildFormat(16, 2, 44100);
    wide.nChannels = 64;
    wide.nBlockAlign = 128;
    EXPECT_EQ(service.QueryFormat(WaveDirection::Out, 1, &wide), WAVERR_BADFORMAT);
    WAVEFORMATEX compressed = format;
    compressed.wFormatTag = 2;
    EXPECT_EQ(service.QueryFormat(WaveDirection::Out, 1, &compressed), WAVERR_BADFORMAT);
    EXPECT_EQ(service.Open(WaveDirection::Out, 1, &compressed, WaveEvents::Callback, &events, 0, handle),
              WAVERR_BADFORMAT);
    EXPECT_EQ(service.QueryFormat(WaveDirection::Out, 1, &format), MMSYSERR_NOERROR);
    EXPECT_EQ(service.QueryFormat(WaveDirection::Out, 2, &format), MMSYSERR_BADDEVICEID);

    WavePosition position;
    EXPECT_EQ(service.GetPosition(12345, position), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(service.Close(12345), MMSYSERR_INVALHANDLE);
}

TEST_F(AlsaWaveServiceTest, BufferRulesAndOperationsOfTheOtherDirection) {
    useDevices("tonalis_a");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle out = open(WaveDirection::Out, format);
    TestBuffers buffers(2, 44100 * 4); // a second each
    EXPECT_EQ(service.Queue(out, buffers[0]), WAVERR_UNPREPARED);
    ASSERT_EQ(service.Prepare(out, buffers[0]), MMSYSERR_NOERROR);
    ASSERT_EQ(service.Queue(out, buffers[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(service.Queue(out, buffers[0]), WAVERR_STILLPLAYING);
    EXPECT_EQ(service.Unprepare(out, buffers[0]), WAVERR_STILLPLAYING);
    EXPECT_EQ(service.Close(out), WAVERR_STILLPLAYING);
    EXPECT_EQ(service.Start(out), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(service.Stop(out), MMSYSERR_NOTSUPPORTED);
    ASSERT_EQ(service.Reset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(LoadBufferFlags(buffers[0]), WHDR_DONE | WHDR_PREPARED);
    EXPECT_EQ(service.Unprepare(out, buffers[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(LoadBufferFlags(buffers[0]), WHDR_DONE);

    const WaveHandle in = open(WaveDirection::In, format);
    EXPECT_EQ(service.Pause(in), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(service.Restart(in), MMSYSERR_NOTSUPPORTED);
}

// ---- playback through the unpaced file PCM ---------------------------------------------------

struct FileCase {
    int bits, channels;
    uint32_t rate;
};

class AlsaFilePlaybackTest : public AlsaWaveServiceTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(AlsaFilePlaybackTest, PlaysBuffersInOrderIntoTheFileByteForByte) {
    const FileCase c = GetParam();
    const std::string path = SoundEnvironment::Dir() + "/play-" + std::to_string(c.bits) + "-" +
                             std::to_string(c.channels) + "-" + std::to_string(c.rate) + ".raw";
    useDevices("tonalis_file:FILE=" + path);
    const WAVEFORMATEX format = PcmBuildFormat(c.bits, c.channels, c.rate);
    const WaveHandle handle = open(WaveDirection::Out, format);
    ASSERT_NE(handle, NoWaveHandle);

    // Sizes that are not multiples of the period, and one buffer shorter than a period.
    const int count = 10;
    const uint32_t frames = 1000 + 37;
    TestBuffers buffers(count, frames * format.nBlockAlign);
    std::vector<uint8_t> expected;
    for (int i = 0; i < count; ++i) {
        auto& data = buffers.Data(i);
        for (size_t b = 0; b < data.size(); ++b)
            data[b] = static_cast<uint8_t>(i * 37 + b * 7 + b / 251);
        if (i == 4) buffers[i]->dwBufferLength = 3 * format.nBlockAlign;
        expected.insert(expected.end(), data.begin(), data.begin() + buffers[i]->dwBufferLength);
    }
    queueAll(handle, buffers);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, count, 5s));

    const auto done = events.Of(WaveMessage::Done);
    ASSERT_EQ(done.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(done[i].buffer, buffers[i]) << i;
        EXPECT_EQ(done[i].handle, handle);
        EXPECT_EQ(LoadBufferFlags(buffers[i]), WHDR_DONE | WHDR_PREPARED) << i;
    }
    const uint32_t total = static_cast<uint32_t>(expected.size() / format.nBlockAlign);
    EXPECT_EQ(samples(handle), total);
    WavePosition bytes{WaveTimeUnit::Bytes, 0};
    ASSERT_EQ(service.GetPosition(handle, bytes), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes.unit, WaveTimeUnit::Bytes);
    EXPECT_EQ(bytes.value, expected.size());

    closeHandle(handle);
    const auto all = events.All();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all.front().kind, WaveMessage::Open);
    EXPECT_EQ(all.back().kind, WaveMessage::Close);
    const std::vector<uint8_t> written = readFile(path);
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, AlsaFilePlaybackTest,
                         ::testing::Values(FileCase{16, 2, 44100}, FileCase{8, 1, 8000},
                                           FileCase{16, 1, 22050}, FileCase{24, 2, 48000},
                                           FileCase{8, 2, 96000}));

TEST_F(AlsaWaveServiceTest, ResetSetsThePositionBackAndPlayingGoesOn) {
    const std::string path = SoundEnvironment::Dir() + "/reset.raw";
    useDevices("tonalis_file:FILE=" + path);
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::Out, format);
    TestBuffers buffers(3, 4000);
    queueAll(handle, buffers);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 3, 5s));
    EXPECT_EQ(samples(handle), 3000u);
    ASSERT_EQ(service.Reset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(samples(handle), 0u);
    ASSERT_EQ(service.Queue(handle, buffers[0]), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 4, 5s));
    EXPECT_EQ(samples(handle), 1000u);
}

// Notifications may call back into the service: queueing and position run inline on the
// service's thread, closing is refused there.
TEST_F(AlsaWaveServiceTest, CallbacksMayQueueAndAskThePositionButNotClose) {
    useDevices("tonalis_null");
    static AlsaWaveService* current;
    static std::atomic<int> requeued;
    static std::atomic<MMRESULT> closeResult;
    static std::atomic<uint32_t> lastPosition;
    current = &service;
    requeued = 0;
    closeResult = MMSYSERR_NOERROR;
    events.onEvent = [](WaveHandle handle, WaveMessage kind, WAVEHDR* buffer) {
        if (kind != WaveMessage::Done) return;
        WavePosition position;
        if (current->GetPosition(handle, position) == MMSYSERR_NOERROR) lastPosition = position.value;
        if (requeued < 20) {
            ++requeued;
            current->Queue(handle, buffer);
        } else if (requeued == 20) {
            ++requeued;
            closeResult = current->Close(handle);
        }
    };
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::Out, format);
    TestBuffers buffers(2, 400);
    queueAll(handle, buffers);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 22, 5s));
    EXPECT_EQ(closeResult.load(), MMSYSERR_HANDLEBUSY);
    EXPECT_GE(lastPosition.load(), 20u * 100);
}

// ---- recording through the unpaced file PCM ---------------------------------------------------

TEST_F(AlsaWaveServiceTest, RecordsTheSourceIntoFullBuffersInOrder) {
    const std::string source = SoundEnvironment::Dir() + "/record-source.raw";
    std::vector<uint8_t> known(6 * 4096);
    for (size_t i = 0; i < known.size(); ++i)
        known[i] = static_cast<uint8_t>(i * 13 + i / 509);
    std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(known.data()), known.size());
    useDevices("tonalis_file:FILE=/dev/null,INFILE=" + source);
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::In, format);
    TestBuffers buffers(4, 4096);
    queueAll(handle, buffers);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(events.Count(WaveMessage::Done), 0) << "nothing is recorded before Start";
    ASSERT_EQ(service.Start(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 4, 5s));
    const auto done = events.Of(WaveMessage::Done);
    std::vector<uint8_t> recorded;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(done[i].buffer, buffers[i]);
        EXPECT_EQ(done[i].bytesRecorded, 4096u);
        recorded.insert(recorded.end(), buffers.Data(i).begin(), buffers.Data(i).end());
    }
    EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), known.begin()));
    ASSERT_EQ(service.Stop(handle), MMSYSERR_NOERROR);
    EXPECT_GE(samples(handle), 4u * 1024) << "data with no buffer queued is dropped but counted";
    ASSERT_EQ(service.Reset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(samples(handle), 0u);
}

// ---- paced PulseAudio null sinks -------------------------------------------------------------

TEST_F(AlsaWaveServiceTest, DoneArrivesWhenTheBufferHasBeenHeard) {
    useDevices("tonalis_a");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::Out, format);
    const int count = 8;
    TestBuffers buffers(count, 4410 * 4); // 100 ms each
    const auto start = Clock::now();
    queueAll(handle, buffers);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, count, 5s));
    const auto done = events.Of(WaveMessage::Done);
    double worstSpacing = 0;
    for (int i = 0; i < count; ++i) {
        const double at = msSince(start, done[i].at);
        const double due = 100.0 * (i + 1);
        EXPECT_GT(at, due - 15) << "buffer " << i << " came back before it could have been heard";
        EXPECT_LT(at, due + 400) << "buffer " << i;
        if (i > 0)
            worstSpacing = std::max(worstSpacing, std::abs(msSince(done[i - 1].at, done[i].at) - 100.0));
    }
    std::printf("[ figure ] paced sink: first done %.1f ms after queueing 100 ms of audio; later ones 100 ms "
                "apart within %.1f ms\n",
                msSince(start, done[0].at), worstSpacing);
    const uint32_t heard = samples(handle);
    EXPECT_EQ(heard, static_cast<uint32_t>(count * 4410));
}

TEST_F(AlsaWaveServiceTest, ResetReturnsEveryQueuedBufferBeforeItReturns) {
    useDevices("tonalis_a");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::Out, format);
    TestBuffers buffers(8, 8192);
    queueAll(handle, buffers);
    std::this_thread::sleep_for(120ms);
    const uint32_t before = samples(handle);
    EXPECT_GT(before, 0u);
    EXPECT_LT(before, 8u * 2048);
    const auto start = Clock::now();
    ASSERT_EQ(service.Reset(handle), MMSYSERR_NOERROR);
    const double took = msSince(start, Clock::now());
    const auto done = events.Of(WaveMessage::Done);
    ASSERT_EQ(done.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(done[i].buffer, buffers[i]);
        EXPECT_TRUE(BufferIsDone(buffers[i]));
    }
    std::printf("[ figure ] reset with 8 buffers queued: %.2f ms\n", took);
    EXPECT_EQ(samples(handle), 0u);

    // The stream plays again after the reset.
    ASSERT_EQ(service.Queue(handle, buffers[0]), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 9, 3s));
    EXPECT_EQ(samples(handle), 2048u);
}

TEST_F(AlsaWaveServiceTest, PauseHoldsPlaybackAndRestartGoesOn) {
    useDevices("tonalis_a");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::Out, format);
    TestBuffers buffers(5, 4410 * 4);
    queueAll(handle, buffers);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 1, 2s));
    ASSERT_EQ(service.Pause(handle), MMSYSERR_NOERROR);
    const int doneAtPause = events.Count(WaveMessage::Done);
    const uint32_t atPause = samples(handle);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(events.Count(WaveMessage::Done), doneAtPause);
    EXPECT_EQ(samples(handle), atPause);
    EXPECT_LT(doneAtPause, 5);
    ASSERT_EQ(service.Restart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 5, 3s));
    EXPECT_EQ(samples(handle), 5u * 4410);
}

TEST_F(AlsaWaveServiceTest, BuffersQueuedWhilePausedWaitForRestart) {
    useDevices("tonalis_a");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::Out, format);
    ASSERT_EQ(service.Pause(handle), MMSYSERR_NOERROR);
    TestBuffers buffers(3, 2048);
    queueAll(handle, buffers);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(events.Count(WaveMessage::Done), 0);
    EXPECT_EQ(samples(handle), 0u);
    const auto start = Clock::now();
    ASSERT_EQ(service.Restart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 3, 2s));
    EXPECT_GT(msSince(start, events.Of(WaveMessage::Done).back().at), 3 * 512 * 1000.0 / 44100 - 10);
}

// A sound shorter than a period never reaches the start threshold, and an idle stream underruns;
// both must still play.
TEST_F(AlsaWaveServiceTest, ShortSoundsPlayAndAnIdleStreamPlaysAgain) {
    useDevices("tonalis_a");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::Out, format);
    TestBuffers buffers(2, 64 * 4);
    queueAll(handle, buffers);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 2, 2s));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(service.Queue(handle, buffers[0]), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 3, 2s));
    EXPECT_EQ(samples(handle), 3u * 64);
}

TEST_F(AlsaWaveServiceTest, RecordsFromTheMonitorWhatWasPlayedIntoTheSink) {
    useDevices("tonalis_b");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle in = open(WaveDirection::In, format);
    const int recordBuffers = 16;
    TestBuffers recorded(recordBuffers, 4410 * 4); // 1.6 s
    queueAll(in, recorded);
    ASSERT_EQ(service.Start(in), MMSYSERR_NOERROR);

    const WaveHandle out = open(WaveDirection::Out, format);
    const double hz = 1000, amplitude = 8000;
    TestBuffers tone(10, 4410 * 4); // 1 s
    for (int i = 0; i < 10; ++i)
        fillTone(tone.Data(i), static_cast<uint64_t>(i) * 4410, hz, amplitude, 44100);
    queueAll(out, tone);
    ASSERT_TRUE(events.WaitFor(WaveMessage::Done, 10 + recordBuffers, 6s));
    ASSERT_EQ(service.Stop(in), MMSYSERR_NOERROR);

    std::vector<int16_t> left;
    for (int i = 0; i < recordBuffers; ++i) {
        const auto* samples = reinterpret_cast<const int16_t*>(recorded.Data(i).data());
        for (uint32_t f = 0; f < recorded[i]->dwBytesRecorded / 4; ++f)
            left.push_back(samples[2 * f]);
    }
    // The loud part is the tone; measure its rate by zero crossings and its level by RMS.
    size_t first = 0, last = 0;
    for (size_t i = 0; i < left.size(); ++i)
        if (std::abs(left[i]) > amplitude / 2) {
            if (!first) first = i;
            last = i;
        }
    ASSERT_GT(last - first, 44100u * 8 / 10) << "the tone did not come back";
    int crossings = 0;
    double power = 0;
    for (size_t i = first + 1; i <= last; ++i) {
        crossings += (left[i - 1] < 0) != (left[i] < 0);
        power += static_cast<double>(left[i]) * left[i];
    }
    const double seconds = static_cast<double>(last - first) / 44100;
    EXPECT_NEAR(crossings / 2.0 / seconds, hz, hz * 0.01);
    const double rms = std::sqrt(power / static_cast<double>(last - first));
    EXPECT_NEAR(20 * std::log10(rms / (amplitude / std::sqrt(2.0))), 0.0, 0.5);
}

TEST_F(AlsaWaveServiceTest, StopOnAPacedInputReturnsThePartlyFilledBuffer) {
    useDevices("tonalis_c");
    const WAVEFORMATEX format = PcmBuildFormat(16, 2, 44100);
    const WaveHandle handle = open(WaveDirection::In, format);
    TestBuffers buffers(2, 44100 * 4);
    queueAll(handle, buffers);
    ASSERT_EQ(service.Start(handle), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(300ms);
    const uint32_t position = samples(handle);
    EXPECT_GT(position, 44100u / 10);
    EXPECT_LT(position, 44100u);
    ASSERT_EQ(service.Stop(handle), MMSYSERR_NOERROR);
    const auto done = events.Of(WaveMessage::Done);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].buffer, buffers[0]);
    EXPECT_GT(done[0].bytesRecorded, 0u);
    EXPECT_LT(done[0].bytesRecorded, 44100u * 4);
    EXPECT_EQ(done[0].bytesRecorded % 4, 0u);
    ASSERT_EQ(service.Reset(handle), MMSYSERR_NOERROR);
    ASSERT_EQ(events.Count(WaveMessage::Done), 2);
    EXPECT_EQ(buffers[1]->dwBytesRecorded, 0u);
}

} // namespace
