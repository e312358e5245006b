#include "files/riff/RiffWave.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "files/codecs/SampleIO.h"

namespace {

constexpr int32_t DefaultBufferBytes = 8192;
// The most bytes a fmt chunk can mean: the 18-byte record and cbSize extra bytes.
constexpr int64_t LargestFormatBytes = sizeof(WAVEFORMATEX) + 0xFFFF;
// Room kept for the chunks written after the data, so a finished file still fits its header.
constexpr int64_t TrailerReserve = 2 * RiffMetadataCap + 0x10000;

// The conversions of the stream layer, at 64-bit width and with its rounding.
int64_t bytesToSamples(const WAVEFORMATEX* f, int64_t bytes) {
    return f ? MulDivRound(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec) : 0;
}
int64_t samplesToBytes(const WAVEFORMATEX* f, int64_t samples) {
    if (!f) return 0;
    int64_t n = MulDivRound(samples, f->nAvgBytesPerSec, f->nSamplesPerSec);
    if (f->nBlockAlign > 0 && n > 0 && n % f->nBlockAlign != 0) n += f->nBlockAlign - n % f->nBlockAlign;
    return n;
}

bool readAt(BufferedFile& file, int64_t offset, void* data, int64_t bytes) {
    return file.Seek(offset) && file.Read(data, bytes) == bytes;
}

bool writeU32At(BufferedFile& file, int64_t offset, uint32_t v) {
    uint8_t b[4];
    StoreU32(b, v);
    return file.Seek(offset) && file.Write(b, 4) == 4;
}

// Step 1 of opening: read-write where the file allows it, else read-only.
std::unique_ptr<BufferedFile> openExisting(const std::string& name) {
    if (::access(name.c_str(), W_OK) == 0)
        if (auto file = BufferedFile::Open(name, BufferedFile::Access::ReadWrite, DefaultBufferBytes))
            return file;
    return BufferedFile::Open(name, BufferedFile::Access::Read, DefaultBufferBytes);
}

bool isRiffWaveHeader(BufferedFile& file) {
    uint8_t h[12];
    return readAt(file, 0, h, 12) && LoadU32(h) == FourCCRiff && LoadU32(h + 8) == FourCCWave;
}

int formatBytesToWrite(const WAVEFORMATEX* f) {
    return f->wFormatTag == WAVE_FORMAT_PCM ? 16 : WaveFormatSize(f);
}

void updateRecordSize(TRiffWaveInfo& info) {
    info.RecordSize = static_cast<uint32_t>(sizeof(TRiffWaveInfo) + std::max(0, info.FormatBytes));
}

// Reads the `fmt ` data; the chunk is bounded already.
int readFormat(BufferedFile& file, TRiffWaveInfo& info, int64_t dataStart, int64_t size) {
    if (size < 16) return rcNoFormat;
    const int64_t bytes = std::min(size, LargestFormatBytes);
    WaveFormatPtr format = AllocWaveFormat(static_cast<int>(std::max<int64_t>(bytes, sizeof(WAVEFORMATEX))));
    if (!readAt(file, dataStart, format.get(), bytes)) return rcFileError;
    WAVEFORMATEX& f = *format;
    if (f.wFormatTag == WAVE_FORMAT_PCM || size < 18)
        f.cbSize = 0;
    else
        f.cbSize = static_cast<uint16_t>(std::min<int64_t>(f.cbSize, bytes - 18));
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        f.nBlockAlign =
            static_cast<uint16_t>(static_cast<uint16_t>(uint32_t{f.wBitsPerSample} * f.nChannels) / 8);
        f.nAvgBytesPerSec = static_cast<uint32_t>(f.nBlockAlign) * f.nSamplesPerSec;
    }
    if (f.nChannels == 0 || f.nSamplesPerSec == 0 || f.nBlockAlign == 0 || f.nAvgBytesPerSec == 0)
        return rcNoFormat;
    info.FormatBytes = static_cast<int32_t>(std::max<int64_t>(bytes, sizeof(WAVEFORMATEX)));
    info.Format = std::move(format);
    return rcOK;
}

