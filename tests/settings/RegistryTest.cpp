#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <optional>
#include <variant>

#include "TempFolder.h"
#include "settings/AtomicFile.h"
#include "settings/Registry.h"
#include "settings/RegistryKey.h"
#include "settings/RegistryStore.h"
#include "settings/SettingsError.h"

namespace {

constexpr RegistryRoot HKCU = RegistryRoot::CurrentUser;
constexpr const char* MainKey = "Kelmora\\Sonavel 2016";
constexpr const char* EnhancerKey = "Software\\Merrowind\\Enhancer\\Version 017";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { RegistryStore::SetDefaultFolder(dir.Path() / "config"); }
    void TearDown() override { RegistryStore::SetDefaultFolder(std::nullopt); }

    std::filesystem::path Folder() const { return dir.Path() / "config"; }
    std::filesystem::path UserFile() const { return Folder() / "HKCU.reg"; }
    void WriteUserFile(const std::string& text) {
        std::filesystem::create_directories(Folder());
        WriteText(UserFile(), text);
    }

    TempFolder dir;
};

std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// ASCII text as a UTF-16LE file with its byte order mark.
std::string utf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii)
        out += std::string{c, '\0'};
    return out;
}

std::string message(const std::function<void()>& body) {
    try {
        body();
    } catch (const ESettingsError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST_F(Registry, TypedValuesRoundTrip) {
    using Stored = std::variant<int, bool, std::string>;
    const Stored cases[] = {
        0,
        1023,
        -1,
        INT_MIN,
        INT_MAX,
        true,
        false,
        std::string(""),
        std::string("skins\\mxskin56.skn"),
        std::string("say \"hi\" \\\"there\\\""),
        std::string("ends in a backslash\\"),
        std::string("  spaced  \t"),
        std::string("two\nlines\r\nand a CR\r"),
        std::string("nul\0inside", 10),
        std::string("\0", 1),
        std::string("Grüße ✓ 𝄞"),
        std::string("not UTF-8: \xff\xfe, a lone surrogate \xed\xa0\x80, cut \xe2\x9c"),
        std::string("[HKEY_CURRENT_USER\\Evil]\n\"x\"=dword:1"),
    };
    int n = 0;
    for (const auto& stored : cases) {
        const std::string name = "value " + std::to_string(n++);
        std::visit([&](const auto& v) { WriteReg(HKCU, MainKey, name, v); }, stored);
    }
    n = 0;
    for (const auto& stored : cases) {
        const std::string name = "value " + std::to_string(n++);
        SCOPED_TRACE(name);
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, int>) {
                    EXPECT_EQ(ReadReg(HKCU, MainKey, name, 12345), v);
                } else if constexpr (std::is_same_v<T, bool>) {
                    EXPECT_EQ(ReadReg(HKCU, MainKey, name, !v), v);
                } else {
                    EXPECT_EQ(ReadReg(HKCU, MainKey, name, "dflt"), v);
                }
            },
            stored);
    }
    // Nothing written above may have made a key or value of its own.
    EXPECT_EQ(RegistryStore::Default().Read(HKCU).Keys().size(), 1u);
    EXPECT_EQ(RegistryStore::Default().Read(HKCU).Keys()[0].values.size(), std::size(cases));
}

TEST_F(Registry, FileHasTheExportLayout) {
    WriteReg(HKCU, MainKey, "top", 0);
    WriteReg(HKCU, MainKey, "skin", "skins\\mxskin56.skn");
    WriteReg(HKCU, MainKey, "DeviceID out", -1);
    WriteReg(HKCU, MainKey, "AutoEq", true);
    WriteReg(HKCU, "Kelmora\\Mp3 Encoder", "Mp3 Encode BitRate", 5);
    WriteReg(HKCU, MainKey, "WaveFile", "a\nb");
    EXPECT_EQ(ReadText(UserFile()), "Windows Registry Editor Version 5.00\n"
                                    "\n"
                                    "[HKEY_CURRENT_USER\\Kelmora\\Sonavel 2016]\n"
                                    "\"top\"=dword:00000000\n"
                                    "\"skin\"=\"skins\\\\mxskin56.skn\"\n"
                                    "\"DeviceID out\"=dword:ffffffff\n"
                                    "\"AutoEq\"=dword:00000001\n"
                                    "\"WaveFile\"=hex(1):61,00,0a,00,62,00,00,00\n"
                                    "\n"
                                    "[HKEY_CURRENT_USER\\Kelmora\\Mp3 Encoder]\n"
                                    "\"Mp3 Encode BitRate\"=dword:00000005\n"
                                    "\n");
}

