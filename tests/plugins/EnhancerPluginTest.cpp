// dsp_enh.so in the real host, with its values written to the settings store the way the main
// window writes them: the quality bars of the compressor, limiter and enhancer.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "PluginTestSupport.h"

namespace {

constexpr int Rate = 44100;
// -0.3 dBFS as the largest 16-bit value at or below it.
constexpr int CeilingValue = 31655;

EnhancerParameters StartValues() { return EnhancerParameters{}; }

EnhancerParameters Neutral() { return EnhancerParameters::Neutral(); }

// Everything as far as it goes: the worst case for the limiter.
EnhancerParameters Hot() {
    EnhancerParameters p;
    p.ambience = p.ambienceRange = p.boosted = p.drumBass = p.drumBassRange = 100;
    p.harmBass = p.harmBassRange = p.harmTreble = p.harmTrebleRange = p.volume = p.drySignal = 100;
    return p;
}

EnhancerParameters With(EnhancerParameters p, const std::function<void(EnhancerParameters&)>& change) {
    change(p);
    return p;
}

struct Enhancer : ::testing::Test {
    ConfigFolder config;

    Samples Run(const EnhancerParameters& values, Samples input, int rate = Rate, int channels = 2,
                int frames = 1024) {
        WriteEnhancerValues(values);
        PluginRunner runner(EnhancerLibrary(), rate, channels, frames);
        runner.Init();
        return runner.Processed(std::move(input));
    }

