#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "files/id3/ID3v1Tag.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        char tmpl[] = "/tmp/tonalis-id3-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

void writeFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
std::vector<uint8_t> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> block(const char* title, uint8_t b125, uint8_t b126, uint8_t genre) {
    std::vector<uint8_t> b(128, 0);
    std::memcpy(b.data(), "TAG", 3);
    std::memcpy(b.data() + 3, title, std::strlen(title));
    std::memset(b.data() + 97, 'c', 30);
    b[125] = b125;
    b[126] = b126;
    b[127] = genre;
    return b;
}

TEST(TID3v1Tag, ParsesBothVersions) {
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        bool noTrack;
        int track;
        size_t commentLength;
    } cases[] = {
        {"1.1 with track", block("Song", 0, 7, 17), false, 7, 28},
        {"1.0: byte 125 set wins over byte 126", block("Song", 'x', 'y', 17), true, 0, 30},
        {"1.1 marker without track is 1.0", block("Song", 0, 0, 17), true, 0, 28},
    };
    for (const auto& c : cases) {
        TID3v1Tag tag;
        tag.ParseTag(c.data.data(), c.data.size());
        EXPECT_TRUE(tag.HasTag) << c.name;
        EXPECT_EQ(tag.Title, "Song") << c.name;
        EXPECT_EQ(tag.NoTrack, c.noTrack) << c.name;
        EXPECT_EQ(tag.Track, c.track) << c.name;
        EXPECT_EQ(tag.Comment.size(), c.commentLength) << c.name;
        EXPECT_EQ(tag.GenreName, "Rock") << c.name;
    }
}

TEST(TID3v1Tag, TextFieldsStripPaddingAndStopAtZero) {
    auto b = block("Title   \t ", 0, 0, 0);
    std::memcpy(b.data() + 33, "Art\0ist", 7);
    TID3v1Tag tag;
    tag.ParseTag(b.data(), 128);
    EXPECT_EQ(tag.Title, "Title");
    EXPECT_EQ(tag.Artist, "Art");
}

TEST(TID3v1Tag, GenreNames) {
    EXPECT_EQ(ID3GenreNames().size(), 148u);
    EXPECT_EQ(ID3GenreName(0), "Blues");
    EXPECT_EQ(ID3GenreName(140), "Contemporary Ch?");
    EXPECT_EQ(ID3GenreName(147), "Synthpop");
    EXPECT_EQ(ID3GenreName(200), "");
    EXPECT_EQ(MpegGenreName(40), "Alt. Rock");
    EXPECT_EQ(MpegGenreName(123), "A capella");
    EXPECT_EQ(MpegGenreName(17), "Rock");
    EXPECT_EQ(MpegGenreName(126), "");
    auto b = block("x", 0, 0, 200);
    TID3v1Tag tag;
    tag.ParseTag(b.data(), 128);
    EXPECT_EQ(tag.GenreName, "");
}

TEST(TID3v1Tag, FieldsAreCutAndMarkModified) {
    TID3v1Tag tag;
    tag.SetTrack(3);
    tag.SetField(5, std::string(30, 'c'));
    EXPECT_EQ(tag.Comment.size(), 28u);
    tag.SetField(3, "19999");
    EXPECT_EQ(tag.Year, "1999");
    tag.Modified = false;
    tag.SetField(1, "");
    EXPECT_FALSE(tag.Modified);
    tag.SetGenre(13);
    EXPECT_TRUE(tag.Modified);
    EXPECT_EQ(tag.GenreName, "Pop");
}

TEST(TID3v1Tag, SaveWritesSpacePaddedBlock) {
    TID3v1Tag tag;
    tag.SetField(1, "Hi");
    tag.SetTrack(9);
    tag.SetGenre(8);
    uint8_t small[127];
    try {
        tag.SaveToBuffer(small, sizeof small);
        FAIL();
    } catch (const EID3Error& e) {
        EXPECT_STREQ(e.what(), "TID3v1Tag.Save: Buffer too small");
    }
    uint8_t b[128];
    tag.SaveToBuffer(b, sizeof b);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 5), "TAGHi");
    EXPECT_EQ(b[5], ' ');
    EXPECT_EQ(b[32], ' ');
    EXPECT_EQ(b[125], 0);
    EXPECT_EQ(b[126], 9);
    EXPECT_EQ(b[127], 8);
    EXPECT_FALSE(tag.Modified);
}

TEST(TID3v1Tag, FileSaveReplacesOrAppendsAndRemoveCuts) {
    TempDir dir;
    const auto file = dir.path / "song.mp3";
    writeFile(file, std::vector<uint8_t>(127, 0xAA));

    TID3v1Tag tag;
    tag.LoadFromFile(file);
    EXPECT_FALSE(tag.HasTag);
    tag.SetField(1, "First");
    tag.SaveToFile(file);
    EXPECT_EQ(fs::file_size(file), 255u);
    tag.SetField(1, "Second");
    tag.SaveToFile(file); // overwrites, no second tag
    EXPECT_EQ(fs::file_size(file), 255u);

    TID3v1Tag back;
    back.LoadFromFile(file);
    EXPECT_TRUE(back.HasTag);
    EXPECT_EQ(back.Title, "Second");

    back.RemoveFromFile(file);
    EXPECT_EQ(readFile(file), std::vector<uint8_t>(127, 0xAA));
    back.RemoveFromFile(file); // no tag: unchanged
    EXPECT_EQ(fs::file_size(file), 127u);

    EXPECT_THROW(back.LoadFromFile(dir.path / "missing.mp3"), std::system_error);
}

} // namespace
