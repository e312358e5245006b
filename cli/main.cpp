// tonalis-cli: runs Tonalis's engine without windows.

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devices/WaveService.h"

namespace {

void printUsage(FILE* to) {
    std::fprintf(to, "Usage: tonalis-cli <command> [options]\n"
                     "\n"
                     "Runs Tonalis's engine without windows.\n"
                     "\n"
                     "Commands:\n"
                     "  devices [--json]   list the sound input devices, then the output devices:\n"
                     "                     one a line as 'in ID NAME' or 'out ID NAME', where ID is the\n"
                     "                     device id the components take (-1 is the system default)\n"
                     "  --help, -h         show this help\n"
                     "  --version          show the version\n");
}

struct DeviceLine {
    const char* direction;
    TMMDeviceId id;
    std::string name;
};

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

int listDevices(int argc, char** argv) {
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::printf("Usage: tonalis-cli devices [--json]\n"
                        "\n"
                        "Lists the sound input devices, then the output devices, one a line as\n"
                        "'in ID NAME' or 'out ID NAME'. ID -1 is the system default device.\n"
                        "--json prints the same as a JSON list of {\"direction\", \"id\", \"name\"}.\n");
            return 0;
        } else {
            std::fprintf(stderr, "tonalis-cli devices: unknown option '%s'\n", argv[i]);
            return 2;
        }
    }

    auto service = DefaultWaveService();
    std::vector<DeviceLine> lines;
    for (auto [direction, label] :
         {std::pair{WaveDirection::In, "in"}, std::pair{WaveDirection::Out, "out"}}) {
        const int count = service->DeviceCount(direction);
        if (count <= 0) continue;
        for (TMMDeviceId id = MapperId; id < count; ++id) {
            WaveDeviceCaps caps;
            const MMRESULT result = service->GetCaps(direction, id, caps);
            if (result != MMSYSERR_NOERROR) {
                std::fprintf(stderr, "tonalis-cli devices: cannot read %s device %d: %s\n",
                             direction == WaveDirection::In ? "input" : "output", id,
                             WaveErrorMessage(*service, result).c_str());
                return 1;
            }
            lines.push_back({label, id, caps.productName});
        }
    }

    if (json) {
        std::printf("[");
        for (size_t i = 0; i < lines.size(); ++i)
            std::printf("%s\n  {\"direction\": \"%s\", \"id\": %d, \"name\": %s}", i ? "," : "",
                        lines[i].direction, lines[i].id, jsonString(lines[i].name).c_str());
        std::printf("%s]\n", lines.empty() ? "" : "\n");
    } else {
        for (const auto& line : lines)
            std::printf("%s %d %s\n", line.direction, line.id, line.name.c_str());
    }
    if (lines.empty()) std::fprintf(stderr, "tonalis-cli devices: no sound devices found\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printUsage(stdout);
        return 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("tonalis-cli 0.1.0\n");
        return 0;
    }
    if (!std::strcmp(argv[1], "devices")) return listDevices(argc, argv);
    std::fprintf(stderr, "tonalis-cli: unknown command '%s'\n\n", argv[1]);
    printUsage(stderr);
    return 2;
}
