// Writing WAVE files: header layout, pad bytes, fact, DISP and INFO, replacing files safely,
// rewriting existing ones, and files that sox and ffmpeg read back without a warning.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

#include "FileTestSupport.h"
#include "files/riff/RiffWave.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) {
    return PcmBuildFormat(bits, channels, rate);
}

uint32_t u32(const std::vector<uint8_t>& v, size_t at) {
    uint32_t x;
    std::memcpy(&x, &v[at], 4);
    return x;
}

std::string id(const std::vector<uint8_t>& v, size_t at) {
    return std::string(v.begin() + at, v.begin() + at + 4);
}

size_t filesIn(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// Creates `name` with `format`, writes `data` in pieces of `piece`, and finishes it.
void writeWave(const std::string& name, const WAVEFORMATEX* format, const std::vector<uint8_t>& data,
               const std::vector<std::pair<const char*, std::string>>& info = {}, size_t piece = 1000) {
    PRiffWaveInfo record;
    ASSERT_EQ(RiffWaveFromFormat(format, record), rcOK);
    for (const auto& [key, text] : info)
        RiffSetInfoText(*record, RiffInfoIndex(key), text);
    ASSERT_EQ(RiffWaveCreate(record.get(), name), rcOK);
    for (size_t at = 0; at < data.size(); at += piece) {
        const int32_t n = static_cast<int32_t>(std::min(piece, data.size() - at));
        ASSERT_EQ(RiffWaveWrite(record.get(), data.data() + at, n), n);
    }
    ASSERT_EQ(RiffWaveFinish(record.get()), rcOK);
}

class RiffWrite : public ::testing::Test {
protected:
    TempFolder folder;
};

TEST_F(RiffWrite, LaysOutAPcmHeader) {
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    writeWave(folder.File("a.wav"), &f, {1, 2, 3, 4});
    const auto bytes = ReadBytes(folder.File("a.wav"));
    const std::vector<uint8_t> expected = {
        'R', 'I', 'F', 'F', 40,  0,   0,   0,   'W', 'A', 'V', 'E',                                     //
        'f', 'm', 't', ' ', 16,  0,   0,   0,   1,   0,   2,   0,   0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, //
        4,   0,   16,  0,   'd', 'a', 't', 'a', 4,   0,   0,   0,   1,    2,    3, 4};
    EXPECT_EQ(bytes, expected);
}

TEST_F(RiffWrite, PadsAnOddDataChunk) {
    const WAVEFORMATEX f = pcm(8, 1, 8000);
    writeWave(folder.File("odd.wav"), &f, {0x80, 0x81, 0x82});
    const auto bytes = ReadBytes(folder.File("odd.wav"));
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(u32(bytes, 4), 40u); // the pad byte is counted in the RIFF size
    EXPECT_EQ(u32(bytes, 40), 3u); // but not in the data size
    EXPECT_EQ(bytes[47], 0);
    PRiffWaveInfo info;
    ASSERT_EQ(RiffWaveOpen(folder.File("odd.wav"), info), rcOK);
    EXPECT_EQ(info->DataSize, 3);
}

TEST_F(RiffWrite, AddsFactAfterTheDataOfCompressedFormatsOnly) {
    struct {
        alignas(WAVEFORMATEX) uint8_t bytes[20];
    } raw{};
    auto* ima = reinterpret_cast<WAVEFORMATEX*>(raw.bytes);
    ima->wFormatTag = 0x11;
    ima->nChannels = 1;
    ima->nSamplesPerSec = 22050;
    ima->nBlockAlign = 512;
    ima->nAvgBytesPerSec = 11100;
    ima->wBitsPerSample = 4;
    ima->cbSize = 2;
    raw.bytes[18] = 0xF9;
    raw.bytes[19] = 0x03;
    writeWave(folder.File("ima.wav"), ima, std::vector<uint8_t>(1024, 0x11));
    auto bytes = ReadBytes(folder.File("ima.wav"));
    EXPECT_EQ(u32(bytes, 16), 20u); // 18 + cbSize bytes of format
    EXPECT_EQ(id(bytes, 40), "data");
    EXPECT_EQ(id(bytes, 48 + 1024), "fact");
    EXPECT_EQ(u32(bytes, 48 + 1024 + 8), 2034u); // the frames of two blocks
    EXPECT_EQ(bytes.size(), 48u + 1024 + 12);

    const WAVEFORMATEX p = pcm(16, 1, 8000);
    writeWave(folder.File("pcm.wav"), &p, std::vector<uint8_t>(10, 1));
    EXPECT_EQ(ReadBytes(folder.File("pcm.wav")).size(), 44u + 10);
}

TEST_F(RiffWrite, WritesInfoItemsInTableOrderWithPadding) {
    const WAVEFORMATEX f = pcm(8, 1, 8000);
    writeWave(folder.File("info.wav"), &f, {1, 2},
              {{"ISFT", "x"}, {"INAM", "Song"}, {"ICMT", ""}, {"IART", "Artist"}});
    const auto bytes = ReadBytes(folder.File("info.wav"));
    std::vector<uint8_t> expected;
    PutId(expected, "LIST");
    PutU32(expected, 4 + (8 + 8) + (8 + 6) + (8 + 2));
    PutId(expected, "INFO");
    for (auto [key, text] : {std::pair{"IART", "Artist"}, {"INAM", "Song"}, {"ISFT", "x"}}) {
        PutId(expected, key);
        const std::string t(text);
        PutU32(expected, static_cast<uint32_t>(t.size() + 1));
        expected.insert(expected.end(), t.begin(), t.end());
        expected.push_back(0);
        if ((t.size() + 1) & 1) expected.push_back(0);
    }
    ASSERT_EQ(bytes.size(), 46u + expected.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 46, bytes.end()), expected);
    EXPECT_EQ(u32(bytes, 4), bytes.size() - 8);
    PRiffWaveInfo info;
    ASSERT_EQ(RiffWaveOpen(folder.File("info.wav"), info), rcOK);
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("INAM")), "Song");
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("ICMT")), "");
}

