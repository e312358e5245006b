// 101 modules, one more than hosts list.
#include "TestPlugin.h"

static DSPModuleA modules[101];
static char names[101][8];

static void* getModule(int32_t i) {
    if (i < 0 || i >= 101) return nullptr;
    names[i][0] = 'M';
    names[i][1] = static_cast<char>('0' + i / 100);
    names[i][2] = static_cast<char>('0' + (i / 10) % 10);
    names[i][3] = static_cast<char>('0' + i % 10);
    modules[i].description = names[i];
    return &modules[i];
}
static DSPPluginHeader header = {DSP_PLUGIN_VERSION, "Many", getModule};

TEST_EXPORT DSPPluginHeader* winampDSPGetHeader() { return &header; }
