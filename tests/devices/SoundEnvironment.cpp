#include "SoundEnvironment.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

bool ready = false;
std::string problem = "the sound environment was not started";
std::string dir;

std::string sourceDir() {
    if (const char* fromTest = std::getenv("TONALIS_SOURCE_DIR")) return fromTest;
    return TONALIS_SOURCE_DIR_FALLBACK;
}

// Runs a command, returning its exit status and what it printed.
int run(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> chunk{};
    size_t got;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        output.append(chunk.data(), got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Takes the `export NAME='VALUE'` lines of the script into this process's environment.
void adoptExports(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string prefix = "export ";
        if (line.rfind(prefix, 0) != 0) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string name = line.substr(prefix.size(), equals - prefix.size());
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        setenv(name.c_str(), value.c_str(), 1);
    }
}

const auto* registered = ::testing::AddGlobalTestEnvironment(new SoundEnvironment);

} // namespace

void SoundEnvironment::SetUp() {
    char pattern[] = "/tmp/tonalis-sound.XXXXXX";
    if (!mkdtemp(pattern)) {
        problem = "cannot make a temporary folder for the sound environment";
        return;
    }
    dir = pattern;
    const std::string script = sourceDir() + "/scripts/sound-env";
    std::string output;
    const int status =
        run("'" + script + "' start '" + dir + "' " + std::to_string(getpid()) + " 2>&1", output);
    if (status != 0) {
        problem = "the test sound environment could not start (scripts/sound-env): " + output;
        return;
    }
    adoptExports(output);
    ready = std::getenv("ALSA_CONFIG_PATH") && std::getenv("PULSE_SERVER");
    if (!ready) problem = "scripts/sound-env printed no environment: " + output;
}

void SoundEnvironment::TearDown() {
    if (dir.empty()) return;
    std::string output;
    run("'" + sourceDir() + "/scripts/sound-env' stop '" + dir + "' 2>&1", output);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    ready = false;
}

bool SoundEnvironment::Ready() {
    return ready;
}
const std::string& SoundEnvironment::Problem() {
    return problem;
}
const std::string& SoundEnvironment::Dir() {
    return dir;
}
