#pragma once
// The names of wave formats the windows show: the format-tag name ("IMA ADPCM") and the one-line
// description ("44.100 kHz, 16 Bit, Stereo").

#include <string>

#include "stream/WaveFormat.h"

// The name from the system's own tag table; "Unknown" for a tag not in it or no format.
std::string FormatTagName(const WAVEFORMATEX* format);

// "<kHz with three decimals>, <bits> Bit, Mono|Stereo|<n> Channels" with the current regional
// separators. The bits are derived from the byte rate, so a compressed format shows its effective
// bits per sample. "Unknown" for no format.
std::string FormatDescription(const WAVEFORMATEX* format);

// Both texts, asking the codec service first and falling back to the two functions above.
void DescribeFormat(const WAVEFORMATEX* format, std::string& tagName, std::string& description);
