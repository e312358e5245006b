#include "dsp/fft/FFTTables.h"

#include <cmath>
#include <numbers>

namespace {

// The step rotation is held in double; the running values advance in the widest type we have,
// so the error after 2^28 steps stays far below single precision.
using Wide = long double;

struct Rotation {
    Wide c;
    Wide s;

    void Advance(double stepCos, double stepSin) {
        const Wide nc = c * stepCos - s * stepSin;
        const Wide ns = c * stepSin + s * stepCos;
        c = nc;
        s = ns;
    }
};

double StepAngle(int32_t length) {
    return 2.0 * std::numbers::pi / static_cast<double>(length);
}

} // namespace

void BitReverseTable(std::span<int32_t> table, int32_t bits) {
    if (bits < 0 || bits > 30) return;
    const int32_t length = int32_t{1} << bits;
    if (table.size() < static_cast<size_t>(length)) return;
    table[0] = 0;
    // rev(i) is rev(i / 2) shifted down one place, with i's lowest bit becoming the top bit.
    for (int32_t i = 1; i < length; ++i)
        table[i] = (table[i >> 1] >> 1) | ((i & 1) << (bits - 1));
}

void FillTwiddles(std::span<FFTTwiddle> twiddles, int32_t length) {
    if (twiddles.empty() || length <= 0) return;
    const double theta = StepAngle(length);
    const double cos1 = std::cos(theta), negSin1 = -std::sin(theta);
    const double cos3 = std::cos(3 * theta), negSin3 = -std::sin(3 * theta);
    Rotation r1{cos1, negSin1};
    Rotation r3{cos3, negSin3};
    for (FFTTwiddle& t : twiddles) {
        t = {static_cast<float>(r1.c), static_cast<float>(r1.s), static_cast<float>(r3.c),
             static_cast<float>(r3.s)};
        r1.Advance(cos1, negSin1);
        r3.Advance(cos3, negSin3);
    }
}

void FillSplitFactors(std::span<RealFFTSplitFactor> factors, int32_t length) {
    if (factors.empty() || length <= 0) return;
    const double phi = StepAngle(length);
    const double stepCos = std::cos(phi), stepSin = std::sin(phi);
    Rotation r{stepCos, stepSin};
    for (RealFFTSplitFactor& f : factors) {
        f = {static_cast<float>(0.5L * r.c), static_cast<float>(0.5L - 0.5L * r.s)};
        r.Advance(stepCos, stepSin);
    }
}
