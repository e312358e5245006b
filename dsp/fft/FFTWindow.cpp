#include "dsp/fft/FFTWindow.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Window formulas run in extended precision; only the result is rounded to single.
using Wide = long double;
constexpr Wide TwoPi = 2 * std::numbers::pi_v<Wide>;

} // namespace

float WindowValue(TMMFFTWindow window, int32_t n, int32_t length) {
    if (length <= 0) return 1.0f;
    const Wide x = static_cast<Wide>(n);
    const Wide l = static_cast<Wide>(length);
    // 64-bit integers: 2n - L and L * L overflow 32 bits for long windows.
    const int64_t centred = 2 * static_cast<int64_t>(n) - length;
    const int64_t lengthSquared = static_cast<int64_t>(length) * length;
    Wide w;
    switch (window) {
    case fwHamming:
        w = 0.54L - 0.46L * std::cos(TwoPi * x / l);
        break;
    case fwHanning:
        w = 0.5L - 0.5L * std::cos(TwoPi * x / l);
        break;
    case fwBlackman:
        w = 0.42L - 0.5L * std::cos(TwoPi * x / l) + 0.08L * std::cos(2 * TwoPi * x / l);
        break;
    case fwGaussian: {
        const Wide c = static_cast<Wide>(centred);
        w = std::exp(-5 * c * c / static_cast<Wide>(lengthSquared));
        break;
    }
    case fwWelch: {
        const Wide r = static_cast<Wide>(centred) / (l + 1);
        w = 1 - r * r;
        break;
    }
    case fwParzen:
        w = 1 - std::fabs(static_cast<Wide>(centred) / (l + 1));
        break;
    case fwRectangular:
    default:
        w = 1;
        break;
    }
    return static_cast<float>(w);
}

void CreateWindowTable(std::span<int32_t> table, TMMFFTWindow window, int32_t bits) {
    if (bits < 0 || bits > 30) return;
    const int32_t length = int32_t{1} << bits;
    if (table.size() < static_cast<size_t>(length)) return;
    for (int32_t n = 0; n < length; ++n) {
        const double weight = WindowValue(window, n, length);
        const double scaled = std::floor(weight * 32767.0 + 0.5);
        table[n] = static_cast<int32_t>(std::clamp(scaled, 0.0, 32767.0));
    }
}
