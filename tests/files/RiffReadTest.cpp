// Reading WAVE files: the chunk walk, where the data ends, metadata, and data access.

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "FileTestSupport.h"
#include "files/riff/RiffWave.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) {
    return PcmBuildFormat(bits, channels, rate);
}

std::vector<uint8_t> bytes(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 13);
    return v;
}

std::vector<uint8_t> fmt(const WAVEFORMATEX& f) {
    return Chunk("fmt ", FormatBytes(f));
}

std::vector<uint8_t> infoList(const std::vector<std::pair<const char*, std::string>>& items) {
    std::vector<uint8_t> body;
    PutId(body, "INFO");
    for (const auto& [id, text] : items) {
        std::vector<uint8_t> t(text.begin(), text.end());
        t.push_back(0);
        auto c = Chunk(id, t);
        body.insert(body.end(), c.begin(), c.end());
    }
    return Chunk("LIST", body);
}

class RiffRead : public ::testing::Test {
protected:
    std::string write(const std::vector<uint8_t>& image, const char* name = "in.wav") {
        const std::string path = folder.File(name);
        WriteBytes(path, image);
        return path;
    }
    PRiffWaveInfo open(const std::vector<uint8_t>& image, int expected = rcOK) {
        PRiffWaveInfo info;
        EXPECT_EQ(RiffWaveOpen(write(image), info), expected);
        EXPECT_EQ(info != nullptr, expected == rcOK);
        return info;
    }
    TempFolder folder;
};

TEST_F(RiffRead, ParsesAPlainPcmFile) {
    auto info = open(RiffImage({fmt(pcm(16, 2, 44100)), Chunk("data", bytes(4000))}));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->DataOffset, 44);
    EXPECT_EQ(info->DataSize, 4000);
    EXPECT_EQ(info->TotalSamples, 1000);
    EXPECT_EQ(info->EndSample, 1000);
    EXPECT_EQ(info->StartSample, 0);
    EXPECT_EQ(info->FileSize, 4044);
    EXPECT_EQ(info->Mode, RiffModeDiskFile);
    EXPECT_EQ(info->Handle, nullptr);   // closed again after parsing
    EXPECT_EQ(info->Format->cbSize, 0); // a 16-byte PCM chunk
    EXPECT_GE(info->FormatBytes, 18);
    EXPECT_GE(info->RecordSize, sizeof(TRiffWaveInfo) + 18);
    const WAVEFORMATEX expected = pcm(16, 2, 44100);
    EXPECT_TRUE(IsSameWaveFormat(info->Format.get(), &expected));
}

TEST_F(RiffRead, FindsWhereTheDataEnds) {
    const auto f = fmt(pcm(16, 2, 22050));
    const auto list = infoList({{"INAM", "Name"}});
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        int64_t dataSize;
    } cases[] = {
        {"a recording stopped before its header was completed: up to the end, whole blocks",
         RiffImage({f, Chunk("data", bytes(1003), 0, false)}), 1000},
        {"a size past the end of the file", RiffImage({f, Chunk("data", bytes(400), 10000)}), 400},
        {"size 0xFFFFFFF8", RiffImage({f, Chunk("data", bytes(402), 0xFFFFFFF8)}), 400},
        {"metadata after the data stays out of it", RiffImage({f, Chunk("data", bytes(800)), list}), 800},
        {"data before fmt", RiffImage({Chunk("data", bytes(40)), f}), 40},
        {"a second data chunk ends the walk",
         RiffImage({f, Chunk("data", bytes(40)), Chunk("data", bytes(80))}), 40},
        {"a second fmt ends the walk before the data", RiffImage({f, f, Chunk("data", bytes(40))}), 0},
        {"a RIFF size beyond the file is cut", RiffImage({f, Chunk("data", bytes(40))}, 1 << 30), 40},
        {"a RIFF size short of the data", RiffImage({f, Chunk("data", bytes(40))}, 4), 40},
        {"an odd chunk with its pad byte first",
         RiffImage({Chunk("junk", bytes(3)), f, Chunk("data", bytes(8))}), 8},
        {"no data chunk", RiffImage({f}), 0},
    };
    for (const auto& c : cases) {
        PRiffWaveInfo info;
        ASSERT_EQ(RiffWaveOpen(write(c.image), info), rcOK) << c.what;
        EXPECT_EQ(info->DataSize, c.dataSize) << c.what;
        EXPECT_EQ(info->TotalSamples, c.dataSize / 4) << c.what;
    }
}

