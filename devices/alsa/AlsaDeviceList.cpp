#include "devices/alsa/AlsaDeviceList.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "devices/alsa/AlsaPcm.h"

namespace {

struct Hint {
    std::string name;
    std::string description;
    std::string ioid; // "Input", "Output" or empty for both
};

std::string firstLine(const char* text) {
    if (!text) return {};
    std::string line(text);
    if (auto end = line.find('\n'); end != std::string::npos) line.resize(end);
    return line;
}

std::vector<Hint> readHints() {
    std::vector<Hint> hints;
    void** list = nullptr;
    if (snd_device_name_hint(-1, "pcm", &list) < 0 || !list) return hints;
    for (void** entry = list; *entry; ++entry) {
        char* name = snd_device_name_get_hint(*entry, "NAME");
        char* desc = snd_device_name_get_hint(*entry, "DESC");
        char* ioid = snd_device_name_get_hint(*entry, "IOID");
        if (name) hints.push_back({name, firstLine(desc), ioid ? ioid : ""});
        std::free(name);
        std::free(desc);
        std::free(ioid);
    }
    snd_device_name_free_hint(list);
    return hints;
}

bool hintFits(const Hint& hint, WaveDirection direction) {
    if (hint.ioid.empty()) return true;
    return hint.ioid == (direction == WaveDirection::In ? "Input" : "Output");
}

bool opensIn(const std::string& name, WaveDirection direction) {
    snd_pcm_t* pcm = nullptr;
    if (OpenAlsaPcm(name, direction, &pcm) != MMSYSERR_NOERROR) return false;
    snd_pcm_close(pcm);
    return true;
}

std::string describe(const std::string& pcm, const std::vector<Hint>& hints) {
    const std::string base = pcm.substr(0, pcm.find(':'));
    for (const auto& want : {pcm, base})
        for (const auto& hint : hints)
            if (hint.name == want && !hint.description.empty()) return hint.description;
    return pcm;
}

const char* overrideFor(WaveDirection direction) {
    if (const char* own =
            std::getenv(direction == WaveDirection::In ? "TONALIS_ALSA_INPUTS" : "TONALIS_ALSA_OUTPUTS"))
        return own;
    return std::getenv("TONALIS_ALSA_DEVICES");
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    return names;
}

} // namespace

std::vector<AlsaDevice> AlsaDeviceList::List(WaveDirection direction) {
    std::vector<AlsaDevice> devices;
    const auto hints = readHints();
    if (const char* list = overrideFor(direction)) {
        for (const auto& name : splitList(list))
            devices.push_back({name, describe(name, hints)});
        return devices;
    }

    auto add = [&](const std::string& pcm, const std::string& description) {
        for (const auto& known : devices)
            if (known.pcm == pcm) return;
        if (opensIn(pcm, direction)) devices.push_back({pcm, description.empty() ? pcm : description});
    };
    for (const char* server : {"pulse", "pipewire"})
        for (const auto& hint : hints)
            if (hint.name == server && hintFits(hint, direction)) add(hint.name, hint.description);
    for (const auto& hint : hints) {
        if (!hintFits(hint, direction)) continue;
        if (hint.name.rfind("hw:CARD=", 0) == 0)
            add("plug" + hint.name, hint.description);
        else if (hint.name.rfind("plughw:CARD=", 0) == 0)
            add(hint.name, hint.description);
    }
    return devices;
}

AlsaDevice AlsaDeviceList::Mapper(WaveDirection) {
    const char* name = std::getenv("TONALIS_ALSA_DEFAULT");
    const std::string pcm = name && *name ? name : "default";
    const auto hints = readHints();
    std::string description = describe(pcm, hints);
    if (description == "default") description = "Default sound device";
    return {pcm, description};
}
