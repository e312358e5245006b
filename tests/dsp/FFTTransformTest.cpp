#include "dsp/fft/FFT.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Complex = std::complex<double>;

// The plain O(N^2) transform in double precision: sum x[n] e^(sign * 2pi ikn/N).
std::vector<Complex> ReferenceDFT(const std::vector<Complex>& x, int sign) {
    const size_t n = x.size();
    // k * j reduced modulo N indexes one table of roots, so every angle is exact.
    std::vector<Complex> roots(n);
    for (size_t m = 0; m < n; ++m)
        roots[m] = std::polar(1.0, sign * 2.0 * std::numbers::pi * m / n);
    std::vector<Complex> out(n);
    for (size_t k = 0; k < n; ++k) {
        Complex sum = 0;
        for (size_t j = 0, m = 0; j < n; ++j, m = (m + k) % n)
            sum += x[j] * roots[m];
        out[k] = sum;
    }
    return out;
}

std::vector<Complex> RandomSignal(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<Complex> x(n);
    for (Complex& v : x)
        v = Complex(dist(rng), dist(rng));
    return x;
}

std::vector<float> Interleave(const std::vector<Complex>& x) {
    std::vector<float> out;
    for (const Complex& v : x) {
        out.push_back(static_cast<float>(v.real()));
        out.push_back(static_cast<float>(v.imag()));
    }
    return out;
}

// Largest error relative to the reference's RMS, so one tolerance serves every size.
double RelativeError(const std::vector<float>& got, const std::vector<Complex>& want) {
    double energy = 0, worst = 0;
    for (size_t k = 0; k < want.size(); ++k) {
        energy += std::norm(want[k]);
        worst = std::max(worst, std::abs(Complex(got[2 * k], got[2 * k + 1]) - want[k]));
    }
    return worst / std::sqrt(energy / want.size());
}

// Single-precision butterflies lose a few ulps per stage.
double Tolerance(int bits) {
    return 1e-7 * (bits + 4);
}

struct PlanDeleter {
    void operator()(TFFTPlan* p) const { FreeFFTPlan(p); }
    void operator()(TRealFFTPlan* p) const { FreeRealFFTPlan(p); }
};
using PlanPtr = std::unique_ptr<TFFTPlan, PlanDeleter>;
using RealPlanPtr = std::unique_ptr<TRealFFTPlan, PlanDeleter>;

// Every kernel table this processor runs, each held against the reference on its own.
using Kernels = const FFTKernelTable*;
using TableAndBits = std::tuple<Kernels, int>;

std::vector<Kernels> Tables() {
    const auto tables = AvailableFFTKernels();
    return {tables.begin(), tables.end()};
}

std::string TableAndLength(const testing::TestParamInfo<TableAndBits>& info) {
    return std::string(std::get<0>(info.param)->name) + "_N" + std::to_string(1 << std::get<1>(info.param));
}

class ComplexTransformTest : public testing::TestWithParam<TableAndBits> {};

TEST_P(ComplexTransformTest, MatchesReferenceInEveryDirection) {
    const auto [kernels, bits] = GetParam();
    PlanPtr plan(CreateFFTPlan(bits));
    ASSERT_TRUE(plan);
    const size_t n = size_t{1} << bits;
    const std::vector<Complex> x = RandomSignal(n, 17 + bits);
    const std::vector<Complex> forward = ReferenceDFT(x, -1);
    std::vector<Complex> inverse = ReferenceDFT(x, +1);
    std::vector<Complex> scaledForward = forward;
    for (Complex& v : inverse)
        v /= static_cast<double>(n);
    for (Complex& v : scaledForward)
        v /= static_cast<double>(n);

    struct Case {
        int32_t direction;
        const std::vector<Complex>* want;
    };
    for (const Case& c : {Case{1, &forward}, Case{0, &forward}, Case{7, &forward}, Case{-1, &inverse},
                          Case{-2, &scaledForward}, Case{-9, &scaledForward}}) {
        std::vector<float> data = Interleave(x);
        DoFFT(*kernels, plan.get(), data, c.direction);
        EXPECT_LT(RelativeError(data, *c.want), Tolerance(bits)) << "N " << n << " direction " << c.direction;
    }
}

TEST_P(ComplexTransformTest, InverseUndoesForward) {
    const auto [kernels, bits] = GetParam();
    PlanPtr plan(CreateFFTPlan(bits));
    ASSERT_TRUE(plan);
    const std::vector<Complex> x = RandomSignal(size_t{1} << bits, 5 + bits);
    std::vector<float> data = Interleave(x);
    DoFFT(*kernels, plan.get(), data, 1);
    DoFFT(*kernels, plan.get(), data, -1);
    EXPECT_LT(RelativeError(data, x), Tolerance(bits));
}

