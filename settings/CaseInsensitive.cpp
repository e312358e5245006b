#include "settings/CaseInsensitive.h"

#include <cstddef>
#include <cstdint>
#include <locale.h>
#include <wctype.h>

namespace {

// The case tables of the C.UTF-8 locale, opened once; without it only ASCII letters fold.
locale_t caseLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

constexpr std::uint32_t invalidByteBase = 0x110000; // above every code point

// Decodes one code point at `pos` and advances; an invalid byte decodes as a value of its own.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    std::uint32_t cp = 0, minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || pos + length > s.size()) {
        ++pos;
        return invalidByteBase + lead;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return invalidByteBase + lead;
        }
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return invalidByteBase + lead;
    }
    pos += length;
    return cp;
}

std::uint32_t fold(std::uint32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 'a' + 'A' : cp;
    if (cp >= invalidByteBase) return cp;
    if (const locale_t locale = caseLocale()) return static_cast<std::uint32_t>(towupper_l(cp, locale));
    return cp;
}

} // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (fold(nextCodePoint(a, i)) != fold(nextCodePoint(b, j))) return false;
    }
    return i == a.size() && j == b.size();
}
