#include "dsp/fft/FFTKernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dsp/fft/FFTPlan.h"
#include "dsp/fft/FFTTables.h"
#include "dsp/fft/RealFFTPlan.h"

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

// The vectorised tables against the portable one. They promise the portable table's floats bit
// for bit, so any slip in an index, a lane or the order of an operation shows as a mismatch.

// A payload with guard values on both sides; the front guard has an odd length so the payload
// is not 16-byte aligned.
class GuardedFloats {
public:
    explicit GuardedFloats(const std::vector<float>& payload) : size_(payload.size()) {
        all_.assign(Front + size_ + Back, GuardValue);
        std::copy(payload.begin(), payload.end(), all_.begin() + Front);
    }
    float* data() { return all_.data() + Front; }
    std::vector<float> Payload() const { return {all_.begin() + Front, all_.begin() + Front + size_}; }
    bool GuardsIntact() const {
        for (size_t i = 0; i < all_.size(); ++i)
            if ((i < Front || i >= Front + size_) &&
                std::bit_cast<uint32_t>(all_[i]) != std::bit_cast<uint32_t>(GuardValue))
                return false;
        return true;
    }

private:
    static constexpr size_t Front = 3;
    static constexpr size_t Back = 8;
    size_t size_;
    std::vector<float> all_;
};

// The index of the first float whose bits differ, or -1.
long FirstDifference(const std::vector<float>& got, const std::vector<float>& want) {
    if (got.size() != want.size()) return 0;
    for (size_t i = 0; i < got.size(); ++i)
        if (std::bit_cast<uint32_t>(got[i]) != std::bit_cast<uint32_t>(want[i])) return static_cast<long>(i);
    return -1;
}

// Noise, and a few impulses among zeros, whose signs of zero the butterflies must also keep.
std::vector<std::vector<float>> TransformInputs(size_t floats, unsigned seed) {
    std::vector<float> sparse(floats, 0.0f);
    for (size_t i = 0; i < floats; i += 7)
        sparse[i] = (i % 3 == 0) ? -1.5f : 0.25f;
    return {RandomFloats(floats, seed), sparse};
}

using Kernels = const FFTKernelTable*;

std::vector<Kernels> FastTables() {
    std::vector<Kernels> fast;
    for (Kernels k : AvailableFFTKernels())
        if (k != &PortableFFTKernels()) fast.push_back(k);
    return fast;
}

TEST(FFTKernelTableTest, PortableFirstAndTheChosenTableAvailable) {
    const auto tables = AvailableFFTKernels();
    ASSERT_FALSE(tables.empty());
    EXPECT_EQ(tables.front(), &PortableFFTKernels());
    for (Kernels k : tables) {
        EXPECT_TRUE(k->forwardPass && k->inversePass && k->permute && k->complexMultiply && k->scaleSingles &&
                    k->realSplit)
            << k->name;
    }
    // The fastest, unless the environment names another available table.
    Kernels want = tables.back();
    if (const char* name = std::getenv("TONALIS_FFT_KERNELS")) {
        for (Kernels k : tables)
            if (std::strcmp(k->name, name) == 0) want = k;
    }
    EXPECT_EQ(&FFTKernels(), want) << FFTKernels().name;
#if defined(__x86_64__)
    ASSERT_GE(tables.size(), 2u);
    EXPECT_STREQ(tables[1]->name, "sse2");
#endif
}

class FastKernelsTest : public testing::TestWithParam<Kernels> {};

TEST_P(FastKernelsTest, PassesMatchPortableForEveryLength) {
    const FFTKernelTable& fast = *GetParam();
    const FFTKernelTable& portable = PortableFFTKernels();
    for (int32_t bits = 0; bits <= 12; ++bits) {
        const int32_t n = int32_t{1} << bits;
        std::unique_ptr<TFFTPlan> plan(bits > 0 ? CreateFFTPlan(bits) : nullptr);
        // The plan's own table, exactly N/4 records, so a read past it trips the address sanitizer.
        const FFTTwiddle* twiddles = plan ? plan->Twiddles.data() : nullptr;
        for (const std::vector<float>& input : TransformInputs(2 * static_cast<size_t>(n), 40 + bits)) {
            for (bool inverse : {false, true}) {
                GuardedFloats want(input), got(input);
                (inverse ? portable.inversePass : portable.forwardPass)(want.data(), n, twiddles);
                (inverse ? fast.inversePass : fast.forwardPass)(got.data(), n, twiddles);
                EXPECT_EQ(FirstDifference(got.Payload(), want.Payload()), -1)
                    << fast.name << " N " << n << (inverse ? " inverse" : " forward");
                EXPECT_TRUE(got.GuardsIntact()) << fast.name << " N " << n;
            }
        }
    }
}