// 2, 4 and 8 points take the dedicated butterflies, 16 the first table-driven split.
INSTANTIATE_TEST_SUITE_P(Sizes, ComplexTransformTest,
                         testing::Combine(testing::ValuesIn(Tables()), testing::Range(1, 13)),
                         TableAndLength);

// Sizes far past the caches, checked on a few bins and by a round trip.
TEST(ComplexTransformTest, LargePlansMatchReferenceOnSampledBins) {
    for (Kernels kernels : Tables()) {
        for (int bits : {15, 17}) {
            PlanPtr plan(CreateFFTPlan(bits));
            ASSERT_TRUE(plan);
            const size_t n = size_t{1} << bits;
            const std::vector<Complex> x = RandomSignal(n, 99);
            std::vector<float> data = Interleave(x);
            DoFFT(*kernels, plan.get(), data, 1);
            const double rms = std::sqrt(2.0 / 3.0 * n); // expected RMS of a bin of this noise
            for (size_t k : {size_t{0}, size_t{1}, size_t{3}, n / 4 + 5, n / 2, n - 1}) {
                Complex want = 0;
                for (size_t j = 0; j < n; ++j) {
                    const double angle = -2.0 * std::numbers::pi * static_cast<double>((k * j) % n) / n;
                    want += x[j] * Complex(std::cos(angle), std::sin(angle));
                }
                EXPECT_LT(std::abs(Complex(data[2 * k], data[2 * k + 1]) - want) / rms, Tolerance(bits))
                    << kernels->name << " N " << n << " bin " << k;
            }
            DoFFT(*kernels, plan.get(), data, -1);
            EXPECT_LT(RelativeError(data, x), Tolerance(bits)) << kernels->name << " N " << n;
        }
    }
}

TEST(FFTPlanTest, RefusesBitsOutsideOneToThirty) {
    for (int32_t bits : {-1, 0, 31, 32, 64})
        EXPECT_EQ(CreateFFTPlan(bits), nullptr) << bits;
    for (int32_t bits : {-1, 0, 31, 32, 64})
        EXPECT_EQ(CreateRealFFTPlan(bits), nullptr) << bits;
}

TEST(FFTPlanTest, HoldsTablesOfTheDocumentedSizes) {
    for (int32_t bits : {1, 2, 3, 10}) {
        PlanPtr plan(CreateFFTPlan(bits));
        ASSERT_TRUE(plan);
        const int32_t n = 1 << bits;
        EXPECT_EQ(plan->Bits, bits);
        EXPECT_EQ(plan->Length, n);
        EXPECT_FLOAT_EQ(plan->InvLength, 1.0f / n);
        EXPECT_EQ(plan->BitRev.size(), static_cast<size_t>(n));
        EXPECT_EQ(plan->Twiddles.size(), static_cast<size_t>(n / 4));

        RealPlanPtr real(CreateRealFFTPlan(bits));
        ASSERT_TRUE(real);
        EXPECT_EQ(real->Length, n);
        EXPECT_EQ(real->BitRev.size(), static_cast<size_t>(n / 2));
        EXPECT_EQ(real->Twiddles.size(), static_cast<size_t>(n / 8));
        EXPECT_EQ(real->Split.size(), static_cast<size_t>(n / 4));
    }
}

TEST(FFTPlanTest, TwiddleAndSplitRecordsHoldTheirAngles) {
    PlanPtr plan(CreateFFTPlan(12));
    RealPlanPtr real(CreateRealFFTPlan(12));
    ASSERT_TRUE(plan && real);
    const double n = 4096;
    for (int k : {1, 2, 37, 512, 1000, 1024}) {
        const double theta = 2 * std::numbers::pi * k / n;
        const FFTTwiddle& t = plan->Twiddles[k - 1];
        EXPECT_NEAR(t.cos1, std::cos(theta), 1e-7) << k;
        EXPECT_NEAR(t.negSin1, -std::sin(theta), 1e-7) << k;
        EXPECT_NEAR(t.cos3, std::cos(3 * theta), 1e-7) << k;
        EXPECT_NEAR(t.negSin3, -std::sin(3 * theta), 1e-7) << k;
        const RealFFTSplitFactor& s = real->Split[k - 1];
        EXPECT_NEAR(s.halfCos, 0.5 * std::cos(theta), 1e-7) << k;
        EXPECT_NEAR(s.halfOneMinusSin, 0.5 - 0.5 * std::sin(theta), 1e-7) << k;
    }
    // The real plan's twiddles are those of the half-length complex transform.
    PlanPtr half(CreateFFTPlan(11));
    ASSERT_TRUE(half);
    ASSERT_EQ(real->Twiddles.size(), half->Twiddles.size());
    for (size_t k : {size_t{0}, size_t{100}, real->Twiddles.size() - 1})
        EXPECT_EQ(real->Twiddles[k].cos1, half->Twiddles[k].cos1) << k;
}

