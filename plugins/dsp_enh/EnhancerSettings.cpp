#include "plugins/dsp_enh/EnhancerSettings.h"

#include "settings/Registry.h"

EnhancerParameters ReadEnhancerParameters() {
    EnhancerParameters p;
    const auto read = [](const char* name, int& value) {
        value = ReadReg(RegistryRoot::LocalMachine, EnhancerKey, name, value);
    };
    read("Ambience", p.ambience);
    read("Ambience Range", p.ambienceRange);
    read("Boosted", p.boosted);
    read("Drum Bass", p.drumBass);
    read("Drum Bass range", p.drumBassRange);
    read("Dry Signal", p.drySignal);
    read("Harm Bass", p.harmBass);
    read("Harm Bass range", p.harmBassRange);
    read("Harm Treble", p.harmTreble);
    read("Harm Treble Range", p.harmTrebleRange);
    read("Volume", p.volume);
    read("Window State", p.windowState);
    return p;
}
