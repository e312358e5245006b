#pragma once
// Helpers of the file tests: temporary folders, whole-file I/O, WAVE images built in code, the
// reference fixtures made by sox and ffmpeg, and a decode of any WAVE file to 16-bit PCM through
// the RIFF layer and the codec service.

#include <cstdint>
#include <string>
#include <vector>

#include "stream/WaveFormat.h"

// A fresh folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<int16_t> ReadSamples16(const std::string& path);

bool HaveTool(const std::string& name);
// Runs a shell command; returns its exit status and what it wrote to stderr.
int RunCommand(const std::string& command, std::string* errors = nullptr);

// The folder of fixtures made by make-fixtures for this test run; empty when sox or ffmpeg is missing.
const std::string& ReferenceFixtures();

// Little-endian building blocks of RIFF images.
void PutU16(std::vector<uint8_t>& out, uint16_t v);
void PutU32(std::vector<uint8_t>& out, uint32_t v);
void PutId(std::vector<uint8_t>& out, const char* id);
// A chunk: id, the size (the data length unless given), the data, and a pad byte for odd sizes
// (only when `pad` is true).
std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& data, int64_t size = -1,
                           bool pad = true);
std::vector<uint8_t> FormatBytes(const WAVEFORMATEX& format, int bytes = 16);
// "RIFF" size "WAVE" and the chunks; the RIFF size counts everything after it unless given.
std::vector<uint8_t> RiffImage(const std::vector<std::vector<uint8_t>>& chunks, int64_t riffSize = -1);

struct DecodedWave {
    int result = -1;          // the RIFF open result
    WaveFormatPtr format;     // the file's format
    std::vector<int16_t> pcm; // the decode, interleaved
    int channels = 0;
};
// Reads the whole file through the RIFF layer and converts it to 16-bit PCM of its own channels
// and rate with a conversion chain, reading in pieces of `readBytes`.
DecodedWave DecodeWave(const std::string& path, uint32_t readBytes = 5000);
