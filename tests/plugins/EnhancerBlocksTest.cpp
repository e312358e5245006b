// The enhancer's blocks driven directly, where the plug-in's 16-bit output would hide what the
// float path does: subnormal numbers, NaN, and the limiter's guarantee itself.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "plugins/dsp_enh/EnhancerEngine.h"
#include "plugins/dsp_enh/PeakLimiter.h"

namespace {

EnhancerParameters Hot() {
    EnhancerParameters p;
    p.ambience = p.ambienceRange = p.boosted = p.drumBass = p.drumBassRange = 100;
    p.harmBass = p.harmBassRange = p.harmTreble = p.harmTrebleRange = p.volume = p.drySignal = 100;
    return p;
}

// Runs without the plug-in's flush-to-zero mode, so the blocks must keep their own state clean.
TEST(EnhancerEngine, NoNaNOrSubnormalsFromNoiseDcOverloadOrSilence) {
    for (bool stereo : {true, false}) {
        EnhancerEngine engine;
        engine.init(44100, stereo);
        engine.update_settings(Hot());
        engine.reset();
        std::mt19937 random(7);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        const struct {
            const char* name;
            int blocks;
            std::function<float(int)> sample;
        } phases[] = {
            {"noise", 1400, [&](int) { return noise(random); }},
            {"DC +1", 1400, [](int) { return 1.0f; }},
            {"DC -1", 1400, [](int) { return -1.0f; }},
            {"overload", 700, [](int i) { return i % 2 ? 8.0f : -8.0f; }},
            {"tiny", 1400, [](int i) { return i % 2 ? 1e-30f : -1e-30f; }},
            {"silence", 14000, [](int) { return 0.0f; }},
        };
        float left[32], right[32];
        for (const auto& phase : phases) {
            for (int b = 0; b < phase.blocks; ++b) {
                for (int i = 0; i < 32; ++i) left[i] = right[i] = phase.sample(b * 32 + i);
                engine.process(left, right, 32);
                for (int i = 0; i < 32; ++i)
                    for (float v : {left[i], stereo ? right[i] : left[i]}) {
                        ASSERT_TRUE(std::isfinite(v)) << phase.name;
                        ASSERT_NE(std::fpclassify(v), FP_SUBNORMAL) << phase.name << " block " << b;
                        ASSERT_LE(std::fabs(v), EnhancerEngine::Ceiling * 1.000001f) << phase.name;
                    }
            }
        }
        for (int i = 0; i < 32; ++i) EXPECT_EQ(left[i], 0.0f) << stereo;
    }
}

TEST(PeakLimiter, HoldsTheCeilingOnRandomPeaksAndIsAPureDelayBelowIt) {
    for (double rate : {8000.0, 44100.0, 100000.0}) {
        PeakLimiter limiter;
        const float ceiling = 0.5f;
        limiter.init(rate, ceiling);
        EXPECT_EQ(limiter.latency(), std::lround(0.0015 * rate));
        std::mt19937 random(3);
        std::uniform_real_distribution<float> quiet(-0.4f, 0.4f);
        std::uniform_real_distribution<float> loud(-100.0f, 100.0f);
        std::uniform_int_distribution<int> spike(0, 40);
        std::vector<float> in, out;
        for (int block = 0; block < 4000; ++block) {
            float left[32], right[32];
            for (int i = 0; i < 32; ++i) {
                left[i] = block < 1000 ? quiet(random) : spike(random) == 0 ? loud(random) : quiet(random);
                right[i] = block < 1000 ? quiet(random) : loud(random) * (spike(random) == 0);
                in.push_back(left[i]);
            }
            limiter.process(left, right, 32);
            for (int i = 0; i < 32; ++i) {
                ASSERT_LE(std::fabs(left[i]), ceiling * 1.000001f) << rate;
                ASSERT_LE(std::fabs(right[i]), ceiling * 1.000001f) << rate;
                out.push_back(left[i]);
            }
        }
        const size_t delay = static_cast<size_t>(limiter.latency());
        for (size_t i = 0; i + delay < 32000; ++i) ASSERT_EQ(out[i + delay], in[i]) << rate << " at " << i;
    }
}

} // namespace
