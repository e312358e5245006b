#pragma once
// Runs the stream through a module of a DSP plug-in library (plugins/dsp_plugin.h).
//
// Threads: the main thread loads, selects, initialises and quits; the audio thread pushes or
// pulls. Every plug-in call, the library's loading and freeing and both buffer paths run under
// `lock_`, so the user can change plug-ins while audio runs. A module that is not active, or a
// plug-in call that fails, lets the audio pass unchanged: a live stream must never stall.

#include <array>
#include <string>

#include "plugins/dsp_plugin.h"
#include "stream/MMCriticalSection.h"
#include "stream/MMDSPComponent.h"
#include "stream/MMErrors.h"

constexpr int MaxPlugInModules = 100;

struct TPlugInModule {
    std::string Name;
    bool Active = false;
    DSPModuleA* ModuleA = nullptr;
    DSPModuleB* ModuleB = nullptr;
};

struct TPlugInDSP {
    std::string FileName; // upper-cased, as shown and compared
    std::string Path;     // as given: names are case-sensitive on disk
    void* Library = nullptr;
    std::string Description;
    std::array<TPlugInModule, MaxPlugInModules> Modules;
    int Count = 0;
    bool Loaded = false;
    DSPPluginHeader* Header = nullptr;
    bool LayoutB = false;
};

class TMMDSPPlugin : public TMMDSPComponent {
public:
    TMMDSPPlugin();
    ~TMMDSPPlugin() override;

    bool Enabled = true;
    // Handed to modules as their parent window.
    void* ParentWindow = nullptr;

    bool LoadPlugIn(const std::string& fileName);
    bool HasPlugin() const;
    void SelectModule(int index);
    int SelectedModule() const { return module_; }
    void OpenModule();
    void InitModule();
    void RestartModule();
    void QuitModule();
    void UnloadPlugIn();
    bool ModuleActive() const;
    // The loaded record, for listing modules; null without a plug-in.
    const TPlugInDSP* PlugIn() const { return plugin_; }

    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Reset() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

private:
    bool validIndex() const;
    // Processes `bytes` in place; returns the bytes left, at most `capacity`. Unchanged when the
    // module cannot process.
    uint32_t process(uint8_t* data, uint32_t bytes, uint32_t capacity);
    void writeBlockFields(DSPModuleA* m, int32_t bytes) const;
    void clearPullState();
    void freeInternalBuffer();

    mutable TMMCriticalSection lock_;
    TPlugInDSP* plugin_ = nullptr;
    int module_ = 0;
    bool hostOpened_ = false;
    bool hostStarted_ = false;
    // Pull mode: the internal buffer refilled from upstream, where unread data waits.
    TMMAudioBuffer* internal_ = nullptr;
    uint8_t* scratch_ = nullptr; // one block for layout-A modules fed a short buffer
    uint32_t scratchBytes_ = 0;
    uint32_t readPos_ = 0;
    bool moreData_ = true;
    bool ended_ = false;
};
