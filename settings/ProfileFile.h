#pragma once
// A profile (INI) file: "Equalizer.dat", the project files, the plug-ins' INI files.
//
// The file is read when the object is made (a missing or unreadable file reads as empty) and
// reads are answered from that copy. Every write reads the file again, applies the change and
// replaces the file atomically at once, so a write never works on a stale copy. A write never
// creates the file's folder: writing into a missing folder fails.
//
// Failed writes raise ESettingsError "Unable to write to %s" with the file name, as do changes
// the format cannot hold (see ProfileDocument::SetValue). Section and key rules: ProfileDocument.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ProfileDocument.h"

class ProfileFile {
public:
    explicit ProfileFile(std::filesystem::path fileName);

    const std::filesystem::path& FileName() const { return fileName_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // Decimal with an optional sign, or hexadecimal after "$" or "0x"; anything else, and values
    // outside 32 bits, read as the default.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // True for any non-zero integer.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    // Written as "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void DeleteKey(std::string_view section, std::string_view key);
    void EraseSection(std::string_view section);
    // Several changes in one write of the file. The file is not written when nothing changed.
    void Update(const std::function<void(ProfileDocument&)>& change);

    // Reads the file again.
    void Reload();
    const ProfileDocument& Document() const { return document_; }

    // Makes sure a folder exists, creating it when missing. Raises "Can't create directory".
    static void EnsureFolder(const std::filesystem::path& folder);

private:
    [[noreturn]] void failWrite() const;

    std::filesystem::path fileName_;
    ProfileDocument document_;
};
