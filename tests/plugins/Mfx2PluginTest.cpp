// dsp_mfx2.so, the second plug-in: a layout-B bass boost and stereo widener in the real host.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>

#include "PluginTestSupport.h"

namespace {

constexpr int Rate = 44100;

Samples Processed(Samples in, int channels = 2) {
    PluginRunner runner(Mfx2Library(), Rate, channels, 1024);
    runner.Init();
    return runner.Processed(std::move(in)); // throws when the frame count changes
}

TEST(Mfx2Plugin, IsOneLayoutBModule) {
    TMMDSPPlugin host;
    ASSERT_TRUE(host.LoadPlugIn(Mfx2Library()));
    EXPECT_TRUE(host.PlugIn()->LayoutB);
    EXPECT_EQ(host.PlugIn()->Count, 1);
    EXPECT_EQ(host.PlugIn()->Description, "Tonalis Multi-Effect");
}

TEST(Mfx2Plugin, BoostsTheBassAndWidensTheSide) {
    const auto gainDb = [](const Samples& in, const Samples& out, int channel) {
        return RmsDb(out, 2, channel, Rate / 2, Rate) - RmsDb(in, 2, channel, Rate / 2, Rate);
    };
    const Samples bass = Tone(30, -20, 1, Rate, 2);
    EXPECT_NEAR(gainDb(bass, Processed(bass), 0), 4.0, 0.3);
    const Samples treble = Tone(5000, -20, 1, Rate, 2);
    EXPECT_NEAR(gainDb(treble, Processed(treble), 0), 0.0, 0.05);

    Samples side = treble;
    for (size_t f = 0; f < side.size() / 2; ++f) side[2 * f + 1] = static_cast<int16_t>(-side[2 * f]);
    EXPECT_NEAR(gainDb(side, Processed(side), 0), 20 * std::log10(1.3), 0.05);

    const Samples mono = Tone(5000, -20, 1, Rate, 1);
    const Samples out = Processed(mono, 1);
    EXPECT_NEAR(RmsDb(out, 1, 0, Rate / 2, Rate), RmsDb(mono, 1, 0, Rate / 2, Rate), 0.05);
}

TEST(Mfx2Plugin, FullScaleBassBendsInsteadOfClipping) {
    const Samples square = Sox("synth 2 square 50", Rate, 2);
    const Samples out = Processed(square);
    EXPECT_LT(PeakValue(out), 32767);
    EXPECT_GT(PeakValue(out), 30000);
}

TEST(Mfx2Plugin, ReturnsTheFramesItGotAndLeavesOtherSampleSizesAlone) {
    void* lib = dlopen(Mfx2Library().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto get = reinterpret_cast<DSPPluginGetHeader>(dlsym(lib, "winampDSPGetHeader2"));
    ASSERT_NE(get, nullptr);
    EXPECT_GT(get()->version, 15);
    auto* module = static_cast<DSPModuleB*>(get()->getModule(0));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(get()->getModule(1), nullptr);
    ASSERT_EQ(module->Init(module), 0);
    Samples data = Tone(50, -6, 0.1, Rate, 2);
    const Samples original = data;
    EXPECT_EQ(module->ProcessSamples(module, data.data(), 1000, 8, 2, Rate), 1000);
    EXPECT_EQ(data, original);
    for (int frames : {0, 1, 333}) EXPECT_EQ(module->ProcessSamples(module, data.data(), frames, 16, 2, Rate), frames);
    module->Quit(module);
    dlclose(lib);
}

} // namespace
