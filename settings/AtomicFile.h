#pragma once
// Replaces a file so that readers see either the old contents or the new, never a mix: the new
// contents go to a temporary file in the same folder, are flushed to disk, and the temporary is
// renamed over the target. A crash before the rename leaves the old file intact and a stray
// temporary named `.<name>.tmp-<pid>-<n>` beside it.
//
// Errors are std::system_error; callers turn them into their own texts.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class AtomicFile {
public:
    // A symbolic link as target is followed, so the link itself survives the replacement.
    explicit AtomicFile(std::filesystem::path target);
    // Removes the temporary when it was written but not committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Writes `contents` to a new temporary file (the target's permissions when it exists).
    void Write(std::string_view contents);
    // Renames the temporary over the target.
    void Commit();

    const std::filesystem::path& Target() const { return target_; }
    const std::filesystem::path& TemporaryPath() const { return temporary_; }
    // What every temporary name of `target` starts with.
    static std::string TemporaryPrefix(const std::filesystem::path& target);

    // Write and Commit in one step.
    static void Replace(const std::filesystem::path& target, std::string_view contents);
    // The whole file; nothing when it does not exist. Other failures raise std::system_error.
    static std::optional<std::string> Read(const std::filesystem::path& file);

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    bool pending_ = false;
};
