#pragma once
// The list and decimal separators of format texts ("44.100 kHz, 16 Bit, Stereo"), process-wide.
//
// They start as "," and "." and are refreshed from the user's regional settings every time a text is
// built: the decimal separator is the first character of the locale's radix character; the list
// separator becomes ";" where the decimal separator is ",", as regional settings pair them.

#include <cstdint>
#include <string>

struct FormatSeparatorPair {
    char list;
    char decimal;
};

// Re-reads the regional settings (the current values stay when the locale gives none) and returns
// the separators now in force.
FormatSeparatorPair RefreshFormatSeparators();

// "<rate div 1000><decimal><rate mod 1000, three digits> kHz", e.g. "44.100 kHz".
// Refreshes nothing: callers pass the separator they refreshed once for the whole text.
std::string KilohertzText(uint32_t rate, char decimal);
