#pragma once
// The exception class of the settings family; `what()` is the exact text the user sees.

#include <stdexcept>
#include <string>

class ESettingsError : public std::runtime_error {
public:
    explicit ESettingsError(const std::string& text) : std::runtime_error(text) {}
};
