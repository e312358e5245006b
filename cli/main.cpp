// tonalis-cli: runs Tonalis's offline jobs without windows.

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printUsage(FILE* to) {
    std::fprintf(to,
                 "Usage: tonalis-cli <command> [options]\n"
                 "\n"
                 "Runs Tonalis's offline jobs without windows.\n"
                 "\n"
                 "Commands:\n"
                 "  --help, -h     show this help\n"
                 "  --version      show the version\n");
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
    std::fprintf(stderr, "tonalis-cli: unknown command '%s'\n\n", argv[1]);
    printUsage(stderr);
    return 2;
}
