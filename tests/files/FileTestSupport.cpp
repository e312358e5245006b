#include "FileTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>

#include "files/converters/ConversionChain.h"
#include "files/riff/RiffWave.h"

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tonalis-files-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<int16_t> ReadSamples16(const std::string& path) {
    const auto bytes = ReadBytes(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

bool HaveTool(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

int RunCommand(const std::string& command, std::string* errors) {
    std::string full = command;
    std::string errorFile;
    if (errors) {
        errorFile =
            (std::filesystem::temp_directory_path() / ("tonalis-cmd-" + std::to_string(::getpid()))).string();
        full = "(" + command + ") 2>'" + errorFile + "'";
    }
    const int status = std::system(full.c_str());
    if (errors) {
        const auto bytes = ReadBytes(errorFile);
        errors->assign(bytes.begin(), bytes.end());
        std::remove(errorFile.c_str());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string& ReferenceFixtures() {
    static TempFolder folder;
    static const std::string path = [] {
        if (!HaveTool("sox") || !HaveTool("ffmpeg")) return std::string();
        const char* source = std::getenv("TONALIS_SOURCE_DIR");
        const std::string script = std::string(source ? source : ".") + "/tests/files/make-fixtures";
        std::string errors;
        if (RunCommand("'" + script + "' '" + folder.Path() + "'", &errors) != 0)
            throw std::runtime_error("make-fixtures failed: " + errors);
        return folder.Path();
    }();
    return path;
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void PutId(std::vector<uint8_t>& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}

std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& data, int64_t size, bool pad) {
    std::vector<uint8_t> out;
    PutId(out, id);
    PutU32(out, static_cast<uint32_t>(size < 0 ? static_cast<int64_t>(data.size()) : size));
    out.insert(out.end(), data.begin(), data.end());
    if (pad && (data.size() & 1)) out.push_back(0);
    return out;
}

std::vector<uint8_t> FormatBytes(const WAVEFORMATEX& format, int bytes) {
    std::vector<uint8_t> out(bytes, 0);
    std::memcpy(out.data(), &format, std::min<size_t>(bytes, sizeof format));
    return out;
}

std::vector<uint8_t> RiffImage(const std::vector<std::vector<uint8_t>>& chunks, int64_t riffSize) {
    std::vector<uint8_t> body;
    PutId(body, "WAVE");
    for (const auto& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    std::vector<uint8_t> out;
    PutId(out, "RIFF");
    PutU32(out, static_cast<uint32_t>(riffSize < 0 ? static_cast<int64_t>(body.size()) : riffSize));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

DecodedWave DecodeWave(const std::string& path, uint32_t readBytes) {
    DecodedWave result;
    PRiffWaveInfo info;
    result.result = RiffWaveOpen(path, info);
    if (result.result != rcOK) return result;
    result.format = CopyWaveFormat(info->Format.get());
    result.channels = info->Format->nChannels;
    if (RiffWaveReopen(info.get()) != rcOK) {
        result.result = rcFileError;
        return result;
    }
    std::vector<uint8_t> data;
    std::vector<uint8_t> piece(readBytes);
    for (int32_t n; (n = RiffWaveRead(info.get(), piece.data(), static_cast<int32_t>(piece.size()))) > 0;)
        data.insert(data.end(), piece.begin(), piece.begin() + n);
    RiffWaveFinish(info.get());

    const WAVEFORMATEX* f = info->Format.get();
    const WAVEFORMATEX target = PcmBuildFormat(16, f->nChannels, f->nSamplesPerSec);
    std::vector<uint8_t> out;
    if (!FormatsDiffer(f, &target)) {
        out = data;
    } else {
        auto chain = CreateConversion(f, &target, cqLow, readBytes);
        if (!chain) {
            result.result = -2;
            return result;
        }
        size_t at = 0;
        while (at < data.size()) {
            const uint32_t n =
                static_cast<uint32_t>(std::min<size_t>(ConversionInputRoom(*chain), data.size() - at));
            std::memcpy(ConversionInput(*chain), data.data() + at, n);
            at += n;
            const int32_t produced = ConvertChunk(*chain, n);
            if (produced < 0) {
                result.result = -3;
                return result;
            }
            out.insert(out.end(), ConversionOutput(*chain), ConversionOutput(*chain) + produced);
        }
        const int32_t produced = DrainConversion(*chain, 0);
        if (produced > 0)
            out.insert(out.end(), ConversionOutput(*chain), ConversionOutput(*chain) + produced);
    }
    result.pcm.resize(out.size() / 2);
    std::memcpy(result.pcm.data(), out.data(), result.pcm.size() * 2);
    return result;
}