TEST_F(RiffRead, MendsPcmHeadersAndBoundsExtraBytes) {
    WAVEFORMATEX wrong = pcm(16, 2, 44100);
    wrong.nBlockAlign = 3;
    wrong.nAvgBytesPerSec = 7;
    auto info = open(RiffImage({fmt(wrong), Chunk("data", bytes(8))}));
    EXPECT_EQ(info->Format->nBlockAlign, 4);
    EXPECT_EQ(info->Format->nAvgBytesPerSec, 176400u);

    WAVEFORMATEX ima{};
    ima.wFormatTag = 0x11;
    ima.nChannels = 1;
    ima.nSamplesPerSec = 22050;
    ima.nAvgBytesPerSec = 11100;
    ima.nBlockAlign = 512;
    ima.wBitsPerSample = 4;
    ima.cbSize = 200; // the chunk holds 2 extra bytes only
    auto extra = FormatBytes(ima, 20);
    extra[18] = 0xF9;
    extra[19] = 0x03;
    info = open(RiffImage({Chunk("fmt ", extra), Chunk("data", bytes(1024))}));
    EXPECT_EQ(info->Format->cbSize, 2);
    EXPECT_EQ(WaveFormatSize(info->Format.get()), 20);
    EXPECT_EQ(info->DataSize, 1024);
}

TEST_F(RiffRead, KeepsKnownInfoItemsAndDispItems) {
    std::vector<uint8_t> unterminated;
    PutId(unterminated, "INFO");
    auto known = Chunk("IART", {'A', 'r', 't', 0});
    unterminated.insert(unterminated.end(), known.begin(), known.end());
    PutId(unterminated, "ICMT");
    PutU32(unterminated, 50); // runs past the list: the text ends with the list
    for (char ch : std::string("tail"))
        unterminated.push_back(static_cast<uint8_t>(ch));
    std::vector<uint8_t> disp;
    PutU32(disp, 1);
    for (char ch : std::string("Hello"))
        disp.push_back(static_cast<uint8_t>(ch));
    disp.push_back(0);
    auto info = open(
        RiffImage({fmt(pcm(8, 1, 8000)),
                   infoList({{"INAM", "First name"}, {"XXXX", "ignored"}, {"ICOP", std::string("C\0D", 3)}}),
                   Chunk("data", bytes(10)), Chunk("DISP", disp), Chunk("LIST", unterminated)}));
    ASSERT_TRUE(info);
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("INAM")), "First name");
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("ICOP")), "C"); // up to the first zero byte
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("IART")), "Art");
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("ICMT")), "tail");
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("ISFT")), "");
    EXPECT_EQ(RiffInfoIndex("XXXX"), -1);
    ASSERT_EQ(info->DispList.size(), 1u);
    EXPECT_EQ(info->DispList[0].ClipboardType, 1u);
    EXPECT_EQ(info->DispList[0].Data.size(), 6u);
    EXPECT_EQ(info->DataSize, 10);
}

TEST_F(RiffRead, SeeksAndReadsSampleData) {
    const auto data = bytes(4000);
    PRiffWaveInfo info;
    ASSERT_EQ(
        RiffWaveOpen(
            write(RiffImage({fmt(pcm(16, 2, 44100)), Chunk("data", data), infoList({{"INAM", "x"}})})), info),
        rcOK);
    uint8_t buffer[5000];
    EXPECT_EQ(RiffWaveRead(info.get(), buffer, 10), -1); // not open
    ASSERT_EQ(RiffWaveReopen(info.get()), rcOK);
    EXPECT_EQ(RiffWaveSeek(info.get(), 250), rcOK);
    EXPECT_EQ(info->Position, 250);
    EXPECT_EQ(info->BytesLeft, 3000);
    ASSERT_EQ(RiffWaveRead(info.get(), buffer, 8), 8);
    EXPECT_EQ(std::memcmp(buffer, data.data() + 1000, 8), 0);
    EXPECT_EQ(info->Position, 252);
    EXPECT_EQ(RiffWaveRead(info.get(), buffer, 5000), 2992); // never into the LIST after the data
    EXPECT_EQ(info->Position, 1000);
    EXPECT_EQ(RiffWaveRead(info.get(), buffer, 10), 0);
    EXPECT_FALSE(info->ReadFailed);
    EXPECT_EQ(RiffWaveSeek(info.get(), 5000), rcOK); // clamped to the length itself
    EXPECT_EQ(info->Position, 1000);
    EXPECT_EQ(info->BytesLeft, 0);
    EXPECT_EQ(RiffWaveSeek(info.get(), -1), rcFileError);
    EXPECT_EQ(RiffWaveFinish(info.get()), rcOK);
    EXPECT_EQ(info->Handle, nullptr);
}