TEST_P(FastKernelsTest, PermuteMatchesPortableForEveryLength) {
    const FFTKernelTable& fast = *GetParam();
    for (int32_t bits = 0; bits <= 12; ++bits) {
        const size_t n = size_t{1} << bits;
        std::vector<int32_t> bitRev(n);
        BitReverseTable(bitRev, bits);
        // Every float distinct, so a value in the wrong slot cannot go unnoticed.
        std::vector<float> input(2 * n);
        for (size_t i = 0; i < input.size(); ++i)
            input[i] = static_cast<float>(i) + 0.5f;
        GuardedFloats want(input), got(input);
        PortableFFTKernels().permute(want.data(), static_cast<int32_t>(n), bitRev.data());
        fast.permute(got.data(), static_cast<int32_t>(n), bitRev.data());
        EXPECT_EQ(FirstDifference(got.Payload(), want.Payload()), -1) << fast.name << " N " << n;
        EXPECT_TRUE(got.GuardsIntact()) << fast.name << " N " << n;
    }
}

TEST_P(FastKernelsTest, ComplexMultiplyAndScaleMatchPortable) {
    const FFTKernelTable& fast = *GetParam();
    const FFTKernelTable& portable = PortableFFTKernels();
    for (int32_t count : AwkwardCounts) {
        const size_t floats = 2 * static_cast<size_t>(count);
        const std::vector<float> data = RandomFloats(floats, 300 + count);
        const std::vector<float> factors = RandomFloats(floats, 600 + count);

        GuardedFloats want(data), got(data), factorsSeen(factors);
        portable.complexMultiply(count, want.data(), factors.data());
        fast.complexMultiply(count, got.data(), factorsSeen.data());
        EXPECT_EQ(FirstDifference(got.Payload(), want.Payload()), -1) << fast.name << " multiply " << count;
        EXPECT_TRUE(got.GuardsIntact()) << fast.name << " multiply " << count;
        EXPECT_EQ(FirstDifference(factorsSeen.Payload(), factors), -1) << fast.name << " factors " << count;

        // Scaling takes a count of floats, so the same counts land on other edges of its steps.
        GuardedFloats wantScaled(data), gotScaled(data);
        portable.scaleSingles(count, -0.37f, wantScaled.data());
        fast.scaleSingles(count, -0.37f, gotScaled.data());
        EXPECT_EQ(FirstDifference(gotScaled.Payload(), wantScaled.Payload()), -1)
            << fast.name << " scale " << count;
        EXPECT_TRUE(gotScaled.GuardsIntact()) << fast.name << " scale " << count;
    }
    // Negative counts touch nothing.
    GuardedFloats untouched(RandomFloats(8, 1));
    fast.complexMultiply(-3, untouched.data(), untouched.data());
    fast.scaleSingles(-3, 2.0f, untouched.data());
    EXPECT_EQ(FirstDifference(untouched.Payload(), RandomFloats(8, 1)), -1) << fast.name;
}

TEST_P(FastKernelsTest, RealSplitMatchesPortableForEveryLength) {
    const FFTKernelTable& fast = *GetParam();
    for (int32_t bits = 1; bits <= 13; ++bits) {
        std::unique_ptr<TRealFFTPlan> plan(CreateRealFFTPlan(bits));
        ASSERT_TRUE(plan);
        const int32_t half = plan->Length / 2;
        for (const std::vector<float>& input : TransformInputs(2 * static_cast<size_t>(half), 70 + bits)) {
            GuardedFloats want(input), got(input);
            PortableFFTKernels().realSplit(want.data(), half, plan->Split.data());
            fast.realSplit(got.data(), half, plan->Split.data());
            EXPECT_EQ(FirstDifference(got.Payload(), want.Payload()), -1)
                << fast.name << " N " << plan->Length;
            EXPECT_TRUE(got.GuardsIntact()) << fast.name << " N " << plan->Length;
        }
    }
}

std::string TableName(const testing::TestParamInfo<Kernels>& info) {
    return info.param->name;
}

INSTANTIATE_TEST_SUITE_P(Tables, FastKernelsTest, testing::ValuesIn(FastTables()), TableName);
// Processors without a vectorised table have nothing to compare.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FastKernelsTest);

} // namespace
