#pragma once
// G.711 A-law and mu-law companding kernels (16-bit linear samples).

#include <cstdint>

int16_t ALawToLinear(uint8_t code);
int16_t MuLawToLinear(uint8_t code);
uint8_t LinearToALaw(int16_t sample);
uint8_t LinearToMuLaw(int16_t sample);

// `count` codes to `count` 16-bit little-endian samples (2 x count bytes), and back.
void ALawDecode(const uint8_t* codes, uint8_t* samples, uint32_t count);
void MuLawDecode(const uint8_t* codes, uint8_t* samples, uint32_t count);
void ALawEncode(const uint8_t* samples, uint8_t* codes, uint32_t count);
void MuLawEncode(const uint8_t* samples, uint8_t* codes, uint32_t count);
