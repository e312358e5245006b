// Damaged and hostile WAVE files: each gives its result code, never a crash, a hang or an
// allocation its claimed sizes ask for.

#include <gtest/gtest.h>

#include <random>

#include "FileTestSupport.h"
#include "files/riff/RiffWave.h"

namespace {

WAVEFORMATEX pcm(int bits, int channels, uint32_t rate) {
    return PcmBuildFormat(bits, channels, rate);
}

std::vector<uint8_t> fmt(const WAVEFORMATEX& f, int bytes = 16) {
    return Chunk("fmt ", FormatBytes(f, bytes));
}

std::vector<uint8_t> cut(std::vector<uint8_t> v, size_t n) {
    v.resize(std::min(n, v.size()));
    return v;
}

WAVEFORMATEX with(WAVEFORMATEX f, void (*change)(WAVEFORMATEX&)) {
    change(f);
    return f;
}

TEST(RiffRobustness, DamagedFilesGiveTheirResultCodes) {
    TempFolder folder;
    const auto good = RiffImage({fmt(pcm(16, 2, 44100)), Chunk("data", std::vector<uint8_t>(400, 7))});
    WAVEFORMATEX compressed{};
    compressed.wFormatTag = 0x11;
    compressed.nChannels = 1;
    compressed.nSamplesPerSec = 8000;
    compressed.nBlockAlign = 256;
    compressed.nAvgBytesPerSec = 4055;
    compressed.wBitsPerSample = 4;
    std::vector<uint8_t> riffx = good;
    riffx[3] = 'X';
    std::vector<uint8_t> avi = good;
    std::copy_n("AVI ", 4, avi.begin() + 8);
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        int result;
        int64_t dataSize;
    } cases[] = {
        {"empty file", {}, rcFileError, 0},
        {"just RIFF", cut(good, 4), rcFileError, 0},
        {"no form type", cut(good, 11), rcFileError, 0},
        {"only the RIFF header", cut(good, 12), rcNoFormat, 0},
        {"not RIFF", riffx, rcFileError, 0},
        {"not WAVE", avi, rcFileError, 0},
        {"cut inside the fmt chunk", cut(good, 30), rcNoFormat, 0},
        {"cut inside the fmt header", cut(good, 17), rcNoFormat, 0},
        {"cut inside the data", cut(good, 44 + 203), rcOK, 200},
        {"cut after the data header", cut(good, 44), rcOK, 0},
        {"fmt under 16 bytes", RiffImage({fmt(pcm(16, 2, 44100), 14), Chunk("data", {1, 2})}), rcNoFormat, 0},
        {"zero channels", RiffImage({fmt(with(pcm(16, 2, 44100), [](WAVEFORMATEX& f) { f.nChannels = 0; }))}),
         rcNoFormat, 0},
        {"zero rate",
         RiffImage({fmt(with(pcm(16, 2, 44100), [](WAVEFORMATEX& f) { f.nSamplesPerSec = 0; }))}), rcNoFormat,
         0},
        {"PCM of zero bits",
         RiffImage({fmt(with(pcm(16, 2, 44100), [](WAVEFORMATEX& f) { f.wBitsPerSample = 0; }))}), rcNoFormat,
         0},
        {"PCM of 50629 channels of 50629 bits: the block align is taken in 16 bits",
         RiffImage({fmt(with(pcm(16, 2, 8000),
                             [](WAVEFORMATEX& f) {
                                 f.nChannels = 50629;
                                 f.wBitsPerSample = 50629;
                             })),
                    Chunk("data", {1, 2, 3, 4})}),
         rcOK, 0},
        {"compressed without block align",
         RiffImage({fmt(with(compressed, [](WAVEFORMATEX& f) { f.nBlockAlign = 0; }), 18)}), rcNoFormat, 0},
        {"compressed without byte rate",
         RiffImage({fmt(with(compressed, [](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 0; }), 18)}), rcNoFormat,
         0},
        {"a 0xFFFFFFF8 chunk before the format",
         RiffImage({Chunk("junk", {1, 2, 3, 4}, 0xFFFFFFF8), fmt(pcm(8, 1, 8000))}), rcNoFormat, 0},
        {"a 0xFFFFFFF8 fmt chunk", RiffImage({Chunk("fmt ", FormatBytes(pcm(8, 1, 8000), 40), 0xFFFFFFF8)}),
         rcOK, 0},
        {"a 0xFFFFFFF8 LIST after the data",
         RiffImage({fmt(pcm(8, 1, 8000)), Chunk("data", {1, 2, 3, 4}),
                    Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N'}, 0xFFFFFFF8)}),
         rcOK, 4},
        {"a 0xFFFFFFF8 DISP before the data",
         RiffImage({fmt(pcm(8, 1, 8000)), Chunk("DISP", {1, 0, 0, 0, 'a'}, 0xFFFFFFF8)}), rcOK, 0},
        {"an INFO item claiming 4 GiB",
         RiffImage({fmt(pcm(8, 1, 8000)),
                    Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0xF8, 0xFF, 0xFF, 0xFF, 'x'}),
                    Chunk("data", {9})}),
         rcOK, 1},
    };
    for (const auto& c : cases) {
        const std::string path = folder.File("damaged.wav");
        WriteBytes(path, c.image);
        PRiffWaveInfo info;
        EXPECT_EQ(RiffWaveOpen(path, info), c.result) << c.what;
        if (info) {
            EXPECT_EQ(info->DataSize, c.dataSize) << c.what;
            EXPECT_LE(static_cast<int64_t>(info->InfoBytes.size()), RiffMetadataCap) << c.what;
            EXPECT_EQ(RiffWaveReopen(info.get()) == rcOK, info->DataOffset > 0) << c.what;
            std::vector<uint8_t> buffer(1024);
            while (RiffWaveRead(info.get(), buffer.data(), 1024) > 0) {
            }
            RiffWaveFinish(info.get());
        }
    }
}