TEST_F(Registry, ReadingMissingThingsGivesDefaultsAndCreatesNothing) {
    EXPECT_EQ(ReadReg(HKCU, MainKey, "wide", 1023), 1023);
    EXPECT_EQ(ReadReg(HKCU, MainKey, "skin", "skins\\mxskin56.skn"), "skins\\mxskin56.skn");
    EXPECT_FALSE(RegistryKey::Open(HKCU, MainKey).has_value());
    EXPECT_FALSE(std::filesystem::exists(Folder()));

    WriteReg(HKCU, MainKey, "top", 7);
    EXPECT_EQ(ReadReg(HKCU, MainKey, "left", 0), 0);                              // value missing
    EXPECT_EQ(ReadReg(HKCU, "Kelmora\\Mp3 Encoder", "Mp3 Encode BitRate", 5), 5); // key missing
    EXPECT_EQ(ReadReg(RegistryRoot::LocalMachine, MainKey, "top", -3), -3);       // other root
    EXPECT_TRUE(RegistryKey::Open(HKCU, "Kelmora").has_value());                  // parent of a key
    EXPECT_FALSE(RegistryKey::Open(HKCU, "Kelmo").has_value());
}

// Hand-written store files: how each line reads with an integer, a boolean and a string default.
TEST_F(Registry, ReadsStoreFilesWithTypesAndLeniency) {
    struct Case {
        const char* why;
        std::string text;
        int asInt;          // default -7
        bool asBool;        // default true
        std::string asText; // default "dflt"
    };
    const std::string section = "[HKEY_CURRENT_USER\\Kelmora\\Sonavel 2016]\n";
    const std::string head = "Windows Registry Editor Version 5.00\n\n" + section;
    const Case cases[] = {
        {"dword", head + "\"v\"=dword:0000002a\n", 42, true, "dflt"},
        {"dword zero is false", head + "\"v\"=dword:00000000\n", 0, false, "dflt"},
        {"any non-zero dword is true", head + "\"v\"=dword:00000005\n", 5, true, "dflt"},
        {"short upper-case dword", head + "\"v\"=DWORD:FF\n", 255, true, "dflt"},
        {"string", head + "\"v\"=\"skins\\\\a.skn\"\n", -7, true, "skins\\a.skn"},
        {"escaped quote", head + "\"v\"=\"a\\\"b\"\n", -7, true, "a\"b"},
        {"string in hex(1) form", head + "\"v\"=hex(1):48,00,69,00,00,00\n", -7, true, "Hi"},
        {"hex(1) wrapped over lines", head + "\"v\"=hex(1):48,00,\\\n  69,00,00,00\n", -7, true, "Hi"},
        {"expandable string is another type", head + "\"v\"=hex(2):48,00,00,00\n", -7, true, "dflt"},
        {"binary is another type", head + "\"v\"=hex:01,02\n", -7, true, "dflt"},
        {"nine-digit dword is malformed", head + "\"v\"=dword:000000001\n", -7, true, "dflt"},
        {"dword with junk is malformed", head + "\"v\"=dword:12xy\n", -7, true, "dflt"},
        {"unterminated string is malformed", head + "\"v\"=\"abc\n", -7, true, "dflt"},
        {"spaces around the equals sign", head + "  \"v\" =  dword:00000003  \n", 3, true, "dflt"},
        {"CR LF line ends and a byte order mark", "\xEF\xBB\xBF" + withCrLf(head + "\"v\"=\"x\"\n"), -7, true,
         "x"},
        {"UTF-16LE export", utf16le(withCrLf(head + "\"v\"=dword:00000004\n")), 4, true, "dflt"},
        {"no header line", "[HKEY_CURRENT_USER\\Kelmora\\Sonavel 2016]\n\"v\"=dword:00000001\n", 1, true,
         "dflt"},
        {"key path and value name in another case",
         "[hkey_current_user\\KELMORA\\sonavel 2016]\n\"V\"=\"x\"\n", -7, true, "x"},
        {"doubled backslashes in the key path",
         "[HKEY_CURRENT_USER\\\\Kelmora\\Sonavel 2016\\]\n\"v\"=\"x\"\n", -7, true, "x"},
        {"comment lines", head + "; \"v\"=\"no\"\n\"v\"=\"yes\"\n", -7, true, "yes"},
        {"later value wins", head + "\"v\"=\"first\"\n\"v\"=\"second\"\n", -7, true, "second"},
        {"duplicate key sections merge",
         head + "\"v\"=\"first\"\n[HKEY_CURRENT_USER\\Other]\n" + section + "\"v\"=dword:00000009\n", 9, true,
         "dflt"},
        {"value deleted", head + "\"v\"=\"x\"\n\"v\"=-\n", -7, true, "dflt"},
        {"key deleted", head + "\"v\"=\"x\"\n[-HKEY_CURRENT_USER\\Kelmora]\n", -7, true, "dflt"},
        {"values of another key", "[HKEY_CURRENT_USER\\Kelmora]\n\"v\"=\"x\"\n", -7, true, "dflt"},
        {"values before any key", "\"v\"=\"x\"\n" + head, -7, true, "dflt"},
        {"garbage", "\x01\x02[[[\n\"\"\"\n==\n@\n", -7, true, "dflt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        WriteUserFile(c.text);
        EXPECT_EQ(ReadReg(HKCU, MainKey, "v", -7), c.asInt);
        EXPECT_EQ(ReadReg(HKCU, MainKey, "v", true), c.asBool);
        EXPECT_EQ(ReadReg(HKCU, MainKey, "v", "dflt"), c.asText);
    }
}

TEST_F(Registry, WritesCompareNamesWithoutCaseAndKeepWhatTheyDoNotKnow) {
    WriteUserFile("Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_CURRENT_USER\\Kelmora\\Sonavel 2016]\n"
                  "\"Ärger\"=dword:00000001\n"
                  "\"list\"=hex(7):41,00,00,00,00,00\n"
                  "\n"
                  "[HKEY_CURRENT_USER\\Elsewhere]\n"
                  "@=\"default value\"\n");
    WriteReg(HKCU, "\\kelmora\\SONAVEL 2016\\", "äRGER", 2);
    WriteReg(HKCU, MainKey, "new", "n");

    EXPECT_EQ(ReadReg(HKCU, MainKey, "Ärger", 0), 2);
    EXPECT_EQ(ReadReg(HKCU, "Elsewhere", "", "?"), "default value");
    EXPECT_EQ(ReadText(UserFile()), "Windows Registry Editor Version 5.00\n\n"
                                    "[HKEY_CURRENT_USER\\Kelmora\\Sonavel 2016]\n"
                                    "\"äRGER\"=dword:00000002\n"
                                    "\"list\"=hex(7):41,00,00,00,00,00\n"
                                    "\"new\"=\"n\"\n"
                                    "\n"
                                    "[HKEY_CURRENT_USER\\Elsewhere]\n"
                                    "@=\"default value\"\n"
                                    "\n");
}

TEST_F(Registry, WritingToAUtf16ExportKeepsItsValues) {
    WriteUserFile(
        utf16le(withCrLf("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Kelmora\\Sonavel "
                         "2016]\n\"top\"=dword:00000010\n")));
    WriteReg(HKCU, MainKey, "left", 3);
    EXPECT_EQ(ReadReg(HKCU, MainKey, "top", 0), 16);
    EXPECT_EQ(ReadReg(HKCU, MainKey, "left", 0), 3);
    EXPECT_TRUE(ReadText(UserFile()).starts_with("Windows Registry Editor Version 5.00\n"));
}

TEST_F(Registry, EnhancerKeyLivesInTheLocalMachineFile) {
    const auto key = RegistryKey::Create(RegistryRoot::LocalMachine, EnhancerKey);
    key.WriteDword("Drum Bass", 23);
    key.WriteDword("Volume", 53);
    EXPECT_EQ(key.ReadDword("drum bass"), 23u);
    EXPECT_EQ(key.ReadString("Volume"), std::nullopt); // wrong type
    EXPECT_EQ(key.ReadDword("Ambience"), std::nullopt);
    EXPECT_TRUE(std::filesystem::exists(Folder() / "HKLM.reg"));
    EXPECT_FALSE(std::filesystem::exists(UserFile()));
    EXPECT_NE(ReadText(Folder() / "HKLM.reg")
                  .find("[HKEY_LOCAL_MACHINE\\Software\\Merrowind\\Enhancer\\Version 017]"),
              std::string::npos);
}

TEST_F(Registry, PlainKeyInterfaceReportsFailures) {
    // The store folder cannot be made: a file stands in its place.
    WriteText(Folder(), "not a folder");
    EXPECT_EQ(message([] { RegistryKey::Create(RegistryRoot::LocalMachine, EnhancerKey); }),
              "Failed to create key Software\\Merrowind\\Enhancer\\Version 017");
    EXPECT_NO_THROW(WriteReg(HKCU, MainKey, "top", 1));
    EXPECT_EQ(ReadReg(HKCU, MainKey, "top", 0), 0);
    std::filesystem::remove(Folder());

    // A root file that cannot be read is never replaced.
    std::filesystem::create_directories(UserFile());
    EXPECT_EQ(message([] { RegistryKey::Create(HKCU, MainKey); }),
              "Failed to create key Kelmora\\Sonavel 2016");
    EXPECT_FALSE(RegistryKey::Open(HKCU, MainKey).has_value());
    EXPECT_TRUE(std::filesystem::is_directory(UserFile()));
    std::filesystem::remove(UserFile());

    const auto key = RegistryKey::Create(HKCU, MainKey);
    EXPECT_EQ(message([&] { key.WriteDword("bad\nname", 1); }), "Failed to set data for 'bad\nname'");
    EXPECT_EQ(message([] { RegistryKey::Create(HKCU, "bad\rpath"); }), "Failed to create key bad\rpath");
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int valuesPerWriter = 40;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = ::fork();
        if (writers[w] == 0) {
            ::close(go[1]);
            char byte;
            (void)::read(go[0], &byte, 1); // returns when the parent closes its end
            for (int i = 0; i < valuesPerWriter; ++i)
                WriteReg(HKCU, MainKey, "writer" + std::to_string(w) + " value" + std::to_string(i),
                         w * 1000 + i);
            ::_exit(0);
        }
    }
    ::close(go[0]);
    ::close(go[1]);
    for (pid_t pid : writers) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < valuesPerWriter; ++i)
            EXPECT_EQ(ReadReg(HKCU, MainKey, "writer" + std::to_string(w) + " value" + std::to_string(i), -1),
                      w * 1000 + i);
}

