#include <gtest/gtest.h>

#include <dlfcn.h>

#include <numeric>
#include <string>
#include <vector>

#include "dsp/plugin/MMDSPPlugin.h"
#include "plugins/TestPlugin.h"

namespace {

std::string pluginPath(const char* name) { return std::string(TEST_PLUGIN_DIR) + "/" + name + ".so"; }

// Keeps a test plug-in loaded so its recorded calls survive the host's load and unload.
struct PluginLog {
    explicit PluginLog(const char* name) : handle(dlopen(pluginPath(name).c_str(), RTLD_NOW)) {
        auto get = reinterpret_cast<TestPluginLog* (*)()>(dlsym(handle, "testPluginLog"));
        log = get ? get() : nullptr;
        if (log) *log = TestPluginLog{};
    }
    ~PluginLog() { dlclose(handle); }
    void* handle;
    TestPluginLog* log;
};

// A source handing out `buffers` buffers of a ramp, then the end.
struct RampSource : TMMDSPComponent {
    int buffers = 3;
    int16_t next = 0;
    RampSource() {
        OnBufferLoad = [this](TMMDSPComponent*, PWaveHdr h, bool& more) {
            if (buffers == 0) return;
            --buffers;
            auto* s = reinterpret_cast<int16_t*>(h->lpData);
            for (uint32_t i = 0; i < h->dwBufferLength / 2; ++i) s[i] = next++;
            h->dwBytesRecorded = h->dwBufferLength;
            more = buffers > 0;
        };
    }
};

struct Buffer {
    explicit Buffer(uint32_t bytes) : storage(sizeof(TMMAudioBuffer) + bytes) {
        header = reinterpret_cast<TMMAudioBuffer*>(storage.data());
        header->lpData = storage.data() + sizeof(TMMAudioBuffer);
        header->dwBufferLength = bytes;
    }
    int16_t* samples() { return reinterpret_cast<int16_t*>(header->lpData); }
    std::vector<uint8_t> storage;
    TMMAudioBuffer* header;
};

const WAVEFORMATEX stereo16 = PcmBuildFormat(16, 2, 44100);

TEST(PlugInLibrary, RefusedLibrariesLeaveNoPlugIn) {
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"no exports", pluginPath("no_exports")},
        {"version 15", pluginPath("bad_version")},
        {"missing file", "/nonexistent/dsp_none.so"},
    };
    for (const auto& c : cases) {
        TMMDSPPlugin host;
        EXPECT_FALSE(host.LoadPlugIn(c.path)) << c.name;
        EXPECT_FALSE(host.HasPlugin()) << c.name;
        try {
            host.SelectModule(0);
            ADD_FAILURE() << c.name;
        } catch (const EMMPlugInError& e) {
            EXPECT_STREQ(e.what(), "Invalid Module index");
        }
    }
}

TEST(PlugInLibrary, ListsAtMostOneHundredModules) {
    TMMDSPPlugin host;
    ASSERT_TRUE(host.LoadPlugIn(pluginPath("many_modules")));
    EXPECT_EQ(host.PlugIn()->Count, 100);
    EXPECT_EQ(host.PlugIn()->Modules[99].Name, "M099");
    EXPECT_EQ(host.PlugIn()->Description, "Many");
    EXPECT_NO_THROW(host.SelectModule(99));
    EXPECT_THROW(host.SelectModule(100), EMMPlugInError);
    EXPECT_THROW(host.SelectModule(-1), EMMPlugInError);
}

TEST(PlugInLibrary, FileNameIsUpperCasedButLoadsFromTheRealPath) {
    TMMDSPPlugin host;
    ASSERT_TRUE(host.LoadPlugIn(pluginPath("layout_a")));
    EXPECT_EQ(host.PlugIn()->FileName.find("LAYOUT_A.SO") != std::string::npos, true);
    host.SetBufferSize(1024);
    EXPECT_NO_THROW(host.InitModule());
    EXPECT_TRUE(host.ModuleActive());
}

TEST(PlugInHost, LayoutAWithoutFormatGets22050HzMono) {
    PluginLog a("layout_a");
    TMMDSPPlugin host;
    int parent = 0;
    host.ParentWindow = &parent;
    ASSERT_TRUE(host.LoadPlugIn(pluginPath("layout_a")));
    host.SetBufferSize(1000);
    host.InitModule();
    EXPECT_EQ(a.log->rate, 22050);
    EXPECT_EQ(a.log->channels, 1);
    EXPECT_EQ(a.log->frames, 500);
    EXPECT_EQ(a.log->parent, &parent);
    EXPECT_EQ(a.log->restarts, 1);
    host.QuitModule();
    EXPECT_FALSE(host.ModuleActive());
    EXPECT_EQ(a.log->quits, 1);
}

TEST(PlugInHost, FailingInitRaises) {
    TMMDSPPlugin host;
    ASSERT_TRUE(host.LoadPlugIn(pluginPath("layout_a")));
    host.SelectModule(1);
    try {
        host.InitModule();
        FAIL();
    } catch (const EMMPlugInError& e) {
        EXPECT_STREQ(e.what(), "Unable to initialise Module");
    }
}

