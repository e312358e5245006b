#pragma once
// Which ALSA PCMs are the devices 0..N-1 of each direction, and which one is the mapper.
//
// Without overrides: the sound-server PCMs (`pulse`, `pipewire`) first, then one
// `plughw:CARD=…,DEV=…` per card device, each only if it opens in the wanted direction. Other
// hinted PCMs (`null`, `default`, surround/iec958/hdmi aliases, converters) are left out: they
// are either the mapper or other views of a device already listed.
//
// Overrides, for tests and unusual setups, are lists of PCM names separated by ';' (ALSA names
// themselves contain commas), used exactly as given, without a test open:
//   TONALIS_ALSA_DEVICES   both directions
//   TONALIS_ALSA_INPUTS    input only (wins over TONALIS_ALSA_DEVICES)
//   TONALIS_ALSA_OUTPUTS   output only (wins over TONALIS_ALSA_DEVICES)
//   TONALIS_ALSA_DEFAULT   the mapper's PCM (default `default`)
// Set to an empty string, a list override means "no devices".

#include <string>
#include <vector>

#include "devices/WaveService.h"

struct AlsaDevice {
    std::string pcm;         // the name snd_pcm_open takes
    std::string description; // first line of the PCM's hint, else the name
};

class AlsaDeviceList {
public:
    static std::vector<AlsaDevice> List(WaveDirection direction);
    static AlsaDevice Mapper(WaveDirection direction);
};