TEST_F(Registry, WriterKilledHoldingTheLockLeavesTheOldFile) {
    WriteReg(HKCU, MainKey, "top", 1);
    const int status = RunInChild([] {
        RegistryStore::Default().Update(HKCU, [](RegistryDocument& doc) {
            doc.SetValue("HKEY_CURRENT_USER\\Kelmora\\Sonavel 2016",
                         {"top", RegistryDocument::ValueType::Dword, 2, ""});
            ::raise(SIGKILL);
        });
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadReg(HKCU, MainKey, "top", 0), 1);
    WriteReg(HKCU, MainKey, "top", 3); // the dead writer's lock is gone
    EXPECT_EQ(ReadReg(HKCU, MainKey, "top", 0), 3);
}

TEST_F(Registry, WriterKilledBeforeRenameLeavesTheOldFileAndTheNextWriterTidiesUp) {
    WriteReg(HKCU, MainKey, "top", 1);
    const int status = RunInChild([&] {
        AtomicFile file(UserFile());
        file.Write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Kelmora\\Sonavel "
                   "2016]\n\"top\"=dword:0");
        ::raise(SIGKILL);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    const auto strays = [&] {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(Folder()))
            n += entry.path().filename().string().starts_with(".HKCU.reg.tmp-");
        return n;
    };
    EXPECT_EQ(strays(), 1);
    EXPECT_EQ(ReadReg(HKCU, MainKey, "top", 0), 1);

    WriteReg(HKCU, MainKey, "left", 5);
    EXPECT_EQ(strays(), 0);
    EXPECT_EQ(ReadReg(HKCU, MainKey, "top", 0), 1);
    EXPECT_EQ(ReadReg(HKCU, MainKey, "left", 0), 5);
}

TEST(RegistryStoreFolder, FollowsOverrideThenEnvironment) {
    struct Case {
        const char* why;
        std::optional<std::string> override, configDir, xdg;
        std::string expected;
    };
    const Case cases[] = {
        {"home", {}, {}, {}, "/home/u/.config/tonalis"},
        {"XDG folder", {}, {}, "/xdg", "/xdg/tonalis"},
        {"relative XDG folder is ignored", {}, {}, "rel", "/home/u/.config/tonalis"},
        {"TONALIS_CONFIG_DIR before XDG", {}, "/cfg", "/xdg", "/cfg"},
        {"empty TONALIS_CONFIG_DIR is unset", {}, "", "/xdg", "/xdg/tonalis"},
        {"override before everything", "/set", "/cfg", "/xdg", "/set"},
    };
    const auto saved = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto restore = [](const char* name, const std::optional<std::string>& v) {
        v ? ::setenv(name, v->c_str(), 1) : ::unsetenv(name);
    };
    const auto home = saved("HOME"), configDir = saved("TONALIS_CONFIG_DIR"), xdg = saved("XDG_CONFIG_HOME");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ::setenv("HOME", "/home/u", 1);
        restore("TONALIS_CONFIG_DIR", c.configDir);
        restore("XDG_CONFIG_HOME", c.xdg);
        RegistryStore::SetDefaultFolder(c.override ? std::optional<std::filesystem::path>(*c.override)
                                                   : std::nullopt);
        EXPECT_EQ(RegistryStore::DefaultFolder(), c.expected);
    }
    RegistryStore::SetDefaultFolder(std::nullopt);
    restore("HOME", home);
    restore("TONALIS_CONFIG_DIR", configDir);
    restore("XDG_CONFIG_HOME", xdg);
}

} // namespace
