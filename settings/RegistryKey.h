#pragma once
// One key of the registry store, opened for reading or created for writing.
//
// Nothing is cached: every read looks at the store as it is now, every write goes to the file
// at once. Reads never raise: a missing value, a value of another type and an unreadable store
// all read as nothing. Writes raise ESettingsError with the system's texts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/RegistryRoot.h"
#include "settings/RegistryStore.h"

class RegistryKey {
public:
    // Opens an existing key read-only; nothing when it does not exist or cannot be read. Never
    // creates anything.
    static std::optional<RegistryKey> Open(RegistryRoot root, std::string_view path,
                                           const RegistryStore& store = RegistryStore::Default());
    // Opens a key for writing, creating it and the store when missing.
    // Raises "Failed to create key %s" with `path`.
    static RegistryKey Create(RegistryRoot root, std::string_view path,
                              const RegistryStore& store = RegistryStore::Default());

    std::optional<std::uint32_t> ReadDword(std::string_view name) const;
    std::optional<std::string> ReadString(std::string_view name) const;
    // Raise "Failed to set data for '%s'" with `name`.
    void WriteDword(std::string_view name, std::uint32_t value) const;
    void WriteString(std::string_view name, std::string_view value) const;

    // The path as it was given.
    const std::string& Path() const { return path_; }
    RegistryRoot Root() const { return root_; }

private:
    RegistryKey(RegistryStore store, RegistryRoot root, std::string path, std::string fullPath);
    const RegistryDocument::Value* find(const RegistryDocument& doc, std::string_view name) const;
    void write(std::string_view name, RegistryDocument::Value value) const;

    RegistryStore store_;
    RegistryRoot root_;
    std::string path_;
    std::string fullPath_; // root name first, normalised
};
