#include "files/codecs/G711.h"

#include <array>

#include "files/codecs/SampleIO.h"

namespace {

constexpr int16_t alawExpand(uint8_t code) {
    const int value = code ^ 0x55;
    int t = (value & 0x0F) << 4;
    const int segment = (value & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else {
        t += 0x108;
        if (segment > 1) t <<= segment - 1;
    }
    return static_cast<int16_t>((value & 0x80) ? t : -t);
}

constexpr int16_t mulawExpand(uint8_t code) {
    const int value = static_cast<uint8_t>(~code);
    int t = ((value & 0x0F) << 3) + 0x84;
    t <<= (value & 0x70) >> 4;
    return static_cast<int16_t>((value & 0x80) ? (0x84 - t) : (t - 0x84));
}

template <int16_t (*Expand)(uint8_t)> constexpr std::array<int16_t, 256> makeTable() {
    std::array<int16_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = Expand(static_cast<uint8_t>(i));
    return table;
}

constexpr auto alawTable = makeTable<alawExpand>();
constexpr auto mulawTable = makeTable<mulawExpand>();

// The segment whose end is the first not below `value`; 8 when it is above them all.
int segmentOf(int value, const int (&ends)[8]) {
    for (int i = 0; i < 8; ++i)
        if (value <= ends[i]) return i;
    return 8;
}

} // namespace

int16_t ALawToLinear(uint8_t code) {
    return alawTable[code];
}
int16_t MuLawToLinear(uint8_t code) {
    return mulawTable[code];
}

uint8_t LinearToALaw(int16_t sample) {
    static constexpr int ends[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int value = sample >> 3;
    int mask = 0xD5;
    if (value < 0) {
        mask = 0x55;
        value = -value - 1;
    }
    const int segment = segmentOf(value, ends);
    if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    int code = segment << 4;
    code |= segment < 2 ? (value >> 1) & 0x0F : (value >> segment) & 0x0F;
    return static_cast<uint8_t>(code ^ mask);
}

uint8_t LinearToMuLaw(int16_t sample) {
    static constexpr int ends[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    int value = sample >> 2;
    int mask = 0xFF;
    if (value < 0) {
        value = -value;
        mask = 0x7F;
    }
    if (value > 8159) value = 8159;
    value += 0x84 >> 2;
    const int segment = segmentOf(value, ends);
    if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    const int code = (segment << 4) | ((value >> (segment + 1)) & 0x0F);
    return static_cast<uint8_t>(code ^ mask);
}

void ALawDecode(const uint8_t* codes, uint8_t* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        StoreS16(samples + 2 * i, alawTable[codes[i]]);
}
void MuLawDecode(const uint8_t* codes, uint8_t* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        StoreS16(samples + 2 * i, mulawTable[codes[i]]);
}
void ALawEncode(const uint8_t* samples, uint8_t* codes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        codes[i] = LinearToALaw(LoadS16(samples + 2 * i));
}
void MuLawEncode(const uint8_t* samples, uint8_t* codes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        codes[i] = LinearToMuLaw(LoadS16(samples + 2 * i));
}
