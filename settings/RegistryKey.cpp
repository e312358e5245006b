#include "settings/RegistryKey.h"

#include "settings/SettingsError.h"

namespace {

std::string fullPathOf(RegistryRoot root, std::string_view path) {
    std::string full = RegistryRootName(root);
    const std::string relative = RegistryDocument::NormalizePath(path);
    if (!relative.empty()) full += "\\" + relative;
    return full;
}

} // namespace

RegistryKey::RegistryKey(RegistryStore store, RegistryRoot root, std::string path, std::string fullPath)
    : store_(std::move(store)), root_(root), path_(std::move(path)), fullPath_(std::move(fullPath)) {}

std::optional<RegistryKey> RegistryKey::Open(RegistryRoot root, std::string_view path,
                                             const RegistryStore& store) {
    try {
        if (!RegistryDocument::IsWritableName(path)) return std::nullopt;
        std::string full = fullPathOf(root, path);
        // The root key itself always exists.
        if (full != RegistryRootName(root) && !store.Read(root).KeyExists(full)) return std::nullopt;
        return RegistryKey(store, root, std::string(path), std::move(full));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

RegistryKey RegistryKey::Create(RegistryRoot root, std::string_view path, const RegistryStore& store) {
    const std::string failed = "Failed to create key " + std::string(path);
    if (!RegistryDocument::IsWritableName(path)) throw ESettingsError(failed);
    std::string full = fullPathOf(root, path);
    try {
        store.Update(root, [&](RegistryDocument& doc) { doc.CreateKey(full); });
    } catch (const std::exception&) {
        throw ESettingsError(failed);
    }
    return RegistryKey(store, root, std::string(path), std::move(full));
}

const RegistryDocument::Value* RegistryKey::find(const RegistryDocument& doc, std::string_view name) const {
    return doc.FindValue(fullPath_, name);
}

std::optional<std::uint32_t> RegistryKey::ReadDword(std::string_view name) const {
    try {
        const RegistryDocument doc = store_.Read(root_);
        const auto* value = find(doc, name);
        if (value && value->type == RegistryDocument::ValueType::Dword) return value->dword;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<std::string> RegistryKey::ReadString(std::string_view name) const {
    try {
        const RegistryDocument doc = store_.Read(root_);
        const auto* value = find(doc, name);
        if (value && value->type == RegistryDocument::ValueType::String) return value->data;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

void RegistryKey::write(std::string_view name, RegistryDocument::Value value) const {
    const std::string failed = "Failed to set data for '" + std::string(name) + "'";
    if (!RegistryDocument::IsWritableName(name)) throw ESettingsError(failed);
    value.name = std::string(name);
    try {
        // The key is made again if someone deleted it since it was opened.
        store_.Update(root_, [&](RegistryDocument& doc) { doc.SetValue(fullPath_, value); });
    } catch (const std::exception&) {
        throw ESettingsError(failed);
    }
}

void RegistryKey::WriteDword(std::string_view name, std::uint32_t value) const {
    write(name, {std::string(), RegistryDocument::ValueType::Dword, value, std::string()});
}

void RegistryKey::WriteString(std::string_view name, std::string_view value) const {
    write(name, {std::string(), RegistryDocument::ValueType::String, 0, std::string(value)});
}
