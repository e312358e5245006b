#include "dsp/fft/FFTWindow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct WindowPoint {
    int window;
    int32_t n;
    int32_t length;
    double expected;
};

class WindowValueTest : public testing::TestWithParam<WindowPoint> {};

TEST_P(WindowValueTest, GivesKnownWeight) {
    const WindowPoint& p = GetParam();
    EXPECT_NEAR(WindowValue(static_cast<TMMFFTWindow>(p.window), p.n, p.length), p.expected, 2e-7)
        << "window " << p.window << " n " << p.n << " L " << p.length;
}

INSTANTIATE_TEST_SUITE_P(
    KnownPoints, WindowValueTest,
    testing::Values(WindowPoint{fwRectangular, 3, 8, 1.0}, WindowPoint{fwHamming, 0, 8, 0.08},
                    WindowPoint{fwHamming, 4, 8, 1.0}, WindowPoint{fwHamming, 2, 8, 0.54},
                    WindowPoint{fwHanning, 0, 64, 0.0}, WindowPoint{fwHanning, 32, 64, 1.0},
                    WindowPoint{fwHanning, 16, 64, 0.5}, WindowPoint{fwBlackman, 0, 8, 0.0},
                    WindowPoint{fwBlackman, 4, 8, 1.0}, WindowPoint{fwBlackman, 2, 8, 0.34},
                    WindowPoint{fwGaussian, 0, 64, std::exp(-5.0)}, WindowPoint{fwGaussian, 32, 64, 1.0},
                    WindowPoint{fwGaussian, 16, 64, std::exp(-1.25)},
                    // L * L no longer fits 32 bits here; the window keeps its shape.
                    WindowPoint{fwGaussian, 0, 65536, std::exp(-5.0)},
                    WindowPoint{fwGaussian, 32768, 65536, 1.0}, WindowPoint{fwWelch, 0, 8, 1.0 - 64.0 / 81.0},
                    WindowPoint{fwWelch, 4, 8, 1.0}, WindowPoint{fwWelch, 8, 8, 1.0 - 64.0 / 81.0},
                    WindowPoint{fwParzen, 0, 8, 1.0 / 9.0}, WindowPoint{fwParzen, 2, 8, 5.0 / 9.0},
                    WindowPoint{fwParzen, 4, 8, 1.0},
                    // Ordinals past the last type, and lengths without a shape, weigh 1.
                    WindowPoint{7, 0, 8, 1.0}, WindowPoint{255, 0, 8, 1.0}, WindowPoint{fwHanning, 0, 0, 1.0},
                    WindowPoint{fwHamming, 5, 0, 1.0}, WindowPoint{fwGaussian, 0, 0, 1.0},
                    WindowPoint{fwWelch, 0, -1, 1.0}, WindowPoint{fwParzen, 0, -1, 1.0}));

TEST(CreateWindowTableTest, RectangularIsFullScaleEverywhere) {
    std::vector<int32_t> table(32, -1);
    CreateWindowTable(table, fwRectangular, 5);
    for (int32_t v : table)
        EXPECT_EQ(v, 32767);
}

TEST(CreateWindowTableTest, HanningOfEightHoldsRoundedWeights) {
    std::vector<int32_t> table(8, -1);
    CreateWindowTable(table, fwHanning, 3);
    EXPECT_EQ(table, (std::vector<int32_t>{0, 4799, 16384, 27968, 32767, 27968, 16384, 4799}));
}

TEST(CreateWindowTableTest, EveryTypeStaysInFifteenBitRange) {
    for (int window = fwRectangular; window <= fwParzen + 1; ++window) {
        for (int32_t bits = 0; bits <= 10; ++bits) {
            std::vector<int32_t> table(size_t{1} << bits, -1);
            CreateWindowTable(table, static_cast<TMMFFTWindow>(window), bits);
            for (int32_t v : table) {
                ASSERT_GE(v, 0) << "window " << window << " bits " << bits;
                ASSERT_LE(v, 32767) << "window " << window << " bits " << bits;
            }
        }
    }
}

TEST(CreateWindowTableTest, LeavesTableAloneForBadBitsOrShortTable) {
    std::vector<int32_t> table(8, -1);
    CreateWindowTable(table, fwHanning, 4); // needs 16 entries
    CreateWindowTable(table, fwHanning, -1);
    CreateWindowTable(table, fwHanning, 31);
    for (int32_t v : table)
        EXPECT_EQ(v, -1);
}

} // namespace
