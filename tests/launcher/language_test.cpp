// The interface language choice against the real registry and real settings
// files. Each case writes the game's uninstall key under HKEY_LOCAL_MACHINE
// and settings files in a folder of its own, and removes both again.
#include "launcher/language.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "import_hook.h"
#include "launcher/launcher.h"

namespace {

std::string UninstallKeyName() {
  return std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
         GAME_UNINSTALL_NAME;
}

// Watches the choice's registry opens and settings reads through the program's
// import table; the calls themselves go on to the real functions.
class CallWatch {
 public:
  CallWatch() {
    current = this;
    regOpen = new testing_support::ImportHook("ADVAPI32.dll", "RegOpenKeyExA",
                                               reinterpret_cast<const void*>(&RegOpen));
    profileRead = new testing_support::ImportHook("KERNEL32.dll", "GetPrivateProfileIntA",
                                                   reinterpret_cast<const void*>(&ProfileRead));
  }
  ~CallWatch() {
    delete profileRead;
    delete regOpen;
    current = nullptr;
  }
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  bool Installed() const { return regOpen->Installed() && profileRead->Installed(); }

  int regOpens = 0;
  HKEY openedRoot = nullptr;
  std::string openedKey;
  REGSAM openedAccess = 0;
  int profileReads = 0;
  std::string readSection, readKey, readFile;
  INT readDefault = -1;

 private:
  static LONG WINAPI RegOpen(HKEY root, LPCSTR name, DWORD options, REGSAM access, PHKEY result) {
    CallWatch& w = *current;
    ++w.regOpens;
    w.openedRoot = root;
    w.openedKey = name != nullptr ? name : "";
    w.openedAccess = access;
    return w.regOpen->Original<decltype(&RegOpenKeyExA)>()(root, name, options, access, result);
  }
  static UINT WINAPI ProfileRead(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
    CallWatch& w = *current;
    ++w.profileReads;
    w.readSection = section;
    w.readKey = key;
    w.readDefault = fallback;
    w.readFile = file;
    return w.profileRead->Original<decltype(&GetPrivateProfileIntA)>()(section, key, fallback, file);
  }

  static CallWatch* current;
  testing_support::ImportHook* regOpen;
  testing_support::ImportHook* profileRead;
};
CallWatch* CallWatch::current = nullptr;

class LanguageChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteUninstallKey();
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    caseFolder = std::string(temp) + "zephra_language_" + std::to_string(GetCurrentProcessId()) + "\\";
    MakeFolder(caseFolder);
  }

  void TearDown() override {
    DeleteUninstallKey();
    for (auto it = writtenFiles.rbegin(); it != writtenFiles.rend(); ++it) DeleteFileA(it->c_str());
    for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it) RemoveDirectoryA(it->c_str());
  }

  static void DeleteUninstallKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKeyName().c_str()); }

  // Creates the uninstall key; with data, also its "UninstallString" value.
  void WriteUninstallValue(const void* data, DWORD size, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyName().c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    LONG status = ERROR_SUCCESS;
    if (data != nullptr) {
      status = RegSetValueExA(key, UNINSTALL_VALUE_NAME, 0, type, static_cast<const BYTE*>(data), size);
    }
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
  }

  void WriteUninstallString(const std::string& value) {
    WriteUninstallValue(value.c_str(), static_cast<DWORD>(value.size() + 1));
  }

  void MakeFolder(const std::string& folder) {
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    madeFolders.push_back(folder);
  }

  // Writes folder\zephraQX.ini with the given "language" line (none when
  // empty) as a plain file, the way the game leaves it.
  void WriteSettings(const std::string& folder, const std::string& languageLine) {
    const std::string path = folder + SETTINGS_FILE_NAME;
    std::string content = "[zephraQX]\r\nfullscreen=1\r\n";
    if (!languageLine.empty()) content += languageLine + "\r\n";
    content += "[other]\r\nlanguage=3\r\n";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok);
    writtenFiles.push_back(path);
  }

  // The folder FindInstalledGameFolder leaves, or "(none)" when it fails.
  static std::string FoundFolder() {
    char buffer[PATH_CAPACITY];
    memset(buffer, 'X', sizeof buffer);
    if (!FindInstalledGameFolder(buffer, sizeof buffer)) {
      EXPECT_STREQ(buffer, "") << "a failed lookup leaves an empty text";
      return "(none)";
    }
    return buffer;
  }

  std::string caseFolder;  // this case's folder, with a trailing backslash
  std::vector<std::string> writtenFiles;
  std::vector<std::string> madeFolders;
};

