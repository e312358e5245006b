#include "files/converters/ImaStyleAdpcm.h"

#include <algorithm>
#include <array>

#include "files/codecs/ImaAdpcm.h"
#include "files/codecs/SampleIO.h"

namespace {

using DifferenceTable = std::array<std::array<int16_t, 8>, 89>;

// Tag 3's table: (2m + 1) x step / 8 rounded, kept in 16 bits as the format does (the top rows
// wrap negative), with the rows the format fixes taken exactly as it gives them.
DifferenceTable makeWrappingTable() {
    DifferenceTable t{};
    for (int i = 0; i < 89; ++i)
        for (int m = 0; m < 8; ++m) {
            const int v = ((2 * m + 1) * ImaStepTable[i] + 4) / 8;
            t[i][m] = static_cast<int16_t>(static_cast<uint16_t>(v));
        }
    t[0] = {0, 2, 4, 6, 8, 10, 12, 13};
    t[1] = {1, 3, 5, 7, 9, 11, 13, 15};
    t[2] = {1, 3, 5, 7, 10, 12, 14, 16};
    t[40] = {42, 126, 211, 295, 380, 464, 548, 633};
    t[88] = {4096, 12288, 20479, 28671, -28673, -20481, -12290, -4098};
    return t;
}

DifferenceTable makeSaturatingTable() {
    DifferenceTable t{};
    for (int i = 0; i < 89; ++i)
        for (int m = 0; m < 8; ++m)
            t[i][m] = static_cast<int16_t>(std::min(((2 * m + 1) * ImaStepTable[i]) / 8, 32767));
    return t;
}

const DifferenceTable& table(ImaStyleFamily family) {
    static const DifferenceTable wrapping = makeWrappingTable();
    static const DifferenceTable saturating = makeSaturatingTable();
    return family == ImaStyleFamily::Wrapping ? wrapping : saturating;
}

inline int16_t step(const DifferenceTable& t, ImaStyleFamily family, TMMADPCMState& s, int c, int code) {
    int diff = t[s.Index[c]][code & 7];
    if (code & 8) diff = -diff;
    int v = s.Predictor[c] + diff;
    v = family == ImaStyleFamily::Wrapping ? static_cast<int16_t>(static_cast<uint16_t>(v))
                                           : std::clamp(v, -32768, 32767);
    s.Predictor[c] = v;
    s.Index[c] = static_cast<int16_t>(std::clamp(s.Index[c] + ImaIndexTable[code & 7], 0, 88));
    return static_cast<int16_t>(v);
}

} // namespace

bool ImaStyleFamilyOf(uint16_t tag, ImaStyleFamily& family) {
    if (tag == 0x0003) {
        family = ImaStyleFamily::Wrapping;
        return true;
    }
    if (tag == 0x0033 || tag == 0x0206) {
        family = ImaStyleFamily::Saturating;
        return true;
    }
    return false;
}

int16_t ImaStyleDifference(ImaStyleFamily family, int index, int m) {
    return table(family)[index][m];
}

uint32_t ImaStyleDecode(ImaStyleFamily family, int channels, const uint8_t* input, uint32_t bytes,
                        TMMADPCMState& state, uint8_t* output) {
    const DifferenceTable& t = table(family);
    // A state from outside (or zeroed memory) may hold any index; keep it inside the table.
    for (int c = 0; c < 2; ++c)
        state.Index[c] = static_cast<int16_t>(std::clamp<int>(state.Index[c], 0, 88));
    for (uint32_t i = 0; i < bytes; ++i) {
        const int byte = input[i];
        if (channels == 1) {
            StoreS16(output + 4 * i, step(t, family, state, 0, byte >> 4));
            StoreS16(output + 4 * i + 2, step(t, family, state, 0, byte & 0x0F));
        } else {
            StoreS16(output + 4 * i, step(t, family, state, 0, byte & 0x0F));
            StoreS16(output + 4 * i + 2, step(t, family, state, 1, byte >> 4));
        }
    }
    return 4 * bytes;
}
