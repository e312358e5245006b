#include "settings/Registry.h"

#include <cstdint>

#include "settings/RegistryKey.h"

// Every failure of these functions ends here, on purpose: settings are optional.

int ReadReg(RegistryRoot root, std::string_view key, std::string_view name, int defaultValue) {
    try {
        if (const auto k = RegistryKey::Open(root, key))
            if (const auto value = k->ReadDword(name)) return static_cast<std::int32_t>(*value);
    } catch (...) {
    }
    return defaultValue;
}

bool ReadReg(RegistryRoot root, std::string_view key, std::string_view name, bool defaultValue) {
    try {
        if (const auto k = RegistryKey::Open(root, key))
            if (const auto value = k->ReadDword(name)) return *value != 0;
    } catch (...) {
    }
    return defaultValue;
}

std::string ReadReg(RegistryRoot root, std::string_view key, std::string_view name,
                    std::string_view defaultValue) {
    try {
        if (const auto k = RegistryKey::Open(root, key))
            if (auto value = k->ReadString(name)) return std::move(*value);
    } catch (...) {
    }
    return std::string(defaultValue);
}

std::string ReadReg(RegistryRoot root, std::string_view key, std::string_view name,
                    const char* defaultValue) {
    return ReadReg(root, key, name, std::string_view(defaultValue ? defaultValue : ""));
}

void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, int value) {
    try {
        RegistryKey::Create(root, key).WriteDword(name, static_cast<std::uint32_t>(value));
    } catch (...) {
    }
}

void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, bool value) {
    WriteReg(root, key, name, value ? 1 : 0);
}

void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, std::string_view value) {
    try {
        RegistryKey::Create(root, key).WriteString(name, value);
    } catch (...) {
    }
}

void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, const char* value) {
    WriteReg(root, key, name, std::string_view(value ? value : ""));
}