TEST_F(LanguageChoice, CommandLineEndingInADigitOfACarriedLanguageDecides) {
  const char* const lines[] = {"0", "setup.exe 0", "-lang 0", " ", "setup.exe ", "\x10", "x\x10"};
  for (const char* line : lines) {
    int32_t index = 99;
    EXPECT_TRUE(LanguageFromCommandLine(line, &index)) << "command line \"" << line << "\"";
    EXPECT_EQ(index, 0);
    LanguageIndex = 7;
    ChooseLanguage(line);
    EXPECT_EQ(LanguageIndex, 0);
  }
}

TEST_F(LanguageChoice, OtherLastBytesLeaveTheChoiceToTheSettings) {
  // "1" and "9" name rows the build does not carry; "A" clears to 1; the
  // trail byte of あ (82 A0) and 0xFF keep bit 0x80; 表 (95 5C) clears to 0x4C.
  const char* const lines[] = {"", "1", "setup.exe 9", "A", "\x82\xA0", "\xFF", "\x95\x5C"};
  for (const char* line : lines) {
    int32_t index = 99;
    EXPECT_FALSE(LanguageFromCommandLine(line, &index)) << "command line \"" << line << "\"";
    EXPECT_EQ(index, 99) << "the index is left alone";
  }
  int32_t index = 99;
  EXPECT_FALSE(LanguageFromCommandLine(nullptr, &index));
}

TEST_F(LanguageChoice, NoUninstallKeyGivesZeroWithoutReadingSettings) {
  EXPECT_EQ(FoundFolder(), "(none)");
  EXPECT_EQ(ReadLanguageCandidate(), NO_LANGUAGE_CANDIDATE);
  EXPECT_EQ(ReadLanguageSetting(), 0);
  const char* const lines[] = {"", "1", "\x82\xA0"};
  for (const char* line : lines) {
    LanguageIndex = 7;
    ChooseLanguage(line);
    EXPECT_EQ(LanguageIndex, 0) << "command line \"" << line << "\"";
  }
}

