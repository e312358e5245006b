// libFuzzer target for the RIFF/WAVE reader: any bytes as a file, opened, read, sought, decoded
// through the codec service, described, and rewritten in place. Violated invariants abort.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "files/converters/ConversionChain.h"
#include "files/riff/FormatNames.h"
#include "files/riff/RiffWave.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

const std::string& scratchFile() {
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/tonalis-riff-fuzz-" + std::to_string(getpid()) + ".wav";
    }();
    return path;
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Decodes up to 64 KiB of the data to 16-bit PCM of its own shape and to a small PCM format.
void decode(const WAVEFORMATEX* format, const std::vector<uint8_t>& data) {
    WaveFormatPtr pcm = PcmEquivalent(format);
    const WAVEFORMATEX small = PcmBuildFormat(8, 1, 11025);
    for (const WAVEFORMATEX* target : {static_cast<const WAVEFORMATEX*>(pcm.get()), &small}) {
        if (!target) continue;
        auto chain = CreateConversion(format, target, cqLow, 4096);
        if (!chain) continue;
        size_t at = 0;
        while (at < data.size() && at < 65536) {
            const uint32_t n =
                static_cast<uint32_t>(std::min<size_t>(ConversionInputRoom(*chain), data.size() - at));
            require(n > 0, "the chain takes input");
            std::memcpy(ConversionInput(*chain), data.data() + at, n);
            at += n;
            if (ConvertChunk(*chain, n) < 0) break;
        }
        DrainConversion(*chain, 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string& path = scratchFile();
    if (!writeFile(path, bytes, size)) return 0;

    PRiffWaveInfo info;
    const int rc = RiffWaveOpen(path, info);
    require(rc == rcOK || rc == rcNoFormat || rc == rcFileError, "known result code");
    require((rc == rcOK) == (info != nullptr), "a record exactly on success");
    if (!info) return 0;
    require(info->DataSize >= 0 && info->DataOffset + info->DataSize <= static_cast<int64_t>(size),
            "data inside the file");
    require(static_cast<int64_t>(info->InfoBytes.size()) <= RiffMetadataCap, "INFO capped");
    require(info->Format && info->FormatBytes >= 18, "format of at least 18 bytes");

    std::string tag, text;
    DescribeFormat(info->Format.get(), tag, text);
    FormatDescription(info->Format.get());
    for (int i = 0; i < RiffInfoCount; ++i)
        RiffInfoText(*info, i);

    if (RiffWaveReopen(info.get()) != rcOK) return 0;
    std::vector<uint8_t> data;
    std::vector<uint8_t> piece(1000);
    for (int32_t n; (n = RiffWaveRead(info.get(), piece.data(), static_cast<int32_t>(piece.size()))) > 0;)
        data.insert(data.end(), piece.begin(), piece.begin() + n);
    require(static_cast<int64_t>(data.size()) == info->DataSize, "all of the data, and no more");
    require(!info->ReadFailed, "no short read of an unchanged file");
    require(RiffWaveSeek(info.get(), info->TotalSamples / 2) == rcOK, "seek inside");
    require(RiffWaveSeek(info.get(), info->TotalSamples + 5) == rcOK, "seek beyond clamps");
    require(info->BytesLeft == 0 || info->Position <= info->EndSample, "position within the range");
    decode(info->Format.get(), data);

    // Append one block and finish: the file must open again with the block added.
    const int64_t before = info->DataSize;
    const int block = info->Format->nBlockAlign;
    if (block <= 4096 && RiffWaveSeek(info.get(), info->TotalSamples) == rcOK) {
        info->Handle->Seek(info->DataOffset + info->DataSize);
        std::vector<uint8_t> extra(static_cast<size_t>(block), 0);
        RiffSetInfoText(*info, RiffInfoIndex("ISFT"), "fuzz");
        if (RiffWaveWrite(info.get(), extra.data(), block) == block) {
            require(RiffWaveFinish(info.get()) == rcOK, "finish of a rewritten file");
            PRiffWaveInfo again;
            require(RiffWaveOpen(path, again) == rcOK, "a rewritten file opens");
            require(again->DataSize == before + block, "a rewritten file keeps its data and the new block");
            require(RiffInfoText(*again, RiffInfoIndex("ISFT")) == "fuzz", "a rewritten file keeps its INFO");
        }
    }
    RiffWaveFree(info);
    return 0;
}
