#pragma once
// Registry keys, value names, profile sections and profile keys are compared without regard to
// letter case, over all of Unicode (names are UTF-8), not only over ASCII. Bytes that are not
// valid UTF-8 compare exactly.

#include <string_view>

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
