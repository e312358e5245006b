#pragma once
// The registry store: one file per root (HKCU.reg, HKLM.reg) in one folder, shared by every
// process of the user (the main program, the level monitor, the enhancer plug-in).
//
// Reads take no lock: files are only ever replaced whole (AtomicFile), so a reader sees one
// complete version. Writers serialise on an advisory lock (flock on `<file>.lock` beside the
// file) and re-read the file under it, so two processes writing different values never lose one
// another's changes. A writer that died leaves at most a stray temporary, which the next writer
// removes while it holds the lock (nobody else can be writing then).
//
// The folder is, in this order: the folder given to SetDefaultFolder, $TONALIS_CONFIG_DIR,
// $XDG_CONFIG_HOME/tonalis, ~/.config/tonalis. It is created by the first write.

#include <filesystem>
#include <functional>
#include <optional>

#include "settings/RegistryDocument.h"
#include "settings/RegistryRoot.h"

class RegistryStore {
public:
    explicit RegistryStore(std::filesystem::path folder);

    // The store of the default folder, resolved now.
    static RegistryStore Default();
    static std::filesystem::path DefaultFolder();
    // Overrides the default folder for this process (tests); nullopt goes back to the environment.
    static void SetDefaultFolder(std::optional<std::filesystem::path> folder);

    const std::filesystem::path& Folder() const { return folder_; }
    std::filesystem::path FileOf(RegistryRoot root) const;

    // The root's current contents; a missing file is an empty document. An unreadable file
    // raises std::system_error.
    RegistryDocument Read(RegistryRoot root) const;
    // Under the lock: reads the file, applies `change`, and writes it back atomically when it
    // changed. Raises std::system_error / std::filesystem::filesystem_error on failure, and
    // passes on what `change` raises (nothing is written then).
    void Update(RegistryRoot root, const std::function<void(RegistryDocument&)>& change) const;

private:
    std::filesystem::path folder_;
};
