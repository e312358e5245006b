#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>

#include "TempFolder.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsError.h"

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    std::filesystem::path File() const { return dir / "Equalizer.dat"; }
    TempFolder dir;
};

std::string message(const std::function<void()>& body) {
    try {
        body();
    } catch (const ESettingsError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST_F(ProfileFileTest, ReadsValuesByTheProfileRules) {
    struct Case {
        const char* why;
        std::string text;
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"plain", "[Setup]\nQ=6\n", "Setup", "Q", "6"},
        {"CR LF line ends", "[Setup]\r\nQ=6\r\nfAn=20\r\n", "Setup", "fAn", "20"},
        {"byte order mark", "\xEF\xBB\xBF[Setup]\nQ=6\n", "Setup", "Q", "6"},
        {"section and key in another case", "[AnaSetup]\nckbDFS=1\n", "ANASETUP", "CKBdfs", "1"},
        {"letters beyond ASCII in another case", "[Bäss]\nFader1=3\n", "BÄSS", "fader1", "3"},
        {"blanks around key, value and section", "  [  Setup ]  \n  Q   =   6  \t\n", "Setup", "Q", "6"},
        {"blanks around the names asked for", "[Setup]\nQ=6\n", " Setup ", " Q ", "6"},
        {"missing section", "[Setup]\nQ=6\n", "AnaSetup", "Q", std::nullopt},
        {"missing key", "[Setup]\nQ=6\n", "Setup", "fEnd", std::nullopt},
        {"missing file contents", "", "Setup", "Q", std::nullopt},
        {"first of duplicate sections wins", "[Rock]\nFader1=1\n[ROCK]\nFader1=2\n", "rock", "Fader1", "1"},
        {"keys only in a later duplicate are not seen", "[Rock]\nFader1=1\n[rock]\nFader2=2\n", "Rock",
         "Fader2", std::nullopt},
        {"first of duplicate keys wins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
        {"value is raw, quotes and all", "[S]\nk=\"quoted\" 'x'\n", "S", "k", "\"quoted\" 'x'"},
        {"value may hold equals signs", "[S]\nk=a=b\n", "S", "k", "a=b"},
        {"empty value is a value", "[S]\nk=\n", "S", "k", ""},
        {"keys before the first section belong to none", "k=1\n[S]\n", "S", "k", std::nullopt},
        {"comment line", "[S]\n;k=1\n", "S", "k", std::nullopt},
        {"line without equals sign", "[S]\nk\n", "S", "k", std::nullopt},
        {"section name runs to the last bracket", "[a]b]\nk=1\n", "a]b", "k", "1"},
        {"text after the bracket is ignored", "[S] ; note\nk=1\n", "S", "k", "1"},
        {"unclosed header is not a section", "[S]\n[T\nk=1\n", "S", "k", "1"},
        {"empty section name never matches", "[]\nk=1\n", "", "k", std::nullopt},
        {"empty key never matches", "[S]\n=1\n", "S", "", std::nullopt},
        {"last line without line end", "[S]\nk=1", "S", "k", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        WriteText(File(), c.text);
        const ProfileFile ini(File());
        EXPECT_EQ(ini.ValueExists(c.section, c.key), c.expected.has_value());
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected.value_or("<default>"));
    }
}

TEST_F(ProfileFileTest, ReadsIntegersAndBooleans) {
    struct Case {
        const char* text;
        int asInt;   // default 42
        bool asBool; // default true
    } cases[] = {
        {"12", 12, true},
        {"-60", -60, true},
        {"+5", 5, true},
        {"0", 0, false},
        {"2", 2, true},
        {"$1F", 31, true},
        {"0x10", 16, true},
        {"$FFFFFFFF", -1, true},
        {"-2147483648", INT_MIN, true},
        {"2147483647", INT_MAX, true},
        {"2147483648", 42, true},
        {"99999999999999999999", 42, true},
        {"abc", 42, true},
        {"12abc", 42, true},
        {"", 42, true},
        {"true", 42, true},
        {"false", 42, true},
        {"1.5", 42, true},
        {"--1", 42, true},
        {"0x", 42, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WriteText(File(), std::string("[S]\nk=") + c.text + "\n");
        const ProfileFile ini(File());
        EXPECT_EQ(ini.ReadInteger("S", "k", 42), c.asInt);
        EXPECT_EQ(ini.ReadBool("S", "k", true), c.asBool);
    }
    const ProfileFile missing(dir / "none.prj");
    EXPECT_EQ(missing.ReadInteger("AnaSetup", "SpinLS", -60), -60);
    EXPECT_FALSE(missing.ReadBool("AnaSetup", "ckbDFS", false));
}

TEST_F(ProfileFileTest, WritesUseCrLfAndTouchOnlyWhatChanges) {
    struct Case {
        const char* why;
        std::optional<std::string> before; // nothing: no file
        std::function<void(ProfileFile&)> change;
        std::string after;
    };
    const Case cases[] = {
        {"new file", std::nullopt, [](ProfileFile& f) { f.WriteBool("AnaSetup", "ckbDFS", true); },
         "[AnaSetup]\r\nckbDFS=1\r\n"},
        {"changed value keeps the key's spelling, other lines and comments",
         "; presets\n[Rock]\n  FADER1 = 3\nFader2=4 \n",
         [](ProfileFile& f) { f.WriteInteger("rock", "fader1", -12); },
         "; presets\r\n[Rock]\r\nFADER1=-12\r\nFader2=4 \r\n"},
        {"new key goes after the section's last entry, before the blank line",
         "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", [](ProfileFile& f) { f.WriteString("a", "z", "3"); },
         "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
        {"new section goes to the end after a blank line", "[A]\r\nx=1\r\n",
         [](ProfileFile& f) { f.WriteString("SaveDlg", "InitialDir", "/home/u"); },
         "[A]\r\nx=1\r\n\r\n[SaveDlg]\r\nInitialDir=/home/u\r\n"},
        {"writes go to the first of duplicate sections", "[P]\r\nk=1\r\n[p]\r\nk=2\r\n",
         [](ProfileFile& f) { f.WriteString("P", "k", "9"); }, "[P]\r\nk=9\r\n[p]\r\nk=2\r\n"},
        {"deleting a key removes every copy in the section", "[S]\r\nk=1\r\nj=2\r\nK=3\r\n[T]\r\nk=4\r\n",
         [](ProfileFile& f) { f.DeleteKey("s", "k"); }, "[S]\r\nj=2\r\n[T]\r\nk=4\r\n"},
        {"erasing a section removes its duplicates too", "[P]\r\nk=1\r\n[Q]\r\nj=2\r\n[p]\r\nk=3\r\n",
         [](ProfileFile& f) { f.EraseSection("P"); }, "[Q]\r\nj=2\r\n"},
        {"several changes in one update", std::nullopt,
         [](ProfileFile& f) {
             f.Update([](ProfileDocument& d) {
                 d.SetValue("Rock", "Fader1", "1");
                 d.SetValue("Rock", "Fader2", "2");
             });
         },
         "[Rock]\r\nFader1=1\r\nFader2=2\r\n"},
        {"an unchanged value leaves the file alone", "[S]\nk=1\n",
         [](ProfileFile& f) { f.WriteString("S", "k", "1"); }, "[S]\nk=1\n"},
        {"deleting what is not there leaves the file alone", "[S]\nk=1\n",
         [](ProfileFile& f) {
             f.DeleteKey("S", "j");
             f.EraseSection("T");
         },
         "[S]\nk=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::filesystem::remove(File());
        if (c.before) WriteText(File(), *c.before);
        ProfileFile ini(File());
        c.change(ini);
        EXPECT_EQ(ReadText(File()), c.after);
    }
    std::filesystem::remove(File());
    ProfileFile ini(File());
    ini.DeleteKey("S", "k");
    EXPECT_FALSE(std::filesystem::exists(File())) << "nothing to delete must not create the file";
}

TEST_F(ProfileFileTest, WrittenValuesReadBack) {
    ProfileFile ini(File());
    ini.WriteString("OpenDlg", "InitialDir", "c:\\");
    ini.WriteInteger("AnaSetup", "SpinLS", -60);
    ini.WriteBool("Setup", "Auto", false);
    const ProfileFile again(File());
    EXPECT_EQ(again.ReadString("OpenDlg", "InitialDir", ""), "c:\\");
    EXPECT_EQ(again.ReadInteger("AnaSetup", "SpinLS", 0), -60);
    EXPECT_EQ(again.ReadBool("Setup", "Auto", true), false);
    EXPECT_EQ(ini.ReadInteger("AnaSetup", "SpinLS", 0), -60); // the writer sees its own writes
}

TEST_F(ProfileFileTest, PresetNamesDifferingInCaseShareOneSection) {
    ProfileFile ini(File());
    ini.WriteInteger("Rock", "Fader1", 3);
    ini.WriteInteger("ROCK", "Fader1", 5);
    EXPECT_EQ(ini.SectionNames(), std::vector<std::string>{"Rock"});
    EXPECT_EQ(ProfileFile(File()).ReadInteger("rock", "Fader1", 0), 5);
}

TEST_F(ProfileFileTest, ListsSectionsAndKeysOnce) {
    WriteText(File(),
              "top=1\n[Rock]\nFader1=1\n;Fader9=9\nnoise\nfader1=2\nFader2=3\n[Pop]\n[ROCK]\nFader3=4\n[]\n");
    const ProfileFile ini(File());
    EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Rock", "Pop"}));
    EXPECT_EQ(ini.KeyNames("rock"), (std::vector<std::string>{"Fader1", "Fader2"}));
    EXPECT_TRUE(ini.KeyNames("Pop").empty());
    EXPECT_TRUE(ini.KeyNames("Jazz").empty());
    EXPECT_TRUE(ini.SectionExists("POP"));
    EXPECT_FALSE(ini.SectionExists("Jazz"));
}

TEST_F(ProfileFileTest, WriteIntoMissingFolderFailsAndCreatesNothing) {
    const auto file = dir / "Project" / "Default.prj";
    ProfileFile ini(file);
    EXPECT_EQ(message([&] { ini.WriteBool("AnaSetup", "ckbDFS", true); }),
              "Unable to write to " + file.string());
    EXPECT_FALSE(std::filesystem::exists(dir / "Project"));
}

TEST_F(ProfileFileTest, WritesTheFormatCannotHoldFailAndChangeNothing) {
    struct Case {
        const char* why;
        const char *section, *key, *value;
    } cases[] = {
        {"empty section", " ", "k", "v"},
        {"empty key", "S", "", "v"},
        {"key with equals sign", "S", "a=b", "v"},
        {"key that would start a section", "S", "[x]", "v"},
        {"key that would be a comment", "S", ";x", "v"},
        {"line break in the value", "S", "k", "a\r\n[Evil]\r\nx=1"},
        {"line break in the key", "S", "a\nb", "v"},
        {"line break in the section", "S\nT", "k", "v"},
    };
    WriteText(File(), "[S]\nk=1\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ProfileFile ini(File());
        EXPECT_EQ(message([&] { ini.WriteString(c.section, c.key, c.value); }),
                  "Unable to write to " + File().string());
        EXPECT_EQ(ReadText(File()), "[S]\nk=1\n");
    }
}

TEST_F(ProfileFileTest, WritesNeverWorkOnAStaleCopy) {
    ProfileFile first(File());
    ProfileFile second(File()); // read before the first one wrote
    first.WriteInteger("Rock", "Fader1", 1);
    second.WriteInteger("Rock", "Fader2", 2);
    const ProfileFile result(File());
    EXPECT_EQ(result.ReadInteger("Rock", "Fader1", 0), 1);
    EXPECT_EQ(result.ReadInteger("Rock", "Fader2", 0), 2);
}

TEST_F(ProfileFileTest, UnreadableFileReadsAsEmptyAndIsNeverReplaced) {
    std::filesystem::create_directory(File());
    ProfileFile ini(File());
    EXPECT_EQ(ini.ReadInteger("S", "k", 7), 7);
    EXPECT_EQ(message([&] { ini.WriteInteger("S", "k", 1); }), "Unable to write to " + File().string());
    EXPECT_TRUE(std::filesystem::is_directory(File()));
}

TEST_F(ProfileFileTest, EnsureFolderCreatesOrReports) {
    EXPECT_NO_THROW(ProfileFile::EnsureFolder(dir.Path()));
    EXPECT_NO_THROW(ProfileFile::EnsureFolder(dir / "Project"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Project"));
    WriteText(dir / "plain", "x");
    EXPECT_EQ(message([&] { ProfileFile::EnsureFolder(dir / "plain"); }), "Can't create directory");
    EXPECT_EQ(message([&] { ProfileFile::EnsureFolder(dir / "plain" / "Project"); }),
              "Can't create directory");
}

} // namespace
