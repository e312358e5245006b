// The buffered file against a plain in-memory model: any mix of reads, writes, seeks, flushes,
// truncations and buffer changes leaves the same bytes.

#include <gtest/gtest.h>

#include <random>

#include "FileTestSupport.h"
#include "files/riff/BufferedFile.h"

namespace {

TEST(BufferedFile, AgreesWithAModelUnderRandomUse) {
    TempFolder folder;
    std::mt19937 random(77);
    for (int32_t initialBuffer : {0, 1, 7, 512, 8192}) {
        const std::string path = folder.File("model-" + std::to_string(initialBuffer));
        auto file = BufferedFile::CreateNew(path, initialBuffer);
        ASSERT_TRUE(file);
        std::vector<uint8_t> model;
        int64_t position = 0;
        for (int step = 0; step < 4000; ++step) {
            const int op = static_cast<int>(random() % 100);
            const int64_t n = 1 + random() % (random() % 8 == 0 ? 20000 : 300);
            if (op < 35) { // write
                std::vector<uint8_t> data(n);
                for (auto& b : data)
                    b = static_cast<uint8_t>(random());
                ASSERT_EQ(file->Write(data.data(), n), n);
                if (model.size() < static_cast<size_t>(position + n)) model.resize(position + n, 0);
                std::copy(data.begin(), data.end(), model.begin() + position);
                position += n;
            } else if (op < 70) { // read
                std::vector<uint8_t> data(n);
                const int64_t got = file->Read(data.data(), n);
                const int64_t expected = std::max<int64_t>(0, std::min<int64_t>(n, model.size() - position));
                ASSERT_EQ(got, expected) << step;
                ASSERT_TRUE(std::equal(data.begin(), data.begin() + got, model.begin() + position)) << step;
                position += got;
            } else if (op < 90) { // seek, sometimes past the end (a later write leaves zeros)
                position = random() % (model.size() + 100);
                ASSERT_TRUE(file->Seek(position));
            } else if (op < 94) {
                ASSERT_TRUE(
                    file->SetBufferSize(static_cast<int32_t>(random() % 3 == 0 ? 0 : random() % 5000)));
            } else if (op < 97) {
                ASSERT_TRUE(file->Flush());
            } else {
                const int64_t length = random() % (model.size() + 1);
                ASSERT_TRUE(file->Truncate(length));
                model.resize(length);
            }
            ASSERT_EQ(file->Tell(), position);
            ASSERT_EQ(file->Size(), static_cast<int64_t>(model.size())) << step;
        }
        ASSERT_TRUE(file->Close());
        EXPECT_EQ(ReadBytes(path), model);
    }
}

TEST(BufferedFile, OpensOnlyRegularFilesAndHonoursReadOnly) {
    TempFolder folder;
    EXPECT_FALSE(BufferedFile::Open(folder.Path(), BufferedFile::Access::Read));
    EXPECT_FALSE(BufferedFile::Open(folder.File("missing"), BufferedFile::Access::Read));
    WriteBytes(folder.File("r"), {1, 2, 3});
    auto file = BufferedFile::Open(folder.File("r"), BufferedFile::Access::Read);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->Writable());
    EXPECT_EQ(file->Write("x", 1), -1);
    EXPECT_FALSE(file->Truncate(0));
    EXPECT_FALSE(BufferedFile::CreateNew(folder.File("r"))); // never over an existing file
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(file->Read(nullptr, 0), -1); // closed
}

} // namespace
