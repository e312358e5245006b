#include "files/codecs/FormatSeparators.h"

#include <atomic>
#include <cstdio>
#include <langinfo.h>

namespace {
std::atomic<char> listSeparator{','};
std::atomic<char> decimalSeparator{'.'};
} // namespace

FormatSeparatorPair RefreshFormatSeparators() {
    const char* radix = nl_langinfo(RADIXCHAR);
    if (radix && radix[0] != '\0' && static_cast<unsigned char>(radix[0]) < 0x80) {
        decimalSeparator = radix[0];
        listSeparator = radix[0] == ',' ? ';' : ',';
    }
    return {listSeparator.load(), decimalSeparator.load()};
}

std::string KilohertzText(uint32_t rate, char decimal) {
    char text[32];
    std::snprintf(text, sizeof text, "%u%c%.03u kHz", rate / 1000, decimal, rate % 1000);
    return text;
}