TEST(BitReverseTableTest, ReversesTheLowBits) {
    std::vector<int32_t> table(8);
    BitReverseTable(table, 3);
    EXPECT_EQ(table, (std::vector<int32_t>{0, 4, 2, 6, 1, 5, 3, 7}));

    std::vector<int32_t> one(1, -1);
    BitReverseTable(one, 0);
    EXPECT_EQ(one[0], 0);

    std::vector<int32_t> big(1024);
    BitReverseTable(big, 10);
    EXPECT_EQ(big[1], 512);
    EXPECT_EQ(big[3], 768);
    EXPECT_EQ(big[0x2AA], 0x155);
    EXPECT_EQ(big[1023], 1023);
}

TEST(BitReverseTableTest, LeavesTableAloneForBadBitsOrShortTable) {
    std::vector<int32_t> table(4, -1);
    BitReverseTable(table, 3);
    BitReverseTable(table, -1);
    BitReverseTable(table, 31);
    EXPECT_EQ(table, (std::vector<int32_t>(4, -1)));
}

TEST(DoFFTTest, DoesNothingWithoutPlanOrWithShortData) {
    PlanPtr plan(CreateFFTPlan(4));
    RealPlanPtr real(CreateRealFFTPlan(4));
    std::vector<float> data(31, 1.0f); // 16 complex values need 32 floats
    DoFFT(plan.get(), data, 1);
    DoFFT(nullptr, data, 1);
    std::vector<float> realData(15, 1.0f);
    DoRealFFT(real.get(), realData, 1);
    DoRealFFT(nullptr, realData, 1);
    EXPECT_EQ(data, std::vector<float>(31, 1.0f));
    EXPECT_EQ(realData, std::vector<float>(15, 1.0f));
}

class RealTransformTest : public testing::TestWithParam<TableAndBits> {};

TEST_P(RealTransformTest, MatchesReferenceInPackedLayout) {
    const auto [kernels, bits] = GetParam();
    RealPlanPtr plan(CreateRealFFTPlan(bits));
    ASSERT_TRUE(plan);
    const size_t n = size_t{1} << bits;
    std::vector<Complex> x = RandomSignal(n, 3 + bits);
    for (Complex& v : x)
        v = v.real();
    const std::vector<Complex> want = ReferenceDFT(x, -1);

    std::vector<float> data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<float>(x[i].real());
    DoRealFFT(*kernels, plan.get(), data, 1);

    // Bin 0 carries DC with an exact zero beside it; the Nyquist term has no slot.
    EXPECT_EQ(data[1], 0.0f);
    std::vector<Complex> packed(want.begin(), want.begin() + n / 2);
    EXPECT_LT(RelativeError(data, packed), Tolerance(bits)) << "N " << n;
}

// 2 points is the DC-only case, 4 the self-paired split step, 8 and 16 the small butterflies.
INSTANTIATE_TEST_SUITE_P(Sizes, RealTransformTest,
                         testing::Combine(testing::ValuesIn(Tables()), testing::Range(1, 14)),
                         TableAndLength);

TEST(RealTransformTest, CosineOfOneBinLandsInThatBin) {
    RealPlanPtr plan(CreateRealFFTPlan(10));
    ASSERT_TRUE(plan);
    const int n = 1024, k = 37;
    const float amplitude = 3.0f;
    std::vector<float> data(n);
    for (int i = 0; i < n; ++i)
        data[i] = amplitude * static_cast<float>(std::cos(2 * std::numbers::pi * k * i / n));
    DoRealFFT(plan.get(), data, 1);
    for (int bin = 0; bin < n / 2; ++bin) {
        const double re = bin == k ? amplitude * n / 2 : 0.0;
        EXPECT_NEAR(data[2 * bin], re, 2e-3) << bin;
        EXPECT_NEAR(data[2 * bin + 1], 0.0, 2e-3) << bin;
    }
}

} // namespace