TEST_F(RiffWrite, RewritesDispItemsExactlyAndOnlyTextAndBitmaps) {
    auto disp = [](uint32_t type, std::vector<uint8_t> data) {
        std::vector<uint8_t> d;
        PutU32(d, type);
        d.insert(d.end(), data.begin(), data.end());
        return Chunk("DISP", d);
    };
    // A bitmap whose header claims more bytes than it has: written back as it was read.
    std::vector<uint8_t> bitmap(60, 0);
    bitmap[0] = 40;
    bitmap[20] = 0xFF;
    bitmap[21] = 0xFF; // biSizeImage 65535
    const std::vector<uint8_t> text = {'h', 'i', 0};
    const auto image = RiffImage({Chunk("fmt ", FormatBytes(pcm(8, 1, 8000))), Chunk("data", {1, 2, 3, 4}),
                                  disp(1, text), disp(5, {1, 2, 3}), disp(8, bitmap), disp(1, {0, 'x'})});
    const std::string path = folder.File("disp.wav");
    WriteBytes(path, image);
    PRiffWaveInfo info;
    ASSERT_EQ(RiffWaveOpen(path, info), rcOK);
    ASSERT_EQ(info->DispList.size(), 4u);
    ASSERT_EQ(RiffWaveReopen(info.get()), rcOK);
    ASSERT_EQ(RiffWaveSeek(info.get(), 4), rcOK);
    const uint8_t more[] = {5, 6};
    ASSERT_EQ(RiffWaveWrite(info.get(), more, 2), 2);
    ASSERT_EQ(RiffWaveFinish(info.get()), rcOK);
    const auto expected = RiffImage({Chunk("fmt ", FormatBytes(pcm(8, 1, 8000))),
                                     Chunk("data", {1, 2, 3, 4, 5, 6}), disp(1, text), disp(8, bitmap)});
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(RiffWrite, ReplacesAnExistingFileOnlyWhenFinished) {
    const std::string path = folder.File("keep.wav");
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    WriteBytes(path, old);
    const WAVEFORMATEX f = pcm(16, 1, 8000);
    {
        PRiffWaveInfo record;
        ASSERT_EQ(RiffWaveFromFormat(&f, record), rcOK);
        ASSERT_EQ(RiffWaveCreate(record.get(), path), rcOK);
        const uint8_t data[4] = {1, 2, 3, 4};
        ASSERT_EQ(RiffWaveWrite(record.get(), data, 4), 4);
        EXPECT_EQ(ReadBytes(path), old);
        EXPECT_EQ(filesIn(folder.Path()), 2u); // the file and its temporary
        RiffWaveFree(record);                  // abandoned: the old file stays
    }
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(filesIn(folder.Path()), 1u);

    writeWave(path, &f, {1, 2, 3, 4});
    EXPECT_EQ(ReadBytes(path).size(), 48u);
    EXPECT_EQ(filesIn(folder.Path()), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u); // an ordinary file, not a private temporary

    // Through a symbolic link the file it points to is replaced and the link stays.
    const std::string link = folder.File("link.wav");
    std::filesystem::create_symlink(path, link);
    writeWave(link, &f, std::vector<uint8_t>(8, 9));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(path).size(), 52u);
}