// Appends an INFO list's bytes (after its type) and notes where each known item's text lies.
bool readInfo(BufferedFile& file, TRiffWaveInfo& info, int64_t offset, int64_t bytes) {
    const int64_t room = RiffMetadataCap - static_cast<int64_t>(info.InfoBytes.size());
    const int64_t n = std::min(bytes, room);
    if (n <= 0) return true;
    const int64_t base = static_cast<int64_t>(info.InfoBytes.size());
    info.InfoBytes.resize(static_cast<size_t>(base + n));
    if (!readAt(file, offset, info.InfoBytes.data() + base, n)) {
        info.InfoBytes.resize(static_cast<size_t>(base));
        return false;
    }
    const auto* list = reinterpret_cast<const uint8_t*>(info.InfoBytes.data() + base);
    const bool capped = n < bytes;
    for (int64_t at = 0; at + 8 <= n;) {
        const uint32_t id = LoadU32(list + at);
        const int64_t size = LoadU32(list + at + 4);
        const int64_t text = at + 8;
        const int index = RiffInfoIndex(id);
        // An item the cap cut in two is not taken: its text would be a fragment.
        if (index >= 0 && !(capped && text + size > n)) {
            const int64_t limit = std::min(text + size, n);
            const auto* zero =
                static_cast<const uint8_t*>(std::memchr(list + text, 0, static_cast<size_t>(limit - text)));
            TRiffInfoItem& item = info.InfoList[index];
            item = {};
            item.Offset = base + text;
            item.Length = zero ? zero - (list + text) : limit - text;
        }
        at = text + size + (size & 1);
    }
    return true;
}

int64_t dispBytes(const TRiffWaveInfo& info) {
    int64_t total = 0;
    for (const auto& item : info.DispList)
        total += static_cast<int64_t>(item.Data.size());
    return total;
}

bool readDisp(BufferedFile& file, TRiffWaveInfo& info, int64_t offset, int64_t size) {
    const int64_t data = size - 4;
    if (data + dispBytes(info) > RiffMetadataCap) return true; // too large to keep: dropped
    uint8_t type[4];
    TRiffDispItem item;
    item.Data.resize(static_cast<size_t>(data));
    if (!readAt(file, offset, type, 4) || (data > 0 && !readAt(file, offset + 4, item.Data.data(), data)))
        return false;
    item.ClipboardType = LoadU32(type);
    info.DispList.push_back(std::move(item));
    return true;
}

