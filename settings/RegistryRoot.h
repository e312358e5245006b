#pragma once
// The two registry roots the programs use. Each is one file of the registry store.

enum class RegistryRoot { CurrentUser, LocalMachine };

// The root as it opens every key line of its file: "HKEY_CURRENT_USER".
inline const char* RegistryRootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

// The root's file name in the store folder: "HKCU.reg".
inline const char* RegistryRootFileName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKCU.reg" : "HKLM.reg";
}