TEST_F(RiffWrite, RefusesWhatItCannotCreate) {
    const WAVEFORMATEX f = pcm(16, 1, 8000);
    PRiffWaveInfo record;
    ASSERT_EQ(RiffWaveFromFormat(&f, record), rcOK);
    EXPECT_EQ(RiffWaveCreate(record.get(), folder.File("missing/x.wav")), rcFileError);
    EXPECT_EQ(RiffWaveCreate(record.get(), folder.Path()), rcFileError);
    EXPECT_EQ(RiffWaveCreate(record.get(), ""), rcBadParam);
    EXPECT_EQ(RiffWaveCreate(nullptr, folder.File("x.wav")), rcBadParam);
    EXPECT_EQ(RiffWaveWrite(record.get(), reinterpret_cast<const uint8_t*>("ab"), 2), -1); // not open
    EXPECT_EQ(filesIn(folder.Path()), 0u);
    WAVEFORMATEX broken = f;
    broken.nChannels = 0;
    EXPECT_EQ(RiffWaveFromFormat(&broken, record), rcBadParam);
    EXPECT_EQ(RiffWaveFromFormat(nullptr, record), rcBadParam);
}

TEST_F(RiffWrite, KeepsTheWholeDataWhenTheWriterSoughtBack) {
    const WAVEFORMATEX f = pcm(8, 1, 8000);
    PRiffWaveInfo record;
    ASSERT_EQ(RiffWaveFromFormat(&f, record), rcOK);
    ASSERT_EQ(RiffWaveCreate(record.get(), folder.File("back.wav")), rcOK);
    const std::vector<uint8_t> data(100, 0x90);
    ASSERT_EQ(RiffWaveWrite(record.get(), data.data(), 100), 100);
    EXPECT_EQ(RiffWaveWrite(record.get(), data.data(), 0), -1);
    ASSERT_EQ(RiffWaveSeek(record.get(), 10), rcOK);
    const uint8_t patch[2] = {1, 2};
    ASSERT_EQ(RiffWaveWrite(record.get(), patch, 2), 2);
    EXPECT_EQ(record->Position, 12);
    EXPECT_EQ(record->TotalSamples, 100);
    ASSERT_EQ(RiffWaveFinish(record.get()), rcOK);
    const auto bytes = ReadBytes(folder.File("back.wav"));
    ASSERT_EQ(bytes.size(), 144u);
    EXPECT_EQ(bytes[44 + 10], 1);
    EXPECT_EQ(bytes[44 + 99], 0x90);
}

