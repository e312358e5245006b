// Every call after Init throws, as a crashing plug-in written in C++ would.
#include "TestPlugin.h"

#include <stdexcept>

static int32_t init(DSPModuleA*) { return 0; }
static int32_t restart(DSPModuleA*) { return 0; }
static void process(DSPModuleA*, int16_t*) { throw std::runtime_error("plug-in failure"); }
static void quit(DSPModuleA*) { throw std::runtime_error("plug-in failure"); }

static DSPModuleA module = {"Thrower", nullptr, nullptr, 0, 0, 0, nullptr, init, restart, process,
                            nullptr, nullptr, quit, nullptr};
static void* getModule(int32_t i) { return i == 0 ? &module : nullptr; }
static DSPPluginHeader header = {DSP_PLUGIN_VERSION, "Thrower", getModule};

TEST_EXPORT DSPPluginHeader* winampDSPGetHeader() { return &header; }