TEST(PlugInHost, RefusesFormatsOtherThan16BitPcm) {
    TMMDSPPlugin host;
    const auto eight = PcmBuildFormat(8, 2, 44100);
    try {
        host.SetPWaveFormat(&eight);
        FAIL();
    } catch (const EMMPlugInError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    EXPECT_NO_THROW(host.SetPWaveFormat(nullptr));
    EXPECT_NO_THROW(host.SetPWaveFormat(&stereo16));
}

struct HostChain : ::testing::Test {
    RampSource source;
    TMMDSPPlugin host;
    void open(const char* plugin, uint32_t bufferSize) {
        source.SetPWaveFormat(&stereo16);
        source.SetOutput(&host);
        ASSERT_TRUE(host.LoadPlugIn(pluginPath(plugin)));
        host.SetBufferSize(static_cast<int32_t>(bufferSize));
        host.Opened();
        host.InitModule();
        host.Started();
    }
};

TEST_F(HostChain, PushProcessesInPlaceUnlessDisabled) {
    PluginLog a("layout_a");
    open("layout_a", 16);
    for (bool enabled : {true, false}) {
        host.Enabled = enabled;
        Buffer b(16);
        for (int i = 0; i < 8; ++i) b.samples()[i] = static_cast<int16_t>(100 * (i + 1));
        b.header->dwBytesRecorded = 16;
        host.BufferReady(b.header);
        EXPECT_EQ(b.header->dwBytesRecorded, 16u);
        EXPECT_EQ(b.samples()[7], enabled ? 400 : 800) << enabled;
    }
}

TEST_F(HostChain, ShortPushBufferIsProcessedThroughAScratchBlock) {
    PluginLog a("layout_a");
    open("layout_a", 64);
    Buffer b(8); // smaller than the 64-byte block the module expects
    for (int i = 0; i < 4; ++i) b.samples()[i] = 1000;
    b.header->dwBytesRecorded = 8;
    host.BufferReady(b.header);
    EXPECT_EQ(b.samples()[3], 500);
}

TEST_F(HostChain, LayoutBHalvingInPushAndPull) {
    PluginLog b("layout_b_half");
    open("layout_b_half", 16);
    Buffer push(16);
    push.header->dwBytesRecorded = 16;
    host.BufferReady(push.header);
    EXPECT_EQ(push.header->dwBytesRecorded, 8u);
    EXPECT_EQ(b.log->frames, 4);
    EXPECT_EQ(b.log->rate, 44100);

    // Pull: each upstream buffer of 4 frames leaves 2, so one caller buffer takes two loads.
    source.buffers = 10;
    source.next = 0;
    Buffer pull(16);
    bool more = false;
    host.BufferLoad(pull.header, more);
    EXPECT_EQ(pull.header->dwBytesRecorded, 16u);
    EXPECT_TRUE(more);
    EXPECT_EQ(source.buffers, 8);
    std::vector<int16_t> got(pull.samples(), pull.samples() + 8);
    EXPECT_EQ(got, (std::vector<int16_t>{0, 1, 2, 3, 8, 9, 10, 11}));
}

TEST_F(HostChain, PullRunsToTheEndOfTheSource) {
    PluginLog a("layout_a");
    open("layout_a", 16);
    source.buffers = 3;
    std::vector<int16_t> all;
    bool more = true;
    for (int guard = 0; more && guard < 10; ++guard) {
        Buffer pull(16);
        more = false;
        host.BufferLoad(pull.header, more);
        all.insert(all.end(), pull.samples(), pull.samples() + pull.header->dwBytesRecorded / 2);
    }
    EXPECT_FALSE(more);
    ASSERT_EQ(all.size(), 24u);
    EXPECT_EQ(all[23], 11); // 23 / 2 after the module halved it
}

TEST_F(HostChain, ThrowingPlugInLeavesAudioFlowing) {
    open("thrower", 16);
    Buffer b(16);
    for (int i = 0; i < 8; ++i) b.samples()[i] = 7;
    b.header->dwBytesRecorded = 16;
    host.BufferReady(b.header);
    EXPECT_EQ(b.header->dwBytesRecorded, 16u);
    EXPECT_EQ(b.samples()[0], 7);
    EXPECT_NO_THROW(host.UnloadPlugIn());
    EXPECT_FALSE(host.HasPlugin());
}

TEST_F(HostChain, InactiveModulePassesThrough) {
    PluginLog a("layout_a");
    open("layout_a", 16);
    host.QuitModule();
    source.buffers = 1;
    Buffer pull(16);
    bool more = false;
    host.BufferLoad(pull.header, more);
    EXPECT_EQ(pull.header->dwBytesRecorded, 16u);
    EXPECT_EQ(pull.samples()[7], source.next - 1); // unchanged
}

} // namespace
