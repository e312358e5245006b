#pragma once
// The INFO identifiers of a WAVE file's LIST/INFO chunk: 23 entries in identifier order, each
// with its label and a one-sentence description. Identifiers outside the table are ignored.

#include <cstdint>
#include <string>

struct TRiffInfoId {
    const char* id;
    const char* label;
    const char* description;
};

constexpr int RiffInfoCount = 23;
extern const TRiffInfoId RiffInfoTable[RiffInfoCount];

// The table index of a four-character identifier ("INAM"), or -1.
int RiffInfoIndex(const std::string& id);
int RiffInfoIndex(uint32_t fourcc);