TEST_F(RiffRead, ReadsAllDataWhateverTheByteRateSays) {
    WAVEFORMATEX odd{};
    odd.wFormatTag = 0x11;
    odd.nChannels = 1;
    odd.nSamplesPerSec = 8000;
    odd.nBlockAlign = 256;
    odd.wBitsPerSample = 4;
    for (uint32_t rate : {0xF6FF1000u, 1u}) { // far too many bytes a second, or far too few
        odd.nAvgBytesPerSec = rate;
        PRiffWaveInfo info;
        ASSERT_EQ(
            RiffWaveOpen(write(RiffImage({Chunk("fmt ", FormatBytes(odd, 18)), Chunk("data", bytes(512))})),
                         info),
            rcOK);
        ASSERT_EQ(RiffWaveReopen(info.get()), rcOK);
        std::vector<uint8_t> got(1000);
        EXPECT_EQ(RiffWaveRead(info.get(), got.data(), 1000), 512) << rate;
        EXPECT_GE(info->Position, 0);
        EXPECT_FALSE(info->ReadFailed);
    }
}

TEST_F(RiffRead, SeeksAnEmptyFileToItsStart) {
    PRiffWaveInfo info;
    ASSERT_EQ(RiffWaveOpen(write(RiffImage({fmt(pcm(16, 1, 8000)), Chunk("data", {})})), info), rcOK);
    EXPECT_EQ(RiffWaveReopen(info.get()), rcOK);
    EXPECT_EQ(RiffWaveSeek(info.get(), 0), rcOK);
    uint8_t b[4];
    EXPECT_EQ(RiffWaveRead(info.get(), b, 4), 0);
}

TEST_F(RiffRead, ReportsAReadCutShortByTheFile) {
    const std::string path = write(RiffImage({fmt(pcm(16, 2, 44100)), Chunk("data", bytes(4000))}));
    PRiffWaveInfo info;
    ASSERT_EQ(RiffWaveOpen(path, info), rcOK);
    ASSERT_EQ(RiffWaveReopen(info.get()), rcOK);
    ASSERT_EQ(::truncate(path.c_str(), 44 + 1000), 0);
    ASSERT_EQ(RiffWaveSetIOBuffer(info.get(), 0), rcOK); // nothing cached from before the cut
    std::vector<uint8_t> buffer(4000);
    EXPECT_EQ(RiffWaveRead(info.get(), buffer.data(), 4000), 1000);
    EXPECT_TRUE(info->ReadFailed);
    EXPECT_EQ(info->BytesLeft, 0);
}

TEST_F(RiffRead, SetsTheIoBufferOnlyWhileOpen) {
    PRiffWaveInfo info;
    const auto data = bytes(4000);
    ASSERT_EQ(RiffWaveOpen(write(RiffImage({fmt(pcm(8, 1, 8000)), Chunk("data", data)})), info), rcOK);
    EXPECT_EQ(RiffWaveSetIOBuffer(info.get(), 16384), rcNoFormat);
    EXPECT_EQ(RiffWaveSetIOBuffer(nullptr, 16384), rcBadParam);
    ASSERT_EQ(RiffWaveReopen(info.get()), rcOK);
    EXPECT_EQ(RiffWaveSetIOBuffer(info.get(), -1), rcNoFormat);
    std::vector<uint8_t> got(4000);
    int at = 0;
    for (int32_t size : {0, 7, 100000, 3}) {
        EXPECT_EQ(RiffWaveSetIOBuffer(info.get(), size), rcOK);
        at += RiffWaveRead(info.get(), got.data() + at, 1000);
    }
    EXPECT_EQ(got, data);
}

TEST_F(RiffRead, RecognisesWaveFilesAndNames) {
    EXPECT_TRUE(IsRiffWaveFile(write(RiffImage({fmt(pcm(8, 1, 8000)), Chunk("data", bytes(2))}))));
    EXPECT_FALSE(IsRiffWaveFile(write(bytes(100), "text.wav")));
    EXPECT_FALSE(IsRiffWaveFile(folder.File("missing.wav")));
    EXPECT_FALSE(IsRiffWaveFile(folder.Path()));
    struct Case {
        std::string name;
        bool valid;
    } names[] = {{"a.wav", true},
                 {"/tmp/x/y.wav", true},
                 {"", false},
                 {"dir/", false},
                 {"..", false},
                 {"resource://x.wav", false},
                 {"POINTER://1234", false},
                 {std::string("a\0b", 3), false},
                 {std::string(300, 'n'), false}};
    for (const auto& c : names)
        EXPECT_EQ(RiffValidName(c.name), c.valid) << c.name;
    const std::string path = write(bytes(3), "gone.wav");
    EXPECT_TRUE(RiffFileExists(path));
    EXPECT_TRUE(RiffDeleteFile(path));
    EXPECT_FALSE(RiffFileExists(path));
    EXPECT_FALSE(RiffDeleteFile(path));
}

} // namespace
