// Layout A: module 0 halves every sample; module 1 fails to initialise.
#include "TestPlugin.h"

static TestPluginLog logA;

static int32_t init(DSPModuleA* m) {
    ++logA.inits;
    logA.rate = m->sRate;
    logA.channels = m->nCh;
    logA.frames = m->framesPerBuffer;
    logA.parent = m->hwndParent;
    return 0;
}
static int32_t restart(DSPModuleA* m) {
    ++logA.restarts;
    logA.frames = m->framesPerBuffer;
    return 0;
}
static void process(DSPModuleA* m, int16_t* s) {
    ++logA.processes;
    for (int i = 0; i < m->framesPerBuffer * m->nCh; ++i) s[i] = static_cast<int16_t>(s[i] / 2);
}
static void quit(DSPModuleA*) { ++logA.quits; }
static int32_t refuse(DSPModuleA*) { return 1; }

static DSPModuleA halve = {"Halve", nullptr, nullptr, 0, 0, 0, nullptr, init, restart, process,
                           nullptr, nullptr, quit, nullptr};
static DSPModuleA broken = {"Broken", nullptr, nullptr, 0, 0, 0, nullptr, refuse, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr};

static void* getModule(int32_t i) { return i == 0 ? static_cast<void*>(&halve) : i == 1 ? &broken : nullptr; }
static DSPPluginHeader header = {DSP_PLUGIN_VERSION, "Test layout A", getModule};

TEST_EXPORT DSPPluginHeader* winampDSPGetHeader() { return &header; }
TEST_EXPORT TestPluginLog* testPluginLog() { return &logA; }
