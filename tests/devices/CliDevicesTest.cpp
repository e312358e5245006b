// `tonalis-cli devices` against the test PCMs of the sound environment.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "SoundEnvironment.h"

namespace {

struct CliRun {
    int status;
    std::string out;
};

CliRun cli(const std::string& environment, const std::string& arguments) {
    const std::string command = environment + " '" TONALIS_CLI_PATH "' " + arguments + " 2>/dev/null";
    CliRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> chunk{};
    size_t got;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        run.out.append(chunk.data(), got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

const std::string devices = "TONALIS_ALSA_DEVICES='tonalis_a;tonalis_file' TONALIS_ALSA_DEFAULT=tonalis_b";

TEST(CliDevicesTest, ListsInputsThenOutputsWithTheMapperFirst) {
    TONALIS_NEEDS_SOUND_ENV();
    const CliRun run = cli(devices, "devices");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "in -1 Tonalis test sink B\n"
                       "in 0 Tonalis test sink A\n"
                       "in 1 Tonalis test file\n"
                       "out -1 Tonalis test sink B\n"
                       "out 0 Tonalis test sink A\n"
                       "out 1 Tonalis test file\n");
}

TEST(CliDevicesTest, PrintsTheSameAsJson) {
    TONALIS_NEEDS_SOUND_ENV();
    const CliRun run =
        cli("TONALIS_ALSA_INPUTS='' TONALIS_ALSA_OUTPUTS='tonalis_a' TONALIS_ALSA_DEFAULT='tonalis_b'",
            "devices --json");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[\n"
                       "  {\"direction\": \"out\", \"id\": -1, \"name\": \"Tonalis test sink B\"},\n"
                       "  {\"direction\": \"out\", \"id\": 0, \"name\": \"Tonalis test sink A\"}\n"
                       "]\n");
}

TEST(CliDevicesTest, NoDevicesIsAnEmptyListAndABadOptionFails) {
    TONALIS_NEEDS_SOUND_ENV();
    const CliRun none = cli("TONALIS_ALSA_DEVICES=''", "devices --json");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "[]\n");
    EXPECT_EQ(cli(devices, "devices --loud").status, 2);
}

} // namespace