int parse(BufferedFile& file, TRiffWaveInfo& info) {
    const int64_t fileSize = file.Size();
    if (fileSize < 12 || fileSize > RiffLargestFile) return rcFileError;
    uint8_t h[12];
    if (!readAt(file, 0, h, 12) || LoadU32(h) != FourCCRiff || LoadU32(h + 8) != FourCCWave)
        return rcFileError;
    const int64_t riffEnd = std::min<int64_t>(8 + int64_t{LoadU32(h + 4)}, fileSize);
    info.RiffChunk = {FourCCRiff, static_cast<uint32_t>(riffEnd - 8), FourCCWave, 8, false};
    info.FileSize = fileSize;

    bool seenFormat = false, seenData = false, seenFact = false;
    int64_t endOfData = fileSize;
    for (int64_t at = 12; at + 8 <= fileSize;) {
        uint8_t header[8];
        if (!readAt(file, at, header, 8)) {
            if (seenData) break;
            return rcFileError;
        }
        const uint32_t id = LoadU32(header);
        const int64_t declared = LoadU32(header + 4);
        const int64_t dataStart = at + 8;
        int64_t size = declared;
        if (dataStart + size > riffEnd) {
            if (seenFormat && seenData) break;
            if (dataStart + size > fileSize) size = fileSize - dataStart;
        }
        bool ok = true;
        if (id == FourCCList) {
            uint8_t type[4];
            if (size >= 4 && (ok = readAt(file, dataStart, type, 4)) && LoadU32(type) == FourCCInfo) {
                if (!seenData) info.MetadataBeforeData.push_back(at);
                if (size > 4) ok = readInfo(file, info, dataStart + 4, size - 4);
            }
        } else if (id == FourCCDisp) {
            if (!seenData) info.MetadataBeforeData.push_back(at);
            if (size > 4) ok = readDisp(file, info, dataStart, size);
        } else if (id == FourCCFmt) {
            if (seenFormat) break;
            seenFormat = true;
            const int rc = readFormat(file, info, dataStart, size);
            if (rc != rcOK) return rc;
            info.FormatChunkOffset = at;
        } else if (id == FourCCData) {
            if (seenData) break;
            seenData = true;
            info.DataOffset = dataStart;
            if (declared > 0 && dataStart + declared <= fileSize) {
                endOfData = dataStart + declared;
            } else {
                // No usable size: this is the last chunk and the file's end ends it.
                endOfData = fileSize;
                break;
            }
        } else if (id == FourCCFact) {
            if (seenFact) break;
            seenFact = true;
            if (!seenData) info.MetadataBeforeData.push_back(at);
            uint8_t value[4];
            if (size >= 4 && (ok = readAt(file, dataStart, value, 4))) info.FactSamples = LoadU32(value);
        }
        if (!ok) {
            if (seenData) break;
            return rcFileError;
        }
        at = dataStart + size + (size & 1);
    }
    if (!seenFormat) return rcNoFormat;

    const WAVEFORMATEX* f = info.Format.get();
    if (seenData) info.DataSize = (endOfData - info.DataOffset) / f->nBlockAlign * f->nBlockAlign;
    info.DataChunk = {FourCCData, static_cast<uint32_t>(info.DataSize), 0, info.DataOffset, false};
    info.TotalSamples = bytesToSamples(f, info.DataSize);
    info.StartSample = 0;
    info.EndSample = info.TotalSamples;
    info.Position = 0;
    info.BytesLeft = 0;
    updateRecordSize(info);
    return rcOK;
}

std::string infoText(const TRiffWaveInfo& info, const TRiffInfoItem& item) {
    if (item.Replaced) return item.Text;
    if (item.Offset < 0 || item.Offset + item.Length > static_cast<int64_t>(info.InfoBytes.size())) return {};
    return info.InfoBytes.substr(static_cast<size_t>(item.Offset), static_cast<size_t>(item.Length));
}

bool writeMetadata(BufferedFile& file, const TRiffWaveInfo& info) {
    for (const auto& item : info.DispList) {
        if ((item.ClipboardType != 1 && item.ClipboardType != 8) || item.Data.empty() || item.Data[0] == 0)
            continue;
        std::vector<uint8_t> chunk(4 + item.Data.size());
        StoreU32(chunk.data(), item.ClipboardType);
        std::memcpy(chunk.data() + 4, item.Data.data(), item.Data.size());
        if (!RiffWriteChunk(file, FourCCDisp, chunk.data(), static_cast<uint32_t>(chunk.size())))
            return false;
    }
    bool anyText = false;
    for (const auto& item : info.InfoList)
        anyText = anyText || !infoText(info, item).empty();
    if (!anyText) return true;
    RiffChunkDescriptor list;
    if (!RiffCreateChunk(file, list, FourCCList, FourCCInfo)) return false;
    for (int i = 0; i < RiffInfoCount; ++i) {
        const std::string text = infoText(info, info.InfoList[i]);
        if (text.empty()) continue;
        if (!RiffWriteChunk(file, LoadU32(reinterpret_cast<const uint8_t*>(RiffInfoTable[i].id)),
                            text.c_str(), static_cast<uint32_t>(text.size() + 1)))
            return false;
    }
    return RiffAscend(file, list);
}

// Where a new file is written until it is finished: a fresh hidden name beside the target.
std::unique_ptr<BufferedFile> createTemporary(const std::string& target, std::string& tempName) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path path(target);
    const std::filesystem::path dir =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "." + path.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(random() % 1000000);
        tempName = (dir / name).string();
        if (auto file = BufferedFile::CreateNew(tempName, DefaultBufferBytes)) return file;
        if (errno != EEXIST) break;
    }
    tempName.clear();
    return nullptr;
}

