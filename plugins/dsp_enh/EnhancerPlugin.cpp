// The plug-in library's face: the header export and the one layout-A module.
//
// Init and Restart read the twelve values from the settings store; Process runs the enhancer in
// place. The host serialises every call, so the module keeps no lock of its own. Nothing here
// lets an exception reach the host.

#include <new>

#include "plugins/dsp_enh/EnhancerProcessor.h"
#include "plugins/dsp_enh/EnhancerSettings.h"
#include "plugins/dsp_plugin.h"

namespace {

struct EnhancerInstance {
    EnhancerProcessor processor;
    int frames = 0;
};

EnhancerInstance* instanceOf(DSPModuleA* module) { return static_cast<EnhancerInstance*>(module->userData); }

int32_t Init(DSPModuleA* module);
int32_t Restart(DSPModuleA* module);
void Process(DSPModuleA* module, int16_t* samples);
void Quit(DSPModuleA* module);

DSPModuleA EnhancerModule = {
    "Tonalis Enhancer: compressor, limiter, harmonic bass and treble, ambience",
    nullptr, nullptr, 0, 0, 0, nullptr, Init, Restart, Process, nullptr, nullptr, Quit, nullptr};

DSPPluginHeader Header = {DSP_PLUGIN_VERSION, "Tonalis Enhancer",
                          [](int32_t index) -> void* { return index == 0 ? &EnhancerModule : nullptr; }};

int32_t Init(DSPModuleA* module) {
    try {
        Quit(module);
        auto* instance = new EnhancerInstance();
        if (!instance->processor.init(module->sRate, module->nCh)) {
            delete instance;
            return 1;
        }
        instance->frames = module->framesPerBuffer > 0 ? module->framesPerBuffer : 0;
        instance->processor.update_settings(ReadEnhancerParameters());
        instance->processor.reset();
        module->userData = instance;
        return 0;
    } catch (...) {
        return 1;
    }
}

// Takes up new values without a click (they glide in); a new rate or channel count starts over.
int32_t Restart(DSPModuleA* module) {
    EnhancerInstance* instance = instanceOf(module);
    if (!instance) return 1;
    try {
        const EnhancerParameters parameters = ReadEnhancerParameters();
        if (module->sRate != instance->processor.sampleRate() || module->nCh != instance->processor.channels()) {
            if (!instance->processor.init(module->sRate, module->nCh)) return 1;
            instance->processor.update_settings(parameters);
            instance->processor.reset();
        } else {
            instance->processor.update_settings(parameters);
        }
        instance->frames = module->framesPerBuffer > 0 ? module->framesPerBuffer : 0;
        return 0;
    } catch (...) {
        return 1;
    }
}

void Process(DSPModuleA* module, int16_t* samples) {
    if (EnhancerInstance* instance = instanceOf(module)) instance->processor.process(samples, instance->frames);
}

void Quit(DSPModuleA* module) {
    delete instanceOf(module);
    module->userData = nullptr;
}

} // namespace

extern "C" __attribute__((visibility("default"))) DSPPluginHeader* winampDSPGetHeader(void) { return &Header; }
