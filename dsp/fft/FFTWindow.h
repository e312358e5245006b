#pragma once
// Analysis window functions and the integer window tables built from them.

#include <cstdint>
#include <span>

// Stored as one byte in component properties; any other ordinal behaves as rectangular.
enum TMMFFTWindow : uint8_t {
    fwRectangular,
    fwHamming,
    fwHanning,
    fwBlackman,
    fwGaussian,
    fwWelch,
    fwParzen,
};

// The weight of index n in a window of length L. Periodic form: the cosine terms use L, not
// L - 1, so a symmetric window over L + 1 points takes n = 0 .. L. A length of 0 or less has
// no shape and gives 1.
float WindowValue(TMMFFTWindow window, int32_t n, int32_t length);

// Fills the first 2^bits entries with round(WindowValue(window, n, 2^bits) * 32767), so
// consumers can weight a sample with a multiply and a 15-bit shift. Does nothing when bits is
// outside 0 .. 30 or the table is shorter than 2^bits.
void CreateWindowTable(std::span<int32_t> table, TMMFFTWindow window, int32_t bits);