TEST_F(LanguageChoice, ChoiceReachesTheRegistryAndSettingsOnlyWhenNeeded) {
  CallWatch watch;
  ASSERT_TRUE(watch.Installed());

  ChooseLanguage("setup.exe 0");
  EXPECT_EQ(watch.regOpens, 0) << "the command line decides alone";

  ChooseLanguage("");
  EXPECT_EQ(watch.regOpens, 1);
  EXPECT_EQ(watch.openedRoot, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(watch.openedKey, UninstallKeyName());
  EXPECT_EQ(watch.openedAccess, static_cast<REGSAM>(KEY_ALL_ACCESS));
  EXPECT_EQ(watch.profileReads, 0) << "no key, no settings file read";

  const std::string game = caseFolder + "watched\\";
  MakeFolder(game);
  WriteSettings(game, "language=5");
  WriteUninstallString(game + "uninst.exe /x");
  ChooseLanguage("\x82\xA0");
  EXPECT_EQ(watch.regOpens, 2);
  EXPECT_EQ(watch.profileReads, 1);
  EXPECT_EQ(watch.readFile, game + SETTINGS_FILE_NAME);
  EXPECT_EQ(watch.readSection, "zephraQX");
  EXPECT_EQ(watch.readKey, "language");
  EXPECT_EQ(watch.readDefault, 0);
  EXPECT_EQ(LanguageIndex, 0);
}

TEST_F(LanguageChoice, SettingValuesMapThroughTheGameLanguageCodes) {
  struct Case {
    const char* line;  // the "language" line of the settings file
    int32_t candidate;
  };
  const Case cases[] = {
      {"language=0", 0}, {"language=5", 1}, {"language=1", 2},   {"language=2", 3},
      {"language=3", 4}, {"language=4", 0}, {"language=-1", 0},  {"language=99", 0},
      {"language=x", 0}, {"", 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    // A folder per value, so no cached copy of an earlier file can answer.
    const std::string folder = caseFolder + "v" + std::to_string(n++) + "\\";
    MakeFolder(folder);
    WriteSettings(folder, c.line);
    WriteUninstallString(folder + "uninst.exe");
    EXPECT_EQ(ReadLanguageCandidate(), c.candidate) << "\"" << c.line << "\"";
    EXPECT_EQ(ReadLanguageSetting(), 0) << "one language is carried";
    LanguageIndex = 7;
    ChooseLanguage("1");
    EXPECT_EQ(LanguageIndex, 0);
  }
  // An installed game whose folder has no settings file: the default 0.
  const std::string empty = caseFolder + "empty\\";
  MakeFolder(empty);
  WriteUninstallString(empty + "uninst.exe");
  EXPECT_EQ(ReadLanguageCandidate(), 0);
}

TEST_F(LanguageChoice, FolderIsCutAfterTheLastBackslashOfTheValue) {
  const std::string game = caseFolder + "game\\";
  MakeFolder(game);
  WriteSettings(game, "language=5");  // candidate 1
  // The arguments' backslash moves the cut behind it, into this folder.
  const std::string inner = game + "uninst.exe -log sub\\";
  MakeFolder(inner);
  WriteSettings(inner, "language=2");  // candidate 3

  WriteUninstallString(game + "uninst.exe -quiet");
  EXPECT_EQ(FoundFolder(), game);
  EXPECT_EQ(ReadLanguageCandidate(), 1);

  WriteUninstallString(game + "uninst.exe -log sub\\uninst.log");
  EXPECT_EQ(FoundFolder(), inner);
  EXPECT_EQ(ReadLanguageCandidate(), 3);

  // 表 ends in byte 0x5C, which is not a backslash.
  WriteUninstallString(game + "\x95\x5C.exe");
  EXPECT_EQ(FoundFolder(), game);
  EXPECT_EQ(ReadLanguageCandidate(), 1);

  // A quoted value keeps its quote: no settings file is found under that
  // name, so the default 0 applies.
  WriteUninstallString("\"" + game + "uninst.exe\" -quiet");
  EXPECT_EQ(FoundFolder(), "\"" + game);
  EXPECT_EQ(ReadLanguageCandidate(), 0);
}

TEST_F(LanguageChoice, UnusableUninstallStringCountsAsNoGame) {
  // The key without the value.
  WriteUninstallValue(nullptr, 0);
  EXPECT_EQ(FoundFolder(), "(none)");
  EXPECT_EQ(ReadLanguageCandidate(), NO_LANGUAGE_CANDIDATE);

  // No backslash: a program name alone names no folder.
  WriteUninstallString("uninst.exe -quiet");
  EXPECT_EQ(FoundFolder(), "(none)");
  EXPECT_EQ(ReadLanguageCandidate(), NO_LANGUAGE_CANDIDATE);

  // Empty, stored without even a NUL.
  WriteUninstallValue("", 0);
  EXPECT_EQ(FoundFolder(), "(none)");

  // Longer than the buffer.
  WriteUninstallString("C:\\" + std::string(300, 'a') + "\\uninst.exe");
  EXPECT_EQ(FoundFolder(), "(none)");
  EXPECT_EQ(ReadLanguageCandidate(), NO_LANGUAGE_CANDIDATE);

  // Not text: bytes without a NUL that fill the whole buffer.
  std::string raw = "C:\\" + std::string(PATH_CAPACITY - 3, 'b');
  WriteUninstallValue(raw.data(), PATH_CAPACITY, REG_BINARY);
  EXPECT_EQ(FoundFolder(), "(none)");
}

TEST_F(LanguageChoice, ValueWithoutNulIsEndedWithinTheBuffer) {
  const std::string game = caseFolder + "raw\\";
  MakeFolder(game);
  WriteSettings(game, "language=3");  // candidate 4
  const std::string value = game + "uninst.exe";
  WriteUninstallValue(value.data(), static_cast<DWORD>(value.size()), REG_BINARY);
  EXPECT_EQ(FoundFolder(), game);
  EXPECT_EQ(ReadLanguageCandidate(), 4);
}

TEST_F(LanguageChoice, LookupNeverWritesPastTheGivenCapacity) {
  WriteUninstallString("C:\\Games\\Zephra\\uninst.exe");
  char buffer[64];
  memset(buffer, 'X', sizeof buffer);
  EXPECT_FALSE(FindInstalledGameFolder(buffer, 16));
  EXPECT_EQ(buffer[0], '\0');
  for (size_t i = 16; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 'X') << "byte " << i;

  memset(buffer, 'X', sizeof buffer);
  EXPECT_TRUE(FindInstalledGameFolder(buffer, 28));  // the value and its NUL exactly
  EXPECT_STREQ(buffer, "C:\\Games\\Zephra\\");
  for (size_t i = 28; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 'X') << "byte " << i;
}

TEST_F(LanguageChoice, SettingsPathThatDoesNotFitIsNotRead) {
  // With its trailing backslash the folder takes 247 bytes: the settings
  // file's name and the NUL fill the 260-byte path exactly.
  const std::string fits = "C:\\" + std::string(243, 'c') + "\\";
  ASSERT_EQ(fits.size(), 247u);
  WriteUninstallString(fits + "u.exe");
  EXPECT_EQ(FoundFolder(), fits);
  EXPECT_EQ(ReadLanguageCandidate(), 0) << "read, though absent";

  // One byte more and the name would be cut: the file is not read.
  const std::string tooLong = "C:\\" + std::string(244, 'c') + "\\";
  WriteUninstallString(tooLong + "u.exe");
  EXPECT_EQ(FoundFolder(), tooLong);
  EXPECT_EQ(ReadLanguageCandidate(), NO_LANGUAGE_CANDIDATE);
  EXPECT_EQ(ReadLanguageSetting(), 0);
}

}  // namespace