TEST_F(RiffWrite, AppendsToAnExistingFileAndCutsWhatIsLeftBehind) {
    // Metadata before and after the data, and a trailing chunk the rewrite does not keep.
    std::vector<uint8_t> info;
    PutId(info, "INFO");
    auto item = Chunk("INAM", {'N', 'a', 'm', 'e', 0});
    info.insert(info.end(), item.begin(), item.end());
    const std::string path = folder.File("grow.wav");
    WriteBytes(path, RiffImage({Chunk("fmt ", FormatBytes(pcm(16, 1, 8000))), Chunk("LIST", info),
                                Chunk("data", std::vector<uint8_t>(20, 1)),
                                Chunk("smpl", std::vector<uint8_t>(300, 2))}));
    PRiffWaveInfo record;
    ASSERT_EQ(RiffWaveOpen(path, record), rcOK);
    ASSERT_EQ(RiffWaveReopen(record.get()), rcOK);
    ASSERT_EQ(RiffWaveSeek(record.get(), record->TotalSamples), rcOK);
    const std::vector<uint8_t> more(6, 3);
    ASSERT_EQ(RiffWaveWrite(record.get(), more.data(), 6), 6);
    EXPECT_EQ(record->TotalSamples, 13);
    ASSERT_EQ(RiffWaveFinish(record.get()), rcOK);

    const auto bytes = ReadBytes(path);
    EXPECT_EQ(id(bytes, 36), "JUNK"); // the old list, now filler
    EXPECT_EQ(u32(bytes, 4), bytes.size() - 8);
    PRiffWaveInfo again;
    ASSERT_EQ(RiffWaveOpen(path, again), rcOK);
    EXPECT_EQ(again->DataSize, 26);
    EXPECT_EQ(RiffInfoText(*again, RiffInfoIndex("INAM")), "Name");
    const size_t dataAt = static_cast<size_t>(again->DataOffset);
    EXPECT_EQ(bytes.size(), dataAt + 26 + 8 + 4 + 14); // data, then only the list: the rest was cut
    EXPECT_EQ(bytes[dataAt + 20], 3);
}

TEST_F(RiffWrite, RewritesACompressedFileWithOneFactChunk) {
    // The layout sox and ffmpeg write: fact before the data, INFO after it.
    WAVEFORMATEX gsm{};
    gsm.wFormatTag = 0x31;
    gsm.nChannels = 1;
    gsm.nSamplesPerSec = 8000;
    gsm.nAvgBytesPerSec = 1625;
    gsm.nBlockAlign = 65;
    gsm.cbSize = 2;
    auto format = FormatBytes(gsm, 20);
    format[18] = 0x40;
    format[19] = 0x01;
    std::vector<uint8_t> info;
    PutId(info, "INFO");
    auto item = Chunk("INAM", {'G', 0});
    info.insert(info.end(), item.begin(), item.end());
    const std::string path = folder.File("gsm.wav");
    WriteBytes(path, RiffImage({Chunk("fmt ", format), Chunk("fact", {0x40, 1, 0, 0}),
                                Chunk("data", std::vector<uint8_t>(65, 1)), Chunk("LIST", info)}));
    PRiffWaveInfo record;
    ASSERT_EQ(RiffWaveOpen(path, record), rcOK);
    ASSERT_EQ(RiffWaveReopen(record.get()), rcOK);
    ASSERT_EQ(RiffWaveSeek(record.get(), record->TotalSamples), rcOK);
    const std::vector<uint8_t> block(65, 2);
    ASSERT_EQ(RiffWaveWrite(record.get(), block.data(), 65), 65);
    ASSERT_EQ(RiffWaveFinish(record.get()), rcOK);

    const auto bytes = ReadBytes(path);
    EXPECT_EQ(id(bytes, 40), "JUNK");
    PRiffWaveInfo again;
    ASSERT_EQ(RiffWaveOpen(path, again), rcOK);
    EXPECT_EQ(again->DataSize, 130);
    EXPECT_EQ(again->FactSamples, 640u);
    EXPECT_EQ(RiffInfoText(*again, RiffInfoIndex("INAM")), "G");
}