// A target that is a symbolic link is replaced where it points, so the link survives.
std::string resolveTarget(const std::string& name) {
    std::error_code error;
    if (std::filesystem::is_symlink(name, error)) {
        auto resolved = std::filesystem::canonical(name, error);
        if (!error) return resolved.string();
    }
    return name;
}

void closeHandle(TRiffWaveInfo& info) {
    if (info.Handle) info.Handle->Close();
    info.Handle.reset();
}

void discardTemporary(TRiffWaveInfo& info) {
    if (!info.TempName.empty()) ::unlink(info.TempName.c_str());
    info.TempName.clear();
    info.Created = false;
}

} // namespace

TRiffWaveInfo::~TRiffWaveInfo() {
    closeHandle(*this);
    if (Created) discardTemporary(*this);
}

int RiffWaveOpen(const std::string& name, PRiffWaveInfo& info) {
    info.reset();
    if (name.empty()) return rcBadParam;
    if (!RiffValidName(name)) return rcFileError;
    auto file = openExisting(name);
    if (!file) return rcFileError;
    auto record = std::make_unique<TRiffWaveInfo>();
    record->FileName = name;
    const int rc = parse(*file, *record);
    file->Close();
    if (rc != rcOK) return rc;
    info = std::move(record);
    return rcOK;
}

bool IsRiffWaveFile(const std::string& name) {
    PRiffWaveInfo info;
    return RiffWaveOpen(name, info) == rcOK;
}

int RiffWaveFromFormat(const WAVEFORMATEX* format, PRiffWaveInfo& info) {
    info.reset();
    if (!format) return rcBadParam;
    auto record = std::make_unique<TRiffWaveInfo>();
    record->FormatBytes = std::max<int32_t>(WaveFormatSize(format), sizeof(WAVEFORMATEX));
    record->Format = AllocWaveFormat(record->FormatBytes);
    std::memcpy(record->Format.get(), format, static_cast<size_t>(WaveFormatSize(format)));
    WAVEFORMATEX& f = *record->Format;
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        f.cbSize = 0;
        f.nBlockAlign =
            static_cast<uint16_t>(static_cast<uint16_t>(uint32_t{f.wBitsPerSample} * f.nChannels) / 8);
        f.nAvgBytesPerSec = static_cast<uint32_t>(f.nBlockAlign) * f.nSamplesPerSec;
    }
    // A header we could not read back is refused here rather than written.
    if (f.nChannels == 0 || f.nSamplesPerSec == 0 || f.nBlockAlign == 0 || f.nAvgBytesPerSec == 0)
        return rcBadParam;
    updateRecordSize(*record);
    info = std::move(record);
    return rcOK;
}

int RiffWaveCreate(TRiffWaveInfo* info, const std::string& name) {
    if (!info || !info->Format || name.empty()) return rcBadParam;
    if (!RiffValidName(name) || info->Handle) return rcFileError;
    const std::string target = resolveTarget(name);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0))
        return rcFileError;

    std::string tempName;
    auto file = createTemporary(target, tempName);
    if (!file) return rcFileError;
    const WAVEFORMATEX* f = info->Format.get();
    RiffChunkDescriptor riff, data;
    const bool ok = RiffCreateChunk(*file, riff, FourCCRiff, FourCCWave) &&
                    RiffWriteChunk(*file, FourCCFmt, f, static_cast<uint32_t>(formatBytesToWrite(f))) &&
                    RiffCreateChunk(*file, data, FourCCData);
    if (!ok) {
        file->Close();
        ::unlink(tempName.c_str());
        return rcFileError;
    }
    info->Handle = std::move(file);
    info->TempName = tempName;
    info->Created = true;
    info->FileName = name;
    info->RiffChunk = riff;
    info->DataChunk = data;
    info->FormatChunkOffset = 12;
    info->MetadataBeforeData.clear();
    info->DataOffset = data.dwDataOffset;
    info->DataSize = 0;
    info->TotalSamples = info->EndSample = info->StartSample = 0;
    info->Position = info->BytesLeft = 0;
    info->ReadFailed = false;
    return rcOK;
}