    // The output frame at which an input frame comes out.
    int Latency(int rate = Rate, int channels = 2) {
        Samples impulse(static_cast<size_t>(rate / 10 * channels), 0);
        impulse[static_cast<size_t>(1000 * channels)] = 8000;
        const Samples out = Run(Neutral(), impulse, rate, channels);
        const auto peak = std::max_element(out.begin(), out.end());
        EXPECT_EQ(*peak, 8000);
        return static_cast<int>((peak - out.begin()) / channels) - 1000;
    }
};

TEST_F(Enhancer, IsOneLayoutAModuleBehindTheFirstExport) {
    void* lib = dlopen(EnhancerLibrary().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto get = reinterpret_cast<DSPPluginGetHeader>(dlsym(lib, "winampDSPGetHeader"));
    ASSERT_NE(get, nullptr);
    EXPECT_GT(get()->version, 15);
    EXPECT_EQ(dlsym(lib, "winampDSPGetHeader2"), nullptr);
    dlclose(lib);

    TMMDSPPlugin host;
    ASSERT_TRUE(host.LoadPlugIn(EnhancerLibrary()));
    EXPECT_EQ(host.PlugIn()->Count, 1);
    EXPECT_FALSE(host.PlugIn()->LayoutB);
    EXPECT_EQ(host.PlugIn()->Description, "Tonalis Enhancer");
}

TEST_F(Enhancer, DelaysByOneBlockAndTheLimiterLookAhead) {
    EXPECT_EQ(Latency(44100), 32 + 66);
    EXPECT_EQ(Latency(48000, 1), 32 + 72);
}

// Full-scale squares, clipped pink noise and clicks, at the start values and with everything
// turned up: no sample may pass -0.3 dBFS.
TEST_F(Enhancer, LimiterOutputNeverExceedsTheCeiling) {
    Samples clicks(static_cast<size_t>(Rate * 6 * 2), 0);
    for (size_t f = 0; f < clicks.size() / 2; f += 11025) {
        const int16_t v = (f / 11025) % 2 ? -32768 : 32767;
        for (size_t k = 0; k < ((f / 11025) % 3 == 0 ? 1u : 220u); ++k)
            clicks[2 * (f + k)] = clicks[2 * (f + k) + 1] = v; // single clicks and 5 ms slabs
    }
    const Samples onset = Concat(Samples(static_cast<size_t>(Rate), 0), Tone(60, 0, 3, Rate, 2));
    const struct {
        const char* name;
        Samples signal;
    } signals[] = {
        {"hot pink noise, 30 s", Sox("synth 30 pinknoise gain -n gain 6", Rate, 2)},
        {"square 55 Hz", Sox("synth 4 square 55 gain -n", Rate, 2)},
        {"square 1 kHz", Sox("synth 4 square 1000 gain -n", Rate, 2)},
        {"square 7 kHz", Sox("synth 4 square 7000 gain -n", Rate, 2)},
        {"clicks and slabs", clicks},
        {"full-scale onset after silence", onset},
    };
    for (const auto& [valuesName, values] : {std::pair{"start values", StartValues()}, std::pair{"hot", Hot()}}) {
        for (const auto& s : signals) {
            ASSERT_GE(PeakValue(s.signal), 32000) << s.name;
            const Samples out = Run(values, s.signal);
            EXPECT_LE(PeakValue(out), CeilingValue) << s.name << ", " << valuesName;
            EXPECT_LE(PeakDb(out), -0.3) << s.name << ", " << valuesName;
            EXPECT_GT(PeakDb(out), -12.0) << s.name << ", " << valuesName; // limited, not muted
            RecordProperty(std::string(s.name) + " / " + valuesName + " peak dBFS", std::to_string(PeakDb(out)));
        }
    }
}

// The limiter turns the gain down ahead of a peak rather than cutting the peak off: a loud steady
// tone comes out as a clean tone at the ceiling.
TEST_F(Enhancer, LimiterLowersTheGainInsteadOfClipping) {
    for (double frequency : {1000.0, 5000.0}) {
        const Samples out = Run(With(Neutral(), [](auto& p) { p.volume = 100; }), Tone(frequency, -1, 2, Rate, 2));
        const double fundamental = ToneDb(out, 2, 0, Rate, 2 * Rate, frequency, Rate);
        EXPECT_NEAR(fundamental, -0.3, 0.1) << frequency;
        EXPECT_LT(ToneDb(out, 2, 0, Rate, 2 * Rate, 3 * frequency, Rate) - fundamental, -60) << frequency;
    }
}

// Steady 1 kHz tones from -40 to 0 dBFS at three "Boosted" values: the reduction follows the
// documented soft-knee curve (threshold, ratio, 8 dB knee) and the make-up gain is added.
TEST_F(Enhancer, CompressorFollowsItsCurveAtThreeThresholds) {
    const struct {
        int boosted;
        double threshold, ratio, makeup;
    } curves[] = {{0, -16, 1.6, 0}, {50, -22, 2.3, 4}, {100, -28, 3.0, 8}};
    const auto expected = [](double level, double threshold, double ratio) {
        const double over = level - threshold, slope = 1 - 1 / ratio;
        if (over <= -4) return 0.0;
        if (over >= 4) return over * slope;
        return slope * (over + 4) * (over + 4) / 16;
    };
    for (const auto& c : curves) {
        for (int peak = -40; peak <= 0; peak += 4) {
            const Samples in = Tone(1000, peak, 2.0, Rate, 2);
            const Samples out = Run(With(Neutral(), [&](auto& p) { p.boosted = c.boosted; }), in);
            const size_t from = Rate * 3 / 2, to = Rate * 2 - 200;
            const double inRms = RmsDb(in, 2, 0, from, to);
            const double reduction = inRms + c.makeup - RmsDb(out, 2, 0, from, to);
            EXPECT_NEAR(reduction, expected(inRms, c.threshold, c.ratio), 0.25)
                << "Boosted " << c.boosted << ", tone " << peak << " dBFS";
        }
    }
}

// With every value neutral, signals under the compressor's knee come out as they went in.
TEST_F(Enhancer, NeutralValuesAreTransparent) {
    const struct {
        const char* name;
        Samples signal;
        int rate, channels;
    } signals[] = {
        {"50 Hz", Tone(50, -26, 2, Rate, 2), Rate, 2},
        {"1 kHz", Tone(1000, -26, 2, Rate, 2), Rate, 2},
        {"10 kHz", Tone(10000, -26, 2, Rate, 2), Rate, 2},
        {"pink noise", Sox("synth 5 pinknoise gain -n gain -20", Rate, 2), Rate, 2},
        {"pink noise, 48 kHz mono", Sox("synth 5 pinknoise gain -n gain -20", 48000, 1), 48000, 1},
    };
    for (const auto& s : signals) {
        const int delay = Latency(s.rate, s.channels);
        const Samples out = Run(Neutral(), s.signal, s.rate, s.channels);
        const size_t frames = s.signal.size() / static_cast<size_t>(s.channels);
        double error = 0, power = 0;
        for (size_t f = 0; f + static_cast<size_t>(delay) < frames; ++f)
            for (int c = 0; c < s.channels; ++c) {
                const double x = s.signal[f * s.channels + c], y = out[(f + delay) * s.channels + c];
                error += (y - x) * (y - x);
                power += x * x;
            }
        for (int c = 0; c < s.channels; ++c) {
            const double in = RmsDb(s.signal, s.channels, c, 0, frames - delay);
            const double got = RmsDb(out, s.channels, c, delay, frames);
            EXPECT_NEAR(got, in, 0.1) << s.name;
        }
        EXPECT_LT(10 * std::log10(std::max(error, 1e-9) / power), -60) << s.name;
    }
}

TEST_F(Enhancer, SilenceAndDcLeaveNoResidue) {
    const Samples silence(static_cast<size_t>(Rate * 3 * 2), 0);
    const Samples dcHigh(static_cast<size_t>(Rate * 2 * 2), 32767);
    const Samples dcLow(static_cast<size_t>(Rate * 2 * 2), -32768);
    const Samples dcSmall(static_cast<size_t>(Rate * 2 * 2), 3);
    const Samples noise = Sox("synth 2 pinknoise gain -n gain -6", Rate, 2);
    for (const auto& [name, values] : {std::pair{"start values", StartValues()}, std::pair{"hot", Hot()}}) {
        // noise 0-2 s, silence 2-5 s, +DC 5-7 s, -DC 7-9 s, silence 9-12 s, small DC 12-14 s, silence 14-17 s
        const Samples in = Concat(Concat(Concat(Concat(noise, silence), dcHigh), Concat(dcLow, silence)),
                                  Concat(dcSmall, silence));
        const Samples out = Run(values, in);
        EXPECT_LE(PeakValue(out), CeilingValue) << name;
        // Each silence ends in digital silence, however long the tails are.
        for (size_t end : {5, 12, 17}) {
            const auto tail = Channel(out, 2, 0, (end - 1) * Rate, end * Rate);
            EXPECT_EQ(*std::max_element(tail.begin(), tail.end()), 0) << name << " at " << end << " s";
            EXPECT_EQ(*std::min_element(tail.begin(), tail.end()), 0) << name << " at " << end << " s";
        }
        // A steady offset comes out steady: no oscillation, no drift to the rails.
        const auto dc = Channel(out, 2, 0, 6 * Rate, 7 * Rate);
        EXPECT_LE(*std::max_element(dc.begin(), dc.end()) - *std::min_element(dc.begin(), dc.end()), 2) << name;
    }
}

// New values taken up at a restart glide in: around the change no sample-to-sample step is
// larger than the signal's own steps under the old or the new values.
TEST_F(Enhancer, ParameterChangesAtRestartDoNotClick) {
    const struct {
        const char* name;
        std::function<void(EnhancerParameters&)> change;
    } changes[] = {
        {"Volume up", [](auto& p) { p.volume = 90; }},
        {"Volume down", [](auto& p) { p.volume = 10; }},
        {"Boosted", [](auto& p) { p.boosted = 100; }},
        {"Harm Bass", [](auto& p) { p.harmBass = 100; }},
        {"Harm Bass range", [](auto& p) { p.harmBassRange = 100; }},
        {"Harm Treble", [](auto& p) { p.harmTreble = 100; }},
        {"Harm Treble Range", [](auto& p) { p.harmTrebleRange = 100; }},
        {"Drum Bass", [](auto& p) { p.drumBass = 100; }},
        {"Drum Bass range", [](auto& p) { p.drumBassRange = 100; }},
        {"Dry Signal", [](auto& p) { p.drySignal = 0; }},
        {"Ambience", [](auto& p) { p.ambience = 100; }},
        {"Ambience Range", [](auto& p) { p.ambience = 60, p.ambienceRange = 100; }},
        {"everything", [](auto& p) { p = Hot(); }},
    };
    const Samples signal = Sum(Tone(80, -8, 4, Rate, 2), Tone(5000, -40, 4, Rate, 2));
    // On a buffer boundary: the host pads a short buffer with silence, which would be a real gap.
    const size_t split = 512 * 130;
    for (const auto& c : changes) {
        for (bool forward : {true, false}) {
            const EnhancerParameters changed = With(StartValues(), c.change);
            WriteEnhancerValues(forward ? StartValues() : changed);
            PluginRunner runner(EnhancerLibrary(), Rate, 2, 512);
            runner.Init();
            Samples first(signal.begin(), signal.begin() + split * 2);
            Samples second(signal.begin() + split * 2, signal.end());
            runner.Process(first);
            WriteEnhancerValues(forward ? changed : StartValues());
            runner.Restart();
            runner.Process(second);
            const Samples out = Concat(first, second);
            // The pair shares one limiter and the room moves energy between its channels while
            // it builds up, so the reference is the larger of both channels' own steps.
            int reference = 0;
            for (int ch = 0; ch < 2; ++ch)
                reference = std::max({reference, MaxStep(out, 2, ch, Rate / 2, split), MaxStep(out, 2, ch, Rate * 3, Rate * 4)});
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_LE(MaxStep(out, 2, ch, split, Rate * 3), reference * 105 / 100 + 2)
                    << c.name << (forward ? " on" : " off") << ", channel " << ch << ", own steps up to " << reference;
        }
    }
}

TEST_F(Enhancer, OutputDoesNotDependOnTheBufferLength) {
    const Samples in = Sum(Sox("synth 1 pinknoise gain -n gain -3", Rate, 2), Tone(60, -6, 1, Rate, 2));
    const Samples reference = Run(StartValues(), in, Rate, 2, 1024);
    for (int frames : {1, 7, 32, 33, 441, 4096}) EXPECT_EQ(Run(StartValues(), in, Rate, 2, frames), reference) << frames;
}

// Every rate the host can hand over, mono and stereo: plausible levels, the ceiling kept.
TEST_F(Enhancer, WorksAtAnyRateMonoAndStereo) {
    for (int rate : {8000, 11025, 22050, 44100, 48000, 96000, 100000}) {
        for (int channels : {1, 2}) {
            const Samples in = Sox("synth 2 pinknoise gain -n gain -8", rate, channels);
            const Samples out = Run(StartValues(), in, rate, channels, 1000);
            const size_t frames = in.size() / static_cast<size_t>(channels);
            for (int c = 0; c < channels; ++c) {
                const double inRms = RmsDb(in, channels, c, frames / 2, frames);
                EXPECT_NEAR(RmsDb(out, channels, c, frames / 2, frames), inRms, 3.0) << rate << " Hz, " << channels;
            }
            EXPECT_LE(PeakValue(out), CeilingValue) << rate << " Hz, " << channels;
        }
    }
}

// Four channels run as two stereo pairs, each as a stereo stream would.
TEST_F(Enhancer, FourChannelsAreTwoPairs) {
    const Samples stereo = Sum(Sox("synth 1 pinknoise gain -n gain -3", Rate, 2), Tone(60, -6, 1, Rate, 2));
    Samples quad(stereo.size() * 2);
    for (size_t f = 0; f < stereo.size() / 2; ++f)
        for (int c = 0; c < 4; ++c) quad[f * 4 + c] = stereo[f * 2 + c % 2];
    const Samples pair = Run(StartValues(), stereo);
    const Samples out = Run(StartValues(), quad, Rate, 4, 1024);
    for (size_t f = 0; f < stereo.size() / 2; ++f)
        for (int c = 0; c < 4; ++c) ASSERT_EQ(out[f * 4 + c], pair[f * 2 + c % 2]) << f << ", " << c;
}

TEST_F(Enhancer, ValuesAreReadAtInitAndAgainAtRestart) {
    const Samples tone = Tone(1000, -40, 1, Rate, 2);
    const size_t from = Rate / 2, to = Rate;

    // No key at all: the start values. (One runner at a time: every host of a library shares
    // its module records.)
    Samples withoutKey = tone;
    {
        PluginRunner defaults(EnhancerLibrary(), Rate, 2, 1024);
        defaults.Init();
        defaults.Process(withoutKey);
    }
    EXPECT_EQ(withoutKey, Run(StartValues(), tone));

    WriteEnhancerValues(Neutral());
    PluginRunner runner(EnhancerLibrary(), Rate, 2, 1024);
    runner.Init();
    const double atInit = RmsDb(runner.Processed(tone), 2, 0, from, to);
    WriteEnhancerValues(With(Neutral(), [](auto& p) { p.volume = 70; }));
    runner.Restart();
    const double afterRestart = RmsDb(runner.Processed(tone), 2, 0, from, to);
    EXPECT_NEAR(afterRestart - atInit, 5.0, 0.05);
}

// "Volume" (0.25 dB a step around 50) and "Dry Signal" (linear), on a quiet tone.
TEST_F(Enhancer, VolumeAndDrySignalSetTheLevel) {
    const struct {
        int volume, dry;
        double gainDb;
    } cases[] = {{0, 100, -12.5}, {50, 100, 0}, {53, 100, 0.75}, {100, 100, 12.5}, {50, 50, -6.02}, {50, 0, -200}};
    const Samples tone = Tone(1000, -40, 1, Rate, 2);
    for (const auto& c : cases) {
        const Samples out = Run(With(Neutral(), [&](auto& p) { p.volume = c.volume, p.drySignal = c.dry; }), tone);
        const double gain = RmsDb(out, 2, 1, Rate / 2, Rate) - RmsDb(tone, 2, 1, Rate / 2, Rate);
        if (c.gainDb < -100)
            EXPECT_EQ(PeakValue(Samples(out.begin() + Rate, out.end())), 0);
        else
            EXPECT_NEAR(gain, c.gainDb, 0.05) << "Volume " << c.volume << ", Dry " << c.dry;
    }
}

// The exciters add the octave of what lies in their band, in proportion to their amount, and
// their range controls decide which band that is.
TEST_F(Enhancer, ExcitersAddHarmonicsOfTheirBand) {
    const struct {
        const char* name;
        std::function<void(EnhancerParameters&)> values;
        double tone;
        double low, high; // the octave relative to the tone, dB
    } cases[] = {
        {"Harm Bass 100", [](auto& p) { p.harmBass = 100; }, 50, -10, -3},
        {"Harm Bass start value", [](auto& p) { p.harmBass = 23; }, 50, -22, -12},
        {"Harm Bass 0", [](auto& p) { p.harmBass = 0; }, 50, -1000, -80},
        {"Harm Bass range 0, tone above", [](auto& p) { p.harmBass = 100, p.harmBassRange = 0; }, 150, -1000, -30},
        {"Harm Bass range 100", [](auto& p) { p.harmBass = 100, p.harmBassRange = 100; }, 150, -10, -3},
        {"Harm Treble 100", [](auto& p) { p.harmTreble = 100, p.harmTrebleRange = 100; }, 3000, -14, -8},
        {"Harm Treble start value", [](auto& p) { p.harmTreble = 29, p.harmTrebleRange = 100; }, 3000, -26, -19},
        {"Harm Treble 0", [](auto& p) { p.harmTreble = 0, p.harmTrebleRange = 100; }, 3000, -1000, -80},
        {"Harm Treble range 0, tone below", [](auto& p) { p.harmTreble = 100, p.harmTrebleRange = 0; }, 3000, -1000, -30},
    };
    for (const auto& c : cases) {
        const Samples out = Run(With(Neutral(), c.values), Tone(c.tone, -20, 2, Rate, 2));
        const size_t from = Rate, to = 2 * Rate;
        const double fundamental = ToneDb(out, 2, 0, from, to, c.tone, Rate);
        const double octave = ToneDb(out, 2, 0, from, to, 2 * c.tone, Rate) - fundamental;
        EXPECT_GT(octave, c.low) << c.name;
        EXPECT_LT(octave, c.high) << c.name;
        EXPECT_NEAR(fundamental, -20, 1.0) << c.name;
    }
}

// Drum-bass punch lifts the start of each bass hit and leaves a held bass note alone.
TEST_F(Enhancer, DrumBassLiftsOnsetsButNotSteadyBass) {
    Samples kicks(static_cast<size_t>(Rate * 3 * 2), 0);
    for (size_t f = 0; f < kicks.size() / 2; ++f) {
        const double t = static_cast<double>(f % (Rate / 2)) / Rate;
        const auto v = static_cast<int16_t>(8000 * std::exp(-t / 0.08) * std::sin(2 * M_PI * 60 * t));
        kicks[2 * f] = kicks[2 * f + 1] = v;
    }
    const auto punch = [](int amount) { return With(Neutral(), [&](auto& p) { p.drumBass = amount; }); };
    const Samples flat = Run(punch(0), kicks), lifted = Run(punch(100), kicks);
    for (size_t hit = Rate; hit < Rate * 3; hit += Rate / 2) {
        const double gain = RmsDb(lifted, 2, 0, hit, hit + Rate / 20) - RmsDb(flat, 2, 0, hit, hit + Rate / 20);
        EXPECT_GT(gain, 4.0) << hit;
        EXPECT_LT(gain, 9.5) << hit;
    }

    const Samples held = Tone(60, -12, 4, Rate, 2);
    const Samples heldFlat = Run(punch(0), held), heldLifted = Run(punch(100), held);
    EXPECT_NEAR(RmsDb(heldLifted, 2, 0, Rate * 2, Rate * 4), RmsDb(heldFlat, 2, 0, Rate * 2, Rate * 4), 0.1);
}

// Neither the compressor nor the punch may breathe with a steady tone: every period has the
// same peak once the dynamics have settled.
TEST_F(Enhancer, SteadyTonesDoNotPump) {
    for (const auto& [name, values] : {std::pair{"start values", StartValues()}, std::pair{"hot", Hot()}}) {
        for (double frequency : {45.0, 60.0, 1000.0}) {
            const Samples out = Run(values, Tone(frequency, -3, 5, Rate, 2));
            const size_t period = static_cast<size_t>(std::lround(Rate / frequency * std::ceil(frequency / 50)));
            int lowest = 1 << 20, highest = 0;
            for (size_t at = Rate * 3; at + period < Rate * 5; at += period) {
                const auto cycle = Channel(out, 2, 0, at, at + period);
                const int peak = *std::max_element(cycle.begin(), cycle.end());
                lowest = std::min(lowest, peak);
                highest = std::max(highest, peak);
            }
            EXPECT_LT(20 * std::log10(static_cast<double>(highest) / lowest), 0.1) << name << ", " << frequency << " Hz";
        }
    }
}

// Ambience works on the side signal only: at its default 0 it is not there at all, and at any
// amount the mono sum L+R stays what it was.
TEST_F(Enhancer, AmbienceLeavesTheMonoSumAlone) {
    Samples stereo = Sox("synth 3 pinknoise gain -n gain -24", Rate, 2);
    const Samples tone = Tone(440, -30, 3, Rate, 2);
    for (size_t f = 0; f < stereo.size() / 2; ++f) stereo[2 * f + 1] = tone[2 * f]; // L noise, R tone
    const auto ambience = [](int amount, int range) {
        return With(Neutral(), [&](auto& p) { p.ambience = amount, p.ambienceRange = range; });
    };
    const Samples dry = Run(ambience(0, 0), stereo);
    EXPECT_EQ(Run(ambience(0, 100), stereo), dry);
    const Samples wide = Run(ambience(100, 60), stereo);
    int worst = 0;
    for (size_t f = 0; f < stereo.size() / 2; ++f)
        worst = std::max(worst, std::abs((wide[2 * f] + wide[2 * f + 1]) - (dry[2 * f] + dry[2 * f + 1])));
    EXPECT_LE(worst, 2);

    const auto sideDb = [](const Samples& s) {
        Samples side(s.size() / 2);
        for (size_t f = 0; f < side.size(); ++f) side[f] = static_cast<int16_t>((s[2 * f] - s[2 * f + 1]) / 2);
        return RmsDb(side, 1, 0, Rate, side.size());
    };
    EXPECT_GT(sideDb(wide) - sideDb(dry), 2.0);
    // A mono source gains space, and still sums to itself.
    const Samples mono = Sox("synth 3 pinknoise gain -n gain -24", Rate, 1);
    Samples twin(mono.size() * 2);
    for (size_t f = 0; f < mono.size(); ++f) twin[2 * f] = twin[2 * f + 1] = mono[f];
    const Samples spaced = Run(ambience(100, 60), twin);
    EXPECT_GT(sideDb(spaced), RmsDb(twin, 2, 0, Rate, mono.size()) - 30);
}

} // namespace
