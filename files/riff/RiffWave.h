#pragma once
// The RIFF/WAVE file layer: the only reader and writer of WAVE files.
//
// A file is opened and parsed into a per-file record (TRiffWaveInfo) and closed again; the record
// keeps the format, where the sample data lies and how long it is, and the file's INFO and DISP
// metadata. The file is reopened for data access, read or written at sample positions, and
// finished so that every chunk size is right. Operations return result codes and never throw
// (running out of memory aside).
//
// Reading is bounded: offsets are 64-bit, every chunk is held inside its parent and the file, a
// chunk's claimed size never decides an allocation, and INFO and DISP keep at most
// RiffMetadataCap bytes each. The data ends where its chunk says when that lies inside the file;
// otherwise the data chunk is taken as the last one and the file's end ends it (a recording that
// stopped before its header was completed still opens with all its samples).
//
// Writing: a new file is written under a temporary name beside the target and renamed onto it
// when finished, so an existing file survives until its replacement is complete and a failed or
// abandoned file leaves nothing behind. The written order is fixed: fmt, data, fact (formats other
// than PCM), the DISP items, LIST/INFO. A rewritten existing file is cut at its new end.
//
// Threads: a record is used by one thread at a time.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/riff/BufferedFile.h"
#include "files/riff/RiffChunk.h"
#include "files/riff/RiffInfo.h"
#include "stream/WaveFormat.h"

enum TRiffResult : int { rcOK = 0, rcNoFormat = 101, rcBadParam = 104, rcFileError = 106, rcNoMemory = 107 };

constexpr uint32_t RiffModeDiskFile = 1;
constexpr int64_t RiffMetadataCap = 1 << 20;
// The longest file a RIFF header can describe.
constexpr int64_t RiffLargestFile = 8 + int64_t{0xFFFFFFFF};

struct TRiffDispItem {
    uint32_t ClipboardType = 0;
    std::vector<uint8_t> Data; // exactly the bytes read (or to be written) after the type
};

// One INFO item: a text read from the file (a range of InfoBytes), a replacement text, or nothing.
struct TRiffInfoItem {
    int64_t Offset = -1;
    int64_t Length = 0;
    bool Replaced = false;
    std::string Text;
};

struct TRiffWaveInfo {
    TRiffWaveInfo() = default;
    TRiffWaveInfo(const TRiffWaveInfo&) = delete;
    TRiffWaveInfo& operator=(const TRiffWaveInfo&) = delete;
    ~TRiffWaveInfo(); // closes the handle; an unfinished new file is removed

    uint32_t RecordSize = 0; // bytes of the record including the format copy
    uint32_t Mode = RiffModeDiskFile;
    std::unique_ptr<BufferedFile> Handle; // open for data access, else null
    RiffChunkDescriptor RiffChunk, DataChunk;
    int64_t FileSize = 0;
    int64_t DataSize = 0;
    int64_t DataOffset = 0; // 0 when the file has no data chunk
    int64_t TotalSamples = 0;
    int64_t StartSample = 0, EndSample = 0;
    int64_t BytesLeft = 0;
    int64_t Position = 0;
    std::string FileName;
    std::vector<TRiffDispItem> DispList;
    std::array<TRiffInfoItem, RiffInfoCount> InfoList;
    std::string InfoBytes;   // the INFO list bytes read from the file (capped)
    WaveFormatPtr Format;    // at least 18 bytes; bytes beyond the chunk read are zero
    int32_t FormatBytes = 0; // size of the Format allocation

    // Ours, beyond the published record:
    uint32_t FactSamples = 0;      // the fact chunk's value as read (the computed count is the one used)
    bool Created = false;          // made by RiffWaveCreate and not finished yet
    std::string TempName;          // what a created file is written under until it is finished
    bool ReadFailed = false;       // a read ended before the end of the data (the file shrank or failed)
    int64_t FormatChunkOffset = 0; // header offset of the fmt chunk read
    std::vector<int64_t> MetadataBeforeData; // headers of fact, LIST/INFO and DISP chunks before the data
};

using PRiffWaveInfo = std::unique_ptr<TRiffWaveInfo>;

// Opens and parses a file; the file is closed again before it returns. `info` is null on failure.
int RiffWaveOpen(const std::string& name, PRiffWaveInfo& info);
bool IsRiffWaveFile(const std::string& name);
// A new record with a copy of `format`, no INFO texts and no DISP items.
int RiffWaveFromFormat(const WAVEFORMATEX* format, PRiffWaveInfo& info);
// Creates the file and writes its header; the file stays open for writing.
int RiffWaveCreate(TRiffWaveInfo* info, const std::string& name);
// Reopens a parsed file for data access and seeks to its current Position.
int RiffWaveReopen(TRiffWaveInfo* info);
int RiffWaveSetIOBuffer(TRiffWaveInfo* info, int32_t bytes);
// Positions are sample frames from StartSample, clamped to 0 ... EndSample - StartSample.
int RiffWaveSeek(TRiffWaveInfo* info, int64_t sample);
// Bytes read, 0 at the end, -1 when the file is not open.
int32_t RiffWaveRead(TRiffWaveInfo* info, uint8_t* buffer, int32_t bytes);
// Bytes written at the current position, 0 when nothing could be written, -1 when the file is not
// open or `bytes` is 0.
int32_t RiffWaveWrite(TRiffWaveInfo* info, const uint8_t* buffer, int32_t bytes);
// Completes a written file and closes it; closes an unwritten one.
int RiffWaveFinish(TRiffWaveInfo* info);
// Closes the file if it is still open and releases the record.
void RiffWaveFree(PRiffWaveInfo& info);

bool RiffDeleteFile(const std::string& name);
bool RiffFileExists(const std::string& name);
// Whether the name can name a file: not empty, no NUL, a last component that is a name, within
// the system's length limits, and none of the "RESOURCE://" or "POINTER://" pseudo names.
bool RiffValidName(const std::string& name);

// INFO item texts by table index (RiffInfoIndex); empty for none.
std::string RiffInfoText(const TRiffWaveInfo& info, int index);
// Replaces an item's text (cut at a NUL); an empty text removes the item.
void RiffSetInfoText(TRiffWaveInfo& info, int index, const std::string& text);
