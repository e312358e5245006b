#include "dsp/plugin/MMDSPPlugin.h"

#include <algorithm>
#include <cfenv>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>

#include "stream/PcmRoutines.h"

namespace {

const char* const HeaderExports[] = {"winampDSPGetHeader", "MMPlugInDSPGetHeader", "winampDSPGetHeader2"};

std::string upperCased(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Loads the library and finds an accepted header. Returns the handle (null on failure).
void* openLibrary(const std::string& path, DSPPluginHeader*& header, bool& layoutB) {
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return nullptr;
    for (int i = 0; i < 3; ++i) {
        auto get = reinterpret_cast<DSPPluginGetHeader>(dlsym(lib, HeaderExports[i]));
        if (!get) continue;
        DSPPluginHeader* h = nullptr;
        try {
            h = get();
        } catch (...) {
            h = nullptr;
        }
        if (h && h->version > 15) {
            header = h;
            layoutB = i == 2;
            return lib;
        }
        break; // the first export found decides
    }
    dlclose(lib);
    return nullptr;
}

template <typename F> bool guarded(F&& call) {
    try {
        call();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

TMMDSPPlugin::TMMDSPPlugin() = default;

TMMDSPPlugin::~TMMDSPPlugin() {
    std::lock_guard guard(lock_);
    UnloadPlugIn();
    freeInternalBuffer();
}

bool TMMDSPPlugin::LoadPlugIn(const std::string& fileName) {
    std::lock_guard guard(lock_);
    UnloadPlugIn();
    DSPPluginHeader* header = nullptr;
    bool layoutB = false;
    void* lib = openLibrary(fileName, header, layoutB);
    if (!lib) return false;
    auto* record = new TPlugInDSP();
    record->FileName = upperCased(fileName);
    record->Path = fileName;
    record->Description = header->description ? header->description : "";
    record->LayoutB = layoutB;
    for (int i = 0; i < MaxPlugInModules && header->getModule; ++i) {
        void* m = nullptr;
        if (!guarded([&] { m = header->getModule(i); }) || !m) break;
        const char* d = layoutB ? static_cast<DSPModuleB*>(m)->description : static_cast<DSPModuleA*>(m)->description;
        record->Modules[i].Name = d ? d : "";
        record->Count = i + 1;
    }
    dlclose(lib); // listing only; OpenModule loads it again for processing
    plugin_ = record;
    module_ = 0;
    return true;
}

bool TMMDSPPlugin::HasPlugin() const {
    std::lock_guard guard(lock_);
    return plugin_ != nullptr;
}

bool TMMDSPPlugin::validIndex() const { return plugin_ && module_ >= 0 && module_ < plugin_->Count; }

void TMMDSPPlugin::SelectModule(int index) {
    std::lock_guard guard(lock_);
    if (!plugin_ || index < 0 || index >= plugin_->Count) throw EMMPlugInError("Invalid Module index");
    module_ = index;
}

void TMMDSPPlugin::OpenModule() {
    std::lock_guard guard(lock_);
    if (!plugin_ || plugin_->Loaded) return;
    DSPPluginHeader* header = nullptr;
    bool layoutB = false;
    void* lib = openLibrary(plugin_->Path, header, layoutB);
    if (!lib) throw EMMPlugInError("Unable to open Module");
    plugin_->Library = lib;
    plugin_->Header = header;
    plugin_->LayoutB = layoutB;
    for (int i = 0; i < MaxPlugInModules && header->getModule; ++i) {
        void* m = nullptr;
        if (!guarded([&] { m = header->getModule(i); }) || !m) break;
        auto& entry = plugin_->Modules[i];
        entry.Active = false;
        if (layoutB) {
            entry.ModuleB = static_cast<DSPModuleB*>(m);
            entry.ModuleB->hwndParent = ParentWindow;
            entry.ModuleB->hDllInstance = lib;
        } else {
            entry.ModuleA = static_cast<DSPModuleA*>(m);
            entry.ModuleA->hwndParent = ParentWindow;
            entry.ModuleA->hDllInstance = lib;
        }
    }
    plugin_->Loaded = true;
}

void TMMDSPPlugin::writeBlockFields(DSPModuleA* m, int32_t bytes) const {
    const WAVEFORMATEX* f = GetPWaveFormat();
    const int32_t rate = f ? static_cast<int32_t>(f->nSamplesPerSec) : 22050;
    const int32_t channels = f && f->nChannels ? f->nChannels : 1;
    m->sRate = rate;
    m->nCh = channels;
    m->framesPerBuffer = bytes / (channels * 2);
}

void TMMDSPPlugin::InitModule() {
    std::lock_guard guard(lock_);
    if (!validIndex()) return;
    OpenModule();
    auto& entry = plugin_->Modules[module_];
    const int32_t bytes = GetBufferSize();
    if (!entry.Active && bytes > 0) {
        int32_t result = -1;
        if (entry.ModuleA && entry.ModuleA->Init) {
            writeBlockFields(entry.ModuleA, bytes);
            if (!guarded([&] { result = entry.ModuleA->Init(entry.ModuleA); })) result = -1;
        } else if (entry.ModuleB && entry.ModuleB->Init) {
            if (!guarded([&] { result = entry.ModuleB->Init(entry.ModuleB); })) result = -1;
        }
        entry.Active = result == 0;
    }
    if (!entry.Active) throw EMMPlugInError("Unable to initialise Module");
    RestartModule();
}

void TMMDSPPlugin::clearPullState() {
    if (internal_) {
        internal_->dwBytesRecorded = 0;
        internal_->LoopWrapped = 0;
    }
    readPos_ = 0;
    moreData_ = true;
    ended_ = false;
}

void TMMDSPPlugin::RestartModule() {
    std::lock_guard guard(lock_);
    if (!validIndex()) return;
    auto& entry = plugin_->Modules[module_];
    const int32_t bytes = GetBufferSize();
    if (!entry.Active || bytes <= 0) return;
    clearPullState();
    if (entry.ModuleA) {
        writeBlockFields(entry.ModuleA, bytes);
        int32_t result = 0;
        if (entry.ModuleA->Restart && !guarded([&] { result = entry.ModuleA->Restart(entry.ModuleA); })) result = -1;
        if (result != 0) throw EMMPlugInError("Unable to restart Module");
    }
}

void TMMDSPPlugin::QuitModule() {
    std::lock_guard guard(lock_);
    if (!validIndex()) return;
    auto& entry = plugin_->Modules[module_];
    if (entry.ModuleA && entry.ModuleA->Quit) guarded([&] { entry.ModuleA->Quit(entry.ModuleA); });
    if (entry.ModuleB && entry.ModuleB->Quit) guarded([&] { entry.ModuleB->Quit(entry.ModuleB); });
    entry.Active = false;
}

void TMMDSPPlugin::UnloadPlugIn() {
    std::lock_guard guard(lock_);
    if (!plugin_) return;
    for (int i = 0; i < plugin_->Count; ++i) {
        auto& entry = plugin_->Modules[i];
        if (entry.Active) {
            if (entry.ModuleA && entry.ModuleA->Quit) guarded([&] { entry.ModuleA->Quit(entry.ModuleA); });
            if (entry.ModuleB && entry.ModuleB->Quit) guarded([&] { entry.ModuleB->Quit(entry.ModuleB); });
        }
        entry = TPlugInModule{entry.Name};
    }
    if (plugin_->Library) dlclose(plugin_->Library);
    delete plugin_;
    plugin_ = nullptr;
}

bool TMMDSPPlugin::ModuleActive() const {
    std::lock_guard guard(lock_);
    return validIndex() && plugin_->Modules[module_].Active;
}

void TMMDSPPlugin::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format && (!PcmFormatSupported(format) || format->wBitsPerSample != 16))
        throw EMMPlugInError(MMText::InvalidWaveFormat);
    TMMDSPComponent::SetPWaveFormat(format);
}

void TMMDSPPlugin::freeInternalBuffer() {
    std::free(internal_);
    internal_ = nullptr;
    std::free(scratch_);
    scratch_ = nullptr;
    scratchBytes_ = 0;
}

void TMMDSPPlugin::Opened() {
    TMMDSPComponent::Opened();
    const WAVEFORMATEX* f = GetPWaveFormat();
    if (hostOpened_ || !f || f->wFormatTag != WAVE_FORMAT_PCM || f->wBitsPerSample != 16) return;
    std::lock_guard guard(lock_);
    const uint32_t size = static_cast<uint32_t>(GetBufferSize());
    freeInternalBuffer();
    internal_ = static_cast<TMMAudioBuffer*>(std::calloc(1, sizeof(TMMAudioBuffer) + 2 * size));
    if (!internal_) throw EMMPlugInError(MMText::NoHeaderMemory);
    internal_->lpData = AudioBufferData(internal_);
    internal_->dwBufferLength = size;
    scratch_ = static_cast<uint8_t*>(std::calloc(1, size));
    if (!scratch_) throw EMMPlugInError(MMText::NoHeaderMemory);
    scratchBytes_ = size;
    clearPullState();
    hostOpened_ = true;
    OpenModule();
}

void TMMDSPPlugin::Closed() {
    {
        std::lock_guard guard(lock_);
        if (hostOpened_) freeInternalBuffer();
        hostOpened_ = false;
        hostStarted_ = false;
    }
    TMMDSPComponent::Closed();
}

void TMMDSPPlugin::Started() {
    if (!hostStarted_) {
        RestartModule();
        hostStarted_ = true;
    }
    TMMDSPComponent::Started();
}

void TMMDSPPlugin::Stopped() {
    hostStarted_ = false;
    TMMDSPComponent::Stopped();
}

void TMMDSPPlugin::Reset() {
    RestartModule();
    TMMDSPComponent::Reset();
}

uint32_t TMMDSPPlugin::process(uint8_t* data, uint32_t bytes, uint32_t capacity) {
    const WAVEFORMATEX* f = GetPWaveFormat();
    if (!f || !validIndex() || bytes == 0) return bytes;
    auto& entry = plugin_->Modules[module_];
    if (!entry.Active) return bytes;
    const uint32_t frame = static_cast<uint32_t>(f->wBitsPerSample / 8) * f->nChannels;
    if (frame == 0) return bytes;
    auto* samples = reinterpret_cast<int16_t*>(data);
    if (entry.ModuleA) {
        if (!entry.ModuleA->Process) return bytes;
        // The module always works on framesPerBuffer frames: a short or oversized buffer goes
        // through in blocks, the short ones via the zero-padded scratch block.
        const uint32_t block = static_cast<uint32_t>(std::max(entry.ModuleA->framesPerBuffer, 0)) * frame;
        if (block == 0 || !scratch_ || block > scratchBytes_) return bytes;
        for (uint32_t at = 0; at < bytes; at += block) {
            const uint32_t n = std::min(block, bytes - at);
            if (n == block) {
                guarded([&] { entry.ModuleA->Process(entry.ModuleA, reinterpret_cast<int16_t*>(data + at)); });
            } else {
                std::memcpy(scratch_, data + at, n);
                std::memset(scratch_ + n, 0, block - n);
                guarded([&] { entry.ModuleA->Process(entry.ModuleA, reinterpret_cast<int16_t*>(scratch_)); });
                std::memcpy(data + at, scratch_, n);
            }
        }
        (void)samples;
        return bytes;
    }
    if (entry.ModuleB && entry.ModuleB->ProcessSamples) {
        int32_t frames = 0;
        if (!guarded([&] {
                frames = entry.ModuleB->ProcessSamples(entry.ModuleB, samples, static_cast<int32_t>(bytes / frame),
                                                       f->wBitsPerSample, f->nChannels,
                                                       static_cast<int32_t>(f->nSamplesPerSec));
            }))
            return bytes;
        if (frames < 0) return bytes;
        return std::min<uint64_t>(static_cast<uint64_t>(frames) * frame, capacity - capacity % frame);
    }
    return bytes;
}

void TMMDSPPlugin::BufferReady(PWaveHdr lpWaveHdr) {
    {
        std::lock_guard guard(lock_);
        if (Enabled && hostOpened_ && plugin_)
            lpWaveHdr->dwBytesRecorded =
                process(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded, lpWaveHdr->dwBufferLength);
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

int TMMDSPPlugin::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    std::lock_guard guard(lock_);
    if (!(Enabled && hostOpened_ && plugin_ && internal_)) return TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    lpWaveHdr->dwBytesRecorded = 0;
    if (!GetInput()) return 0;
    const uint32_t wanted = lpWaveHdr->dwBufferLength;
    auto copyUnread = [&] {
        const uint32_t n = std::min(internal_->dwBytesRecorded - readPos_, wanted - lpWaveHdr->dwBytesRecorded);
        std::memcpy(lpWaveHdr->lpData + lpWaveHdr->dwBytesRecorded, internal_->lpData + readPos_, n);
        readPos_ += n;
        lpWaveHdr->dwBytesRecorded += n;
    };
    copyUnread();
    const uint32_t capacity = 2 * static_cast<uint32_t>(GetBufferSize());
    while (lpWaveHdr->dwBytesRecorded < wanted && !ended_) {
        internal_->dwBytesRecorded = 0;
        internal_->dwBufferLength = static_cast<uint32_t>(GetBufferSize());
        internal_->LoopEnabled = lpWaveHdr->LoopEnabled;
        if (lpWaveHdr->LoopEnabled) {
            internal_->LoopCount = lpWaveHdr->LoopCount;
            internal_->LoopsLeft = lpWaveHdr->LoopsLeft;
        }
        internal_->LoopWrapped = 0;
        std::fesetenv(FE_DFL_ENV); // plug-ins may have changed it
        bool more = false;
        // Upstream runs without our lock: it may wait for the main thread, which may be waiting
        // for our lock to load a plug-in. Only this thread touches the internal buffer meanwhile.
        lock_.Release();
        try {
            TMMDSPComponent::BufferLoad(internal_, more);
        } catch (...) {
            lock_.Acquire();
            throw;
        }
        lock_.Acquire();
        moreData_ = more;
        if (!more || internal_->dwBytesRecorded == 0) ended_ = true;
        if (internal_->LoopWrapped) {
            // The wrap happened in data this caller's buffer is about to hold.
            lpWaveHdr->LoopWrapped = -1;
            lpWaveHdr->LoopsLeft = internal_->LoopsLeft;
        }
        internal_->dwBytesRecorded = process(internal_->lpData, internal_->dwBytesRecorded, capacity);
        readPos_ = 0;
        copyUnread();
    }
    MoreBuffers = moreData_ || readPos_ < internal_->dwBytesRecorded;
    return 0;
}
