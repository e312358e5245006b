#include "files/riff/RiffChunk.h"

#include "files/codecs/SampleIO.h"

namespace {
bool writeU32(BufferedFile& file, uint32_t v) {
    uint8_t b[4];
    StoreU32(b, v);
    return file.Write(b, 4) == 4;
}
} // namespace

bool RiffCreateChunk(BufferedFile& file, RiffChunkDescriptor& chunk, uint32_t ckid, uint32_t fccType) {
    chunk = {};
    chunk.ckid = ckid;
    chunk.fccType = fccType;
    if (!writeU32(file, ckid) || !writeU32(file, 0)) return false;
    chunk.dwDataOffset = file.Tell();
    if (fccType != 0 && !writeU32(file, fccType)) return false;
    chunk.dirty = true;
    return true;
}

bool RiffAscend(BufferedFile& file, RiffChunkDescriptor& chunk) {
    if (chunk.dirty) {
        const int64_t size = file.Tell() - chunk.dwDataOffset;
        if (size < 0 || size > UINT32_MAX) return false;
        chunk.cksize = static_cast<uint32_t>(size);
        if (chunk.cksize & 1) {
            const uint8_t pad = 0;
            if (file.Write(&pad, 1) != 1) return false;
        }
        const int64_t end = file.Tell();
        if (!file.Seek(chunk.dwDataOffset - 4) || !writeU32(file, chunk.cksize) || !file.Seek(end))
            return false;
        chunk.dirty = false;
        return true;
    }
    return file.Seek(chunk.dwDataOffset + chunk.cksize + (chunk.cksize & 1));
}

bool RiffWriteChunk(BufferedFile& file, uint32_t ckid, const void* data, uint32_t bytes) {
    if (!writeU32(file, ckid) || !writeU32(file, bytes)) return false;
    if (bytes > 0 && file.Write(data, bytes) != bytes) return false;
    if (bytes & 1) {
        const uint8_t pad = 0;
        if (file.Write(&pad, 1) != 1) return false;
    }
    return true;
}
