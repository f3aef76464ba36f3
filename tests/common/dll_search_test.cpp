// Where the launcher takes its DLLs from: its import table names only DLLs
// that Windows always loads from the system folder, and once the search is
// limited a DLL planted in a searched folder is no longer found.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "common/dll_search.h"
#include "win32_test_support.h"

using namespace testing_support;

namespace {

const std::string LAUNCHER_PATH = WindowsPathOf(LAUNCHER_EXE_UNIX_PATH);
const std::string OTHER_PROGRAM_PATH = WindowsPathOf(OTHER_EXE_UNIX_PATH);
const std::string PLANTED_DLL_PATH = WindowsPathOf(PLANTED_DLL_UNIX_PATH);

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The DLL names of an import table of this build's kind (PE32 or PE32+), lower case, and whether it
// has delay-load imports. Every offset is checked against the file, so a
// damaged file gives a failed read rather than a crash.
struct Imports {
  bool read = false;
  std::vector<std::string> dlls;
  bool delayLoad = false;
};

Imports ReadImports(const std::string& path) {
  Imports imports;
  const std::string file = ReadFileBytes(path);
  auto fits = [&](size_t offset, size_t size) { return offset <= file.size() && size <= file.size() - offset; };
  IMAGE_DOS_HEADER dos;
  if (!fits(0, sizeof dos)) return imports;
  std::memcpy(&dos, file.data(), sizeof dos);
  IMAGE_NT_HEADERS nt;
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || !fits(size_t(dos.e_lfanew), sizeof nt)) return imports;
  std::memcpy(&nt, file.data() + dos.e_lfanew, sizeof nt);
  if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return imports;

  const size_t sectionsAt = size_t(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                            nt.FileHeader.SizeOfOptionalHeader;
  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  if (!fits(sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER))) return imports;
  if (!sections.empty()) std::memcpy(sections.data(), file.data() + sectionsAt, sections.size() * sizeof sections[0]);
  // A relative virtual address as a file offset; npos outside every section.
  auto offsetOf = [&](DWORD rva) -> size_t {
    for (const IMAGE_SECTION_HEADER& s : sections) {
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < std::max(s.Misc.VirtualSize, s.SizeOfRawData)) {
        return s.PointerToRawData + (rva - s.VirtualAddress);
      }
    }
    return std::string::npos;
  };

  const IMAGE_DATA_DIRECTORY& table = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  imports.delayLoad = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size != 0;
  for (size_t at = offsetOf(table.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    if (!fits(at, sizeof descriptor)) return imports;
    std::memcpy(&descriptor, file.data() + at, sizeof descriptor);
    if (descriptor.Name == 0) break;
    const size_t name = offsetOf(descriptor.Name);
    if (!fits(name, 1)) return imports;
    imports.dlls.push_back(Lower(std::string(file.data() + name, strnlen(file.data() + name, file.size() - name))));
  }
  imports.read = true;
  return imports;
}

// The DLLs that Windows takes from its system folder whatever the search
// order (its known DLLs), of those a program of this kind may use.
const std::vector<std::string> KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                             "msvcrt.dll",   "shell32.dll", "ole32.dll"};

std::vector<std::string> NotKnown(const Imports& imports) {
  std::vector<std::string> others;
  for (const std::string& dll : imports.dlls) {
    if (std::find(KNOWN_DLLS.begin(), KNOWN_DLLS.end(), dll) == KNOWN_DLLS.end()) others.push_back(dll);
  }
  return others;
}

TEST(LauncherImports, NameOnlyDllsThatAreAlwaysTakenFromTheSystemFolder) {
  const Imports imports = ReadImports(LAUNCHER_PATH);
  ASSERT_TRUE(imports.read) << LAUNCHER_PATH;
  EXPECT_NE(imports.dlls.end(), std::find(imports.dlls.begin(), imports.dlls.end(), "kernel32.dll"));
  const std::vector<std::string> others = NotKnown(imports);
  EXPECT_TRUE(others.empty()) << "the launcher imports " << others[0];
  EXPECT_FALSE(imports.delayLoad);
}

TEST(LauncherImports, TheCheckSeesAnImportOutsideTheKnownDlls) {
  // The dialog tests import the common controls library directly.
  const Imports imports = ReadImports(OTHER_PROGRAM_PATH);
  ASSERT_TRUE(imports.read) << OTHER_PROGRAM_PATH;
  EXPECT_EQ(std::vector<std::string>{"comctl32.dll"}, NotKnown(imports));
}

// A DLL of a name no system has, planted in the current folder, which the
// default search order includes.
class PlantedDll : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFileA(PLANTED_DLL_PATH.c_str(), (scratch.Path() + "zephra_planted.dll").c_str(), FALSE));
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(scratch.Path().c_str()));
  }
  void TearDown() override { SetCurrentDirectoryA(previous); }

  ScratchFolder scratch{"dll_search"};
  char previous[MAX_PATH] = "";
};

TEST_F(PlantedDll, IsFoundByTheDefaultSearch) {
  HMODULE planted = LoadLibraryA("zephra_planted.dll");
  ASSERT_NE(nullptr, planted) << "the planted DLL is not found even without the limit: the next case proves nothing";
  EXPECT_TRUE(FileExists(scratch.Path() + "zephra_planted.dll.loaded"));
  FreeLibrary(planted);
}

TEST_F(PlantedDll, IsNotFoundOnceTheSearchIsLimited) {
  ASSERT_TRUE(LimitDllSearch());
  HMODULE planted = LoadLibraryA("zephra_planted.dll");
  EXPECT_EQ(nullptr, planted);
  if (planted != nullptr) FreeLibrary(planted);
  EXPECT_FALSE(FileExists(scratch.Path() + "zephra_planted.dll.loaded"));
  // A system DLL is still found, in the system folder.
  HMODULE system = LoadLibraryA("version.dll");
  EXPECT_NE(nullptr, system);
  if (system != nullptr) FreeLibrary(system);
}

TEST_F(PlantedDll, SystemLibrariesAreLoadedFromTheSystemFolderByFullPath) {
  ASSERT_TRUE(CopyFileA(PLANTED_DLL_PATH.c_str(), (scratch.Path() + "comctl32.dll").c_str(), FALSE));
  NativeDllsFirst nativeFirst("launcher_dll_tests.exe", {"comctl32"});
  HMODULE library = LoadSystemLibrary("comctl32.dll");
  ASSERT_NE(nullptr, library);
  char path[MAX_PATH] = "";
  GetModuleFileNameA(library, path, sizeof path);
  // A 32-bit program on 64-bit Windows (WoW64) asks for System32 and is given
  // SysWOW64 by the file system redirector; the loader may name either.
  char system[MAX_PATH] = "";
  GetSystemDirectoryA(system, sizeof system);
  std::vector<std::string> expected = {Lower(std::string(system) + "\\comctl32.dll")};
  BOOL wow64 = FALSE;
  char redirected[MAX_PATH] = "";
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64 && GetSystemWow64DirectoryA(redirected, sizeof redirected)) {
    expected.push_back(Lower(std::string(redirected) + "\\comctl32.dll"));
  }
  EXPECT_NE(expected.end(), std::find(expected.begin(), expected.end(), Lower(path))) << path;
  EXPECT_NE(nullptr, GetProcAddress(library, "InitCommonControlsEx"));
  EXPECT_FALSE(FileExists(scratch.Path() + "comctl32.dll.loaded"));
}

}  // namespace