int RiffWaveReopen(TRiffWaveInfo* info) {
    if (!info) return rcBadParam;
    if (!info->Handle) {
        auto file = openExisting(info->FileName);
        if (!file || !isRiffWaveHeader(*file)) return rcFileError;
        info->Handle = std::move(file);
        info->Created = false;
        info->DataChunk = {FourCCData, static_cast<uint32_t>(info->DataSize), 0, info->DataOffset, false};
        info->RiffChunk.dwDataOffset = 8;
        info->ReadFailed = false;
    }
    if (RiffWaveSeek(info, info->Position) != rcOK) {
        closeHandle(*info);
        return rcFileError;
    }
    return rcOK;
}

int RiffWaveSetIOBuffer(TRiffWaveInfo* info, int32_t bytes) {
    if (!info) return rcBadParam;
    if (!info->Handle || bytes < 0) return rcNoFormat;
    return info->Handle->SetBufferSize(bytes) ? rcOK : rcFileError;
}

int RiffWaveSeek(TRiffWaveInfo* info, int64_t sample) {
    if (!info || !info->Format) return rcBadParam;
    if (sample < 0) return rcFileError;
    const WAVEFORMATEX* f = info->Format.get();
    // Seeking to the length itself is allowed, so an empty file seeks to 0.
    sample = std::min(sample, std::max<int64_t>(0, info->EndSample - info->StartSample));
    const int64_t offset = std::min(samplesToBytes(f, info->StartSample + sample), info->DataSize);
    if (info->Handle) {
        uint8_t header[8];
        if (info->DataOffset < 8 || !readAt(*info->Handle, info->DataOffset - 8, header, 8) ||
            LoadU32(header) != FourCCData || !info->Handle->Seek(info->DataOffset + offset))
            return rcFileError;
    }
    // The end of the data is its byte size, not what the sample arithmetic makes of it: with a
    // compressed format's byte rate the two need not agree, and no data may become unreachable.
    const int64_t end = info->EndSample >= info->TotalSamples
                            ? info->DataSize
                            : std::min(samplesToBytes(f, info->EndSample), info->DataSize);
    info->BytesLeft = std::max<int64_t>(0, end - offset);
    info->Position = bytesToSamples(f, offset) - info->StartSample;
    return rcOK;
}

int32_t RiffWaveRead(TRiffWaveInfo* info, uint8_t* buffer, int32_t bytes) {
    if (!info || !info->Handle) return -1;
    if (bytes <= 0 || !buffer) return 0;
    const int64_t wanted = std::min<int64_t>(bytes, info->BytesLeft);
    int64_t got = wanted > 0 ? info->Handle->Read(buffer, wanted) : 0;
    if (got < 0) got = 0;
    if (got < wanted) {
        info->BytesLeft = 0;
        info->ReadFailed = true;
    } else {
        info->BytesLeft = std::max<int64_t>(0, info->BytesLeft - got);
    }
    info->Position = std::max<int64_t>(0, info->EndSample - info->StartSample -
                                              bytesToSamples(info->Format.get(), info->BytesLeft));
    return static_cast<int32_t>(got);
}

int32_t RiffWaveWrite(TRiffWaveInfo* info, const uint8_t* buffer, int32_t bytes) {
    if (!info || !info->Handle || bytes <= 0) return -1;
    if (!buffer || !info->Handle->Writable()) return 0;
    // What a RIFF header cannot describe is never written.
    if (info->Handle->Tell() + bytes + TrailerReserve > RiffLargestFile) return 0;
    const int64_t written = info->Handle->Write(buffer, bytes);
    if (written <= 0) return 0;
    const WAVEFORMATEX* f = info->Format.get();
    info->DataChunk.dirty = true;
    const int64_t offset = info->Handle->Tell() - info->DataOffset;
    info->Position = bytesToSamples(f, offset);
    info->DataSize = std::max(info->DataSize, offset);
    if (info->Position > info->TotalSamples) info->TotalSamples = info->EndSample = info->Position;
    info->BytesLeft = samplesToBytes(f, info->EndSample - info->Position);
    return static_cast<int32_t>(written);
}

