// Layout B: keeps the first half of the frames it is given.
#include "TestPlugin.h"

static TestPluginLog logB;

static int32_t init(DSPModuleB*) {
    ++logB.inits;
    return 0;
}
static int32_t processSamples(DSPModuleB*, int16_t* s, int32_t frames, int32_t bits, int32_t channels, int32_t rate) {
    ++logB.processes;
    logB.rate = rate;
    logB.channels = channels;
    logB.frames = frames;
    (void)bits;
    (void)s;
    return frames / 2;
}
static void quit(DSPModuleB*) { ++logB.quits; }

static DSPModuleB half = {"Half", nullptr, nullptr, nullptr, init, processSamples, quit, nullptr};
static void* getModule(int32_t i) { return i == 0 ? &half : nullptr; }
static DSPPluginHeader header = {DSP_PLUGIN_VERSION, "Test layout B", getModule};

TEST_EXPORT DSPPluginHeader* winampDSPGetHeader2() { return &header; }
TEST_EXPORT TestPluginLog* testPluginLog() { return &logB; }
