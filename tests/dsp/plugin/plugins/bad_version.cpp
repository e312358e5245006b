// A header of version 15, which hosts refuse.
#include "TestPlugin.h"

static DSPModuleA module = {"Old", nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr};
static void* getModule(int32_t i) { return i == 0 ? &module : nullptr; }
static DSPPluginHeader header = {15, "Too old", getModule};

TEST_EXPORT DSPPluginHeader* MMPlugInDSPGetHeader() { return &header; }
