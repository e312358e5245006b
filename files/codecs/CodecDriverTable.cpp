#include "files/codecs/CodecDriver.h"
#include "files/codecs/G711Driver.h"
#include "files/codecs/GsmDriver.h"
#include "files/codecs/ImaAdpcmDriver.h"
#include "files/codecs/MsAdpcmDriver.h"
#include "files/codecs/PcmDriver.h"

const std::vector<std::unique_ptr<CodecDriver>>& CodecDriverTable() {
    // The PCM driver comes first so that a PCM source is always suggested PCM unless a tag is fixed.
    static const auto table = [] {
        std::vector<std::unique_ptr<CodecDriver>> drivers;
        drivers.push_back(std::make_unique<PcmDriver>());
        drivers.push_back(std::make_unique<G711Driver>());
        drivers.push_back(std::make_unique<ImaAdpcmDriver>());
        drivers.push_back(std::make_unique<MsAdpcmDriver>());
        drivers.push_back(std::make_unique<GsmDriver>());
        return drivers;
    }();
    return table;
}