TEST(RiffRobustness, KeepsOnlyTheCappedPartOfAHugeList) {
    TempFolder folder;
    std::vector<uint8_t> list;
    PutId(list, "INFO");
    const std::string text(100000, 'a');
    for (int i = 0; i < 30; ++i) { // 3 MB of items, the wanted one last
        std::vector<uint8_t> t(text.begin(), text.end());
        t.push_back(0);
        auto c = Chunk(i == 29 ? "INAM" : "ICMT", t);
        list.insert(list.end(), c.begin(), c.end());
    }
    std::vector<uint8_t> bigDisp(2 << 20, 1);
    PutU32(bigDisp, 1);
    const std::string path = folder.File("huge.wav");
    WriteBytes(path, RiffImage({fmt(pcm(8, 1, 8000)), Chunk("LIST", list), Chunk("DISP", bigDisp),
                                Chunk("data", {1, 2})}));
    PRiffWaveInfo info;
    ASSERT_EQ(RiffWaveOpen(path, info), rcOK);
    EXPECT_EQ(static_cast<int64_t>(info->InfoBytes.size()), RiffMetadataCap);
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("ICMT")).size(), text.size());
    EXPECT_EQ(RiffInfoText(*info, RiffInfoIndex("INAM")), ""); // beyond the cap
    EXPECT_TRUE(info->DispList.empty());                       // too large to keep
    EXPECT_EQ(info->DataSize, 2);
}

TEST(RiffRobustness, SurvivesRandomDamage) {
    TempFolder folder;
    std::vector<uint8_t> info;
    PutId(info, "INFO");
    auto item = Chunk("INAM", {'a', 'b', 0});
    info.insert(info.end(), item.begin(), item.end());
    const auto good = RiffImage({fmt(pcm(16, 2, 44100)), Chunk("fact", {1, 0, 0, 0}),
                                 Chunk("data", std::vector<uint8_t>(64, 3)), Chunk("LIST", info),
                                 Chunk("DISP", {1, 0, 0, 0, 'h', 'i', 0})});
    std::mt19937 random(20240611);
    const std::string path = folder.File("random.wav");
    for (int round = 0; round < 3000; ++round) {
        auto image = good;
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int k = 0; k < changes; ++k) {
            const size_t at = random() % image.size();
            switch (random() % 4) {
            case 0:
                image[at] = static_cast<uint8_t>(random());
                break;
            case 1:
                image[at] = 0xFF;
                break;
            case 2:
                image.resize(at);
                break;
            default:
                image.insert(image.begin() + static_cast<long>(at), static_cast<uint8_t>(random()));
                break;
            }
            if (image.empty()) image.push_back(0);
        }
        WriteBytes(path, image);
        PRiffWaveInfo record;
        const int rc = RiffWaveOpen(path, record);
        ASSERT_TRUE(rc == rcOK || rc == rcNoFormat || rc == rcFileError) << round;
        if (record) {
            ASSERT_GE(record->DataSize, 0);
            ASSERT_LE(record->DataOffset + record->DataSize, static_cast<int64_t>(image.size())) << round;
        }
    }
}

} // namespace
