#pragma once
// Typed access to per-user settings, the way every window reads and writes them.
//
// ReadReg opens the key read-only (never creating it) and returns the default when the key or
// the value is missing, when the value has another type than the default, or on any error.
// Integer defaults read a DWORD (signed: -1 is stored as 0xffffffff), boolean defaults read a
// DWORD and yield true for any non-zero value, string defaults read a string value.
//
// WriteReg creates the key when missing and writes integers and booleans (0 or 1) as DWORD and
// strings as string values. Errors are ignored: a failed write is lost.

#include <string>
#include <string_view>

#include "settings/RegistryRoot.h"

int ReadReg(RegistryRoot root, std::string_view key, std::string_view name, int defaultValue);
bool ReadReg(RegistryRoot root, std::string_view key, std::string_view name, bool defaultValue);
std::string ReadReg(RegistryRoot root, std::string_view key, std::string_view name,
                    std::string_view defaultValue);
// Without it a string literal default would pick the boolean overload.
std::string ReadReg(RegistryRoot root, std::string_view key, std::string_view name, const char* defaultValue);

void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, int value);
void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, bool value);
void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, std::string_view value);
void WriteReg(RegistryRoot root, std::string_view key, std::string_view name, const char* value);
