#include "settings/ProfileFile.h"

#include <charconv>
#include <cstdint>
#include <stdexcept>

#include "settings/AtomicFile.h"
#include "settings/SettingsError.h"

namespace {

std::optional<int> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("$")) {
        base = 16;
        text.remove_prefix(1);
    } else if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (base == 16) {
        // Hexadecimal spells the 32 bits: $FFFFFFFF is -1.
        if (magnitude > 0xFFFFFFFFu) return std::nullopt;
        const auto bits = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
        return negative ? static_cast<int>(-static_cast<std::int64_t>(bits)) : bits;
    }
    const std::int64_t value =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (magnitude > 0x80000000u || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

ProfileFile::ProfileFile(std::filesystem::path fileName) : fileName_(std::move(fileName)) {
    Reload();
}

void ProfileFile::Reload() {
    try {
        const auto text = AtomicFile::Read(fileName_);
        document_ = text ? ProfileDocument::Parse(*text) : ProfileDocument{};
    } catch (const std::exception&) {
        document_ = ProfileDocument{};
    }
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    auto value = document_.Value(section, key);
    return value ? std::move(*value) : std::string(defaultValue);
}

int ProfileFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    const auto text = document_.Value(section, key);
    if (!text) return defaultValue;
    return parseInteger(*text).value_or(defaultValue);
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool ProfileFile::SectionExists(std::string_view section) const {
    return document_.SectionExists(section);
}

bool ProfileFile::ValueExists(std::string_view section, std::string_view key) const {
    return document_.Value(section, key).has_value();
}

std::vector<std::string> ProfileFile::SectionNames() const {
    return document_.SectionNames();
}

std::vector<std::string> ProfileFile::KeyNames(std::string_view section) const {
    return document_.KeyNames(section);
}

void ProfileFile::failWrite() const {
    throw ESettingsError("Unable to write to " + fileName_.string());
}

void ProfileFile::Update(const std::function<void(ProfileDocument&)>& change) {
    std::optional<std::string> text;
    try {
        // A file that exists but cannot be read must not be replaced by what little we know.
        text = AtomicFile::Read(fileName_);
    } catch (const std::exception&) {
        failWrite();
    }
    const ProfileDocument before = text ? ProfileDocument::Parse(*text) : ProfileDocument{};
    ProfileDocument after = before;
    try {
        change(after);
    } catch (const std::invalid_argument&) {
        failWrite();
    }
    if (after == before) {
        document_ = std::move(after);
        return;
    }
    try {
        AtomicFile::Replace(fileName_, after.Format());
    } catch (const std::exception&) {
        failWrite();
    }
    document_ = std::move(after);
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Update([&](ProfileDocument& doc) { doc.SetValue(section, key, value); });
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void ProfileFile::DeleteKey(std::string_view section, std::string_view key) {
    Update([&](ProfileDocument& doc) { doc.DeleteKey(section, key); });
}

void ProfileFile::EraseSection(std::string_view section) {
    Update([&](ProfileDocument& doc) { doc.EraseSection(section); });
}

void ProfileFile::EnsureFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) throw ESettingsError("Can't create directory");
}
