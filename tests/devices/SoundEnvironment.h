#pragma once
// The private sound environment (scripts/sound-env) for the whole test program: started once
// before the first test, stopped after the last. Linking SoundEnvironment.cpp into a test program
// registers it. Tests that need sound start with TONALIS_NEEDS_SOUND_ENV(), which skips them with
// the reason when the server could not start.

#include <gtest/gtest.h>

#include <string>

class SoundEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

    static bool Ready();
    static const std::string& Problem();
    // The environment's folder (holds the default file of `tonalis_file`).
    static const std::string& Dir();
};

#define TONALIS_NEEDS_SOUND_ENV()                                                                            \
    do {                                                                                                     \
        if (!SoundEnvironment::Ready()) GTEST_SKIP() << SoundEnvironment::Problem();                         \
    } while (0)
