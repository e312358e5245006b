// The second plug-in library: one layout-B module that boosts the bass and widens the stereo
// image. It keeps every frame it is given.

#include <new>

#include "plugins/dsp_mfx2/Mfx2Effect.h"
#include "plugins/dsp_plugin.h"

namespace {

int32_t Init(DSPModuleB* module);
int32_t ProcessSamples(DSPModuleB* module, int16_t* samples, int32_t frames, int32_t bits, int32_t channels,
                       int32_t rate);
void Quit(DSPModuleB* module);

DSPModuleB Mfx2Module = {"Tonalis Multi-Effect: bass boost and stereo width", nullptr, nullptr, nullptr,
                         Init, ProcessSamples, Quit, nullptr};

DSPPluginHeader Header = {DSP_PLUGIN_VERSION, "Tonalis Multi-Effect",
                          [](int32_t index) -> void* { return index == 0 ? &Mfx2Module : nullptr; }};

int32_t Init(DSPModuleB* module) {
    Quit(module);
    module->userData = new (std::nothrow) Mfx2Effect();
    return module->userData ? 0 : 1;
}

int32_t ProcessSamples(DSPModuleB* module, int16_t* samples, int32_t frames, int32_t bits, int32_t channels,
                       int32_t rate) {
    auto* effect = static_cast<Mfx2Effect*>(module->userData);
    // Anything but 16-bit audio passes as it is.
    if (effect && bits == 16) effect->process(samples, frames, channels, rate);
    return frames;
}

void Quit(DSPModuleB* module) {
    delete static_cast<Mfx2Effect*>(module->userData);
    module->userData = nullptr;
}

} // namespace

extern "C" __attribute__((visibility("default"))) DSPPluginHeader* winampDSPGetHeader2(void) { return &Header; }
