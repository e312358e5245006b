#pragma once
// Little-endian sample access at any byte address (codec buffers need not be aligned).

#include <cstdint>
#include <cstring>

inline int16_t LoadS16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StoreS16(uint8_t* p, int16_t v) {
    std::memcpy(p, &v, 2);
}
inline uint16_t LoadU16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t LoadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

inline int16_t Saturate16(int64_t v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}