TEST_F(RiffWrite, LeavesAFileOpenedOnlyForReadingUntouched) {
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    const std::string path = folder.File("read.wav");
    writeWave(path, &f, std::vector<uint8_t>(400, 5), {{"INAM", "n"}});
    const auto before = ReadBytes(path);
    ::chmod(path.c_str(), 0444);
    PRiffWaveInfo record;
    ASSERT_EQ(RiffWaveOpen(path, record), rcOK);
    ASSERT_EQ(RiffWaveReopen(record.get()), rcOK);
    uint8_t buffer[100];
    EXPECT_EQ(RiffWaveRead(record.get(), buffer, 100), 100);
    if (::geteuid() != 0) {
        EXPECT_EQ(RiffWaveWrite(record.get(), buffer, 4), 0); // a read-only handle
    }
    EXPECT_EQ(RiffWaveFinish(record.get()), rcOK);
    EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(RiffWrite, WritesFilesTheReferenceToolsReadWithoutWarnings) {
    const std::string& fixtures = ReferenceFixtures();
    if (fixtures.empty()) GTEST_SKIP() << "sox or ffmpeg is missing";
    // Messages name the decoder instance by its address; the rest must match.
    auto withoutAddresses = [](std::string text) {
        for (size_t at; (at = text.find(" @ 0x")) != std::string::npos;)
            text.erase(at, text.find(']', at) - at);
        return text;
    };
    // Our copy of each fixture (its format and data through our writer) must decode as the original
    // and draw no message the original does not draw too.
    for (const char* name :
         {"pcm8_mono", "pcm16_stereo", "alaw_stereo", "ima_sox_stereo", "ms_ffmpeg_mono", "gsm_sox"}) {
        PRiffWaveInfo source;
        const std::string original = fixtures + "/" + name + ".wav";
        ASSERT_EQ(RiffWaveOpen(original, source), rcOK) << name;
        ASSERT_EQ(RiffWaveReopen(source.get()), rcOK);
        std::vector<uint8_t> data(static_cast<size_t>(source->DataSize));
        ASSERT_EQ(RiffWaveRead(source.get(), data.data(), static_cast<int32_t>(data.size())),
                  source->DataSize);
        const std::string copy = folder.File(std::string(name) + ".wav");
        writeWave(copy, source->Format.get(), data, {{"INAM", "Copy"}, {"ISFT", "Tonalis"}}, 777);
        for (const char* tool : {"sox", "ffmpeg"}) {
            auto decode = [&](const std::string& file, std::string* errors) {
                const std::string out = copy + "." + tool + ".raw";
                const std::string command =
                    std::string(tool) == "sox"
                        ? "sox -D '" + file + "' -t raw -e signed-integer -b 16 -L '" + out + "'"
                        : "ffmpeg -nostdin -hide_banner -loglevel warning -y -i '" + file +
                              "' -f s16le -c:a pcm_s16le '" + out + "'";
                EXPECT_EQ(RunCommand(command, errors), 0) << name << " " << tool;
                return ReadBytes(out);
            };
            std::string originalErrors, copyErrors;
            const auto expected = decode(original, &originalErrors);
            EXPECT_EQ(decode(copy, &copyErrors), expected) << name << " " << tool;
            const std::string known = withoutAddresses(originalErrors);
            std::istringstream lines(withoutAddresses(copyErrors));
            for (std::string line; std::getline(lines, line);)
                EXPECT_NE(known.find(line), std::string::npos) << name << " " << tool << ": " << line;
        }
    }
}

} // namespace
