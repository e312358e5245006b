// Registry store parser: any bytes parse; what is written reads back identically; any string
// and any writable name survive a write and a read.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/RegistryDocument.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkRoundTrip(const RegistryDocument& doc) {
    const std::string text = doc.Format();
    const RegistryDocument again = RegistryDocument::Parse(text);
    check(again == doc);
    check(again.Format() == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    checkRoundTrip(RegistryDocument::Parse(input));

    RegistryDocument doc;
    doc.SetValue("HKEY_CURRENT_USER\\Kelmora",
                 {"v", RegistryDocument::ValueType::String, 0, std::string(input)});
    checkRoundTrip(doc);
    const RegistryDocument read = RegistryDocument::Parse(doc.Format());
    check(read.FindValue("HKEY_CURRENT_USER\\Kelmora", "v")->data == input);

    if (RegistryDocument::IsWritableName(input)) {
        const std::string path = "HKEY_CURRENT_USER\\" + RegistryDocument::NormalizePath(input);
        RegistryDocument named;
        named.SetValue(RegistryDocument::NormalizePath(path),
                       {std::string(input), RegistryDocument::ValueType::Dword, 7, ""});
        checkRoundTrip(named);
        const RegistryDocument read = RegistryDocument::Parse(named.Format());
        const auto* value = read.FindValue(RegistryDocument::NormalizePath(path), input);
        check(value && value->dword == 7);
    }
    return 0;
}
