// Profile file parser: any bytes parse; writing and reading again changes nothing; a change
// that is accepted reads back, and deleted things are gone.

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "settings/ProfileDocument.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

void checkRoundTrip(const ProfileDocument& doc) {
    const std::string text = doc.Format();
    const ProfileDocument again = ProfileDocument::Parse(text);
    check(again == doc);
    check(again.Format() == text);
    for (const auto& section : doc.SectionNames()) {
        check(again.SectionExists(section));
        for (const auto& key : doc.KeyNames(section))
            check(again.Value(section, key) == doc.Value(section, key));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ProfileDocument doc = ProfileDocument::Parse(input);
    checkRoundTrip(doc);

    // The tail after the first two NULs: section, key and value for a change to the document.
    const std::size_t first = input.find('\0');
    const std::size_t second = first == std::string_view::npos ? first : input.find('\0', first + 1);
    if (second == std::string_view::npos) return 0;
    const std::string_view section = input.substr(0, first);
    const std::string_view key = input.substr(first + 1, second - first - 1);
    const std::string_view value = input.substr(second + 1);
    try {
        doc.SetValue(section, key, value);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    check(doc.Value(section, key) == std::string(trim(value)));
    checkRoundTrip(doc);

    ProfileDocument deleted = doc;
    check(deleted.DeleteKey(section, key));
    check(!deleted.Value(section, key));
    checkRoundTrip(deleted);
    check(doc.EraseSection(section));
    check(!doc.SectionExists(section));
    checkRoundTrip(doc);
    return 0;
}