int RiffWaveFinish(TRiffWaveInfo* info) {
    if (!info) return rcBadParam;
    if (!info->Handle) return rcOK;
    if (!info->DataChunk.dirty) {
        closeHandle(*info);
        info->BytesLeft = info->Position = 0;
        return rcOK;
    }
    BufferedFile& file = *info->Handle;
    const WAVEFORMATEX* f = info->Format.get();
    const bool created = info->Created;
    bool ok = file.Flush();
    if (ok && !created) {
        // An existing file: what followed the data is written anew, so fact and metadata chunks
        // before the data become filler (they follow the data now; a second fact would end a walk).
        info->DataChunk.dwDataOffset = info->DataOffset;
        for (int64_t at : info->MetadataBeforeData)
            ok = ok && writeU32At(file, at, MakeFourCC("JUNK"));
    }
    // The data ends after the last sample written, wherever the position was left.
    ok = ok && file.Seek(info->DataOffset + info->DataSize) && RiffAscend(file, info->DataChunk);
    if (ok && !created && info->FormatChunkOffset > info->DataOffset)
        ok = RiffWriteChunk(file, FourCCFmt, f, static_cast<uint32_t>(formatBytesToWrite(f)));
    if (ok && f->wFormatTag != WAVE_FORMAT_PCM) {
        uint8_t value[4];
        StoreU32(value, static_cast<uint32_t>(std::min<int64_t>(info->TotalSamples, UINT32_MAX)));
        ok = RiffWriteChunk(file, FourCCFact, value, 4);
    }
    ok = ok && writeMetadata(file, *info);
    const int64_t end = file.Tell();
    ok = ok && end <= RiffLargestFile && writeU32At(file, 4, static_cast<uint32_t>(end - 8)) &&
         file.Truncate(end);
    ok = file.Close() && ok;
    info->Handle.reset();
    if (ok && created) ok = ::rename(info->TempName.c_str(), resolveTarget(info->FileName).c_str()) == 0;
    if (created) {
        if (ok) info->TempName.clear();
        discardTemporary(*info);
    }
    info->BytesLeft = info->Position = 0;
    if (!ok) return rcFileError;
    info->FileSize = end;
    info->DataChunk.cksize = static_cast<uint32_t>(info->DataSize);
    info->RiffChunk.cksize = static_cast<uint32_t>(end - 8);
    info->EndSample = info->TotalSamples;
    info->MetadataBeforeData.clear();
    if (info->FormatChunkOffset > info->DataOffset) info->FormatChunkOffset = 0;
    return rcOK;
}

void RiffWaveFree(PRiffWaveInfo& info) {
    info.reset();
}

bool RiffDeleteFile(const std::string& name) {
    return !name.empty() && ::unlink(name.c_str()) == 0;
}

bool RiffFileExists(const std::string& name) {
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0;
}

bool RiffValidName(const std::string& name) {
    if (name.empty() || name.size() >= PATH_MAX || name.find('\0') != std::string::npos) return false;
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    if (upper.find("RESOURCE://") != std::string::npos || upper.find("POINTER://") != std::string::npos)
        return false;
    if (name.back() == '/') return false;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t slash = name.find('/', start);
        const size_t end = slash == std::string::npos ? name.size() : slash;
        if (end - start > NAME_MAX) return false;
        if (slash == std::string::npos) {
            const std::string last = name.substr(start);
            return last != "." && last != "..";
        }
        start = slash + 1;
    }
    return true;
}

std::string RiffInfoText(const TRiffWaveInfo& info, int index) {
    if (index < 0 || index >= RiffInfoCount) return {};
    return infoText(info, info.InfoList[index]);
}

void RiffSetInfoText(TRiffWaveInfo& info, int index, const std::string& text) {
    if (index < 0 || index >= RiffInfoCount) return;
    TRiffInfoItem& item = info.InfoList[index];
    item = {};
    item.Replaced = true;
    item.Text = text.substr(0, text.find('\0'));
}
