#pragma once
// What the test plug-ins record, read back by the tests through exported functions.

#include "plugins/dsp_plugin.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

struct TestPluginLog {
    int inits = 0, restarts = 0, processes = 0, quits = 0;
    int32_t rate = 0, channels = 0, frames = 0;
    void* parent = nullptr;
};
