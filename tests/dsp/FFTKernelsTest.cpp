#include "dsp/fft/FFTKernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Sizes around the four- and eight-element loop steps, with guard values past the end.
const int32_t AwkwardCounts[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 31, 143, 511};
constexpr size_t Guard = 8;
constexpr float GuardValue = 12345.0f;

std::vector<float> RandomFloats(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = dist(rng);
    return v;
}

TEST(ComplexMultiplyTest, MatchesPlainLoopAndStopsAtCount) {
    for (int32_t count : AwkwardCounts) {
        const size_t floats = 2 * static_cast<size_t>(count);
        std::vector<float> data = RandomFloats(floats, count);
        const std::vector<float> factors = RandomFloats(floats, 1000 + count);
        std::vector<float> want = data;
        for (size_t k = 0; k < floats; k += 2) {
            want[k] = data[k] * factors[k] - data[k + 1] * factors[k + 1];
            want[k + 1] = data[k] * factors[k + 1] + data[k + 1] * factors[k];
        }
        data.resize(floats + Guard, GuardValue);
        ComplexMultiply(count, data, factors);
        for (size_t i = 0; i < floats; ++i)
            ASSERT_FLOAT_EQ(data[i], want[i]) << "count " << count << " at " << i;
        for (size_t i = floats; i < data.size(); ++i)
            ASSERT_EQ(data[i], GuardValue) << "count " << count;
    }
}

TEST(ComplexMultiplyTest, DoesNothingForBadCountOrShortArrays) {
    std::vector<float> data(8, 1.0f);
    const std::vector<float> factors(8, 3.0f);
    ComplexMultiply(-1, data, factors);
    ComplexMultiply(5, data, factors); // 5 complex values need 10 floats
    ComplexMultiply(2, data, std::span<const float>(factors.data(), 3));
    ComplexMultiply(2, {}, factors);
    EXPECT_EQ(data, std::vector<float>(8, 1.0f));
}

TEST(ScaleSinglesTest, MatchesPlainLoopAndStopsAtCount) {
    for (int32_t count : AwkwardCounts) {
        const size_t n = static_cast<size_t>(count);
        std::vector<float> data = RandomFloats(n, count);
        std::vector<float> want = data;
        for (float& x : want)
            x *= 0.37f;
        data.resize(n + Guard, GuardValue);
        ScaleSingles(count, 0.37f, data);
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(data[i], want[i]) << "count " << count << " at " << i;
        for (size_t i = n; i < data.size(); ++i)
            ASSERT_EQ(data[i], GuardValue) << "count " << count;
    }
}

TEST(ScaleSinglesTest, DoesNothingForBadCountOrShortData) {
    std::vector<float> data(4, 1.0f);
    ScaleSingles(0, 2.0f, data);
    ScaleSingles(-3, 2.0f, data);
    ScaleSingles(5, 2.0f, data);
    EXPECT_EQ(data, std::vector<float>(4, 1.0f));
}

} // namespace
