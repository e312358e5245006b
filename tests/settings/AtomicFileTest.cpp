#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <system_error>

#include "TempFolder.h"
#include "settings/AtomicFile.h"

namespace {

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFile, ReplacesContentsAndLeavesNoTemporary) {
    TempFolder dir;
    WriteText(dir / "a.dat", "old");
    AtomicFile::Replace(dir / "a.dat", "new contents");
    EXPECT_EQ(ReadText(dir / "a.dat"), "new contents");
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.dat"});
}

TEST(AtomicFile, UncommittedWriteLeavesTargetAndRemovesTemporary) {
    TempFolder dir;
    WriteText(dir / "a.dat", "old");
    {
        AtomicFile file(dir / "a.dat");
        file.Write("new");
        EXPECT_TRUE(std::filesystem::exists(file.TemporaryPath()));
        EXPECT_TRUE(file.TemporaryPath().filename().string().starts_with(".a.dat.tmp-"));
    }
    EXPECT_EQ(ReadText(dir / "a.dat"), "old");
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.dat"});
}

TEST(AtomicFile, KillBeforeRenameKeepsOldFileReadable) {
    TempFolder dir;
    WriteText(dir / "a.dat", "old");
    const int status = RunInChild([&] {
        AtomicFile file(dir / "a.dat");
        file.Write("half-done");
        ::raise(SIGKILL);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(AtomicFile::Read(dir / "a.dat"), "old");
    const auto entries = FolderEntries(dir.Path());
    ASSERT_EQ(entries.size(), 2u); // the stray temporary stays beside it
    EXPECT_TRUE(entries[0].starts_with(".a.dat.tmp-"));
}

TEST(AtomicFile, KeepsPermissionsAndFollowsSymbolicLinks) {
    TempFolder dir;
    WriteText(dir / "real.ini", "old");
    ::chmod((dir / "real.ini").c_str(), 0640);
    std::filesystem::create_symlink("real.ini", dir / "link.ini");

    AtomicFile::Replace(dir / "link.ini", "new");

    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(ReadText(dir / "real.ini"), "new");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(AtomicFile, ReadTellsMissingFromUnreadable) {
    TempFolder dir;
    EXPECT_EQ(AtomicFile::Read(dir / "missing"), std::nullopt);
    EXPECT_EQ(AtomicFile::Read(dir / "missing" / "below"), std::nullopt);
    WriteText(dir / "empty", "");
    EXPECT_EQ(AtomicFile::Read(dir / "empty"), "");
    std::filesystem::create_directory(dir / "folder");
    EXPECT_THROW(AtomicFile::Read(dir / "folder"), std::system_error);
}

TEST(AtomicFile, WriteIntoMissingFolderFails) {
    TempFolder dir;
    EXPECT_THROW(AtomicFile::Replace(dir / "Project" / "Default.prj", "x"), std::system_error);
    EXPECT_FALSE(std::filesystem::exists(dir / "Project"));
}

} // namespace
