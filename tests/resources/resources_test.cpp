// The program's resources as the platform reads them: both dialog templates
// field by field, and the icon group with its four images.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource_ids.h"

namespace {

const std::string LAUNCHER_PATH = [] {
  std::string path = "Z:" LAUNCHER_EXE_UNIX_PATH;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}();

// A resource id or name field: an ordinal, or a UTF-16 string.
struct NameOrOrdinal {
  uint16_t ordinal = 0;  // 0 when the field is a string
  std::wstring text;
};

struct Control {
  uint32_t exStyle, style;
  int16_t x, y, cx, cy;
  uint32_t id;
  NameOrOrdinal windowClass, text;
};

struct DialogTemplate {
  uint32_t exStyle, style;
  int16_t x, y, cx, cy;
  NameOrOrdinal menu, windowClass;
  std::wstring title;
  uint16_t pointSize, weight;
  uint8_t italic, charset;
  std::wstring face;
  std::vector<Control> controls;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : bytes(data), length(size) {}
  template <typename T>
  T Read() {
    T value{};
    if (offset + sizeof(T) > length) {
      ADD_FAILURE() << "template ends early";
      return value;
    }
    std::memcpy(&value, bytes + offset, sizeof(T));
    offset += sizeof(T);
    return value;
  }
  std::wstring String() {
    std::wstring text;
    for (uint16_t c = Read<uint16_t>(); c != 0 && offset <= length; c = Read<uint16_t>()) text += wchar_t(c);
    return text;
  }
  NameOrOrdinal Field() {
    NameOrOrdinal field;
    uint16_t first = Read<uint16_t>();
    if (first == 0xFFFF) {
      field.ordinal = Read<uint16_t>();
    } else if (first != 0) {
      field.text = wchar_t(first) + String();
    }
    return field;
  }
  void AlignTo4() { offset = (offset + 3) & ~size_t{3}; }
  size_t Offset() const { return offset; }

 private:
  const uint8_t* bytes;
  size_t length;
  size_t offset = 0;
};

std::pair<const uint8_t*, size_t> LoadRaw(int id, LPCSTR type) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (found == nullptr) return {nullptr, 0};
  HGLOBAL loaded = LoadResource(module, found);
  return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(module, found)};
}

bool ParseDialog(int id, DialogTemplate& dialog) {
  auto raw = LoadRaw(id, RT_DIALOG);
  if (raw.first == nullptr) return false;
  Reader r(raw.first, raw.second);
  EXPECT_EQ(1, r.Read<uint16_t>()) << "version";
  EXPECT_EQ(0xFFFF, r.Read<uint16_t>()) << "an extended template";
  EXPECT_EQ(0u, r.Read<uint32_t>()) << "help id";
  dialog.exStyle = r.Read<uint32_t>();
  dialog.style = r.Read<uint32_t>();
  uint16_t count = r.Read<uint16_t>();
  dialog.x = r.Read<int16_t>();
  dialog.y = r.Read<int16_t>();
  dialog.cx = r.Read<int16_t>();
  dialog.cy = r.Read<int16_t>();
  dialog.menu = r.Field();
  dialog.windowClass = r.Field();
  dialog.title = r.String();
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = r.Read<uint16_t>();
    dialog.weight = r.Read<uint16_t>();
    dialog.italic = r.Read<uint8_t>();
    dialog.charset = r.Read<uint8_t>();
    dialog.face = r.String();
  }
  for (int i = 0; i < count; ++i) {
    r.AlignTo4();
    Control c;
    EXPECT_EQ(0u, r.Read<uint32_t>()) << "help id";
    c.exStyle = r.Read<uint32_t>();
    c.style = r.Read<uint32_t>();
    c.x = r.Read<int16_t>();
    c.y = r.Read<int16_t>();
    c.cx = r.Read<int16_t>();
    c.cy = r.Read<int16_t>();
    c.id = r.Read<uint32_t>();
    c.windowClass = r.Field();
    c.text = r.Field();
    EXPECT_EQ(0, r.Read<uint16_t>()) << "no creation data";
    dialog.controls.push_back(c);
  }
  return true;
}

// The texts, spelled as UTF-16 code units.
const std::wstring CANCEL_TEXT = L"\x30AD\x30E3\x30F3\x30BB\x30EB";              // キャンセル
const std::wstring STATIC_TEXT = L"\x30B9\x30BF\x30C6\x30A3\x30C3\x30AF";        // スタティック
const std::wstring GOTHIC_FACE = L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF";       // ＭＳ ゴシック

struct Layout {
  int id;
  int16_t cx, cy;
  const wchar_t* face;
  uint8_t charset;
  int16_t button[4], text[4], bar[4];
};

void ExpectControl(const Control& c, uint32_t id, uint16_t classOrdinal, const std::wstring& className,
                   const std::wstring& text, uint32_t style, const int16_t (&box)[4]) {
  SCOPED_TRACE(id);
  EXPECT_EQ(id, c.id);
  EXPECT_EQ(classOrdinal, c.windowClass.ordinal);
  EXPECT_EQ(className, c.windowClass.text);
  EXPECT_EQ(text, c.text.text);
  EXPECT_EQ(0, c.text.ordinal);
  EXPECT_EQ(style, c.style);
  EXPECT_EQ(0u, c.exStyle);
  EXPECT_EQ(box[0], c.x);
  EXPECT_EQ(box[1], c.y);
  EXPECT_EQ(box[2], c.cx);
  EXPECT_EQ(box[3], c.cy);
}

void ExpectTemplate(const Layout& layout) {
  SCOPED_TRACE(layout.id);
  DialogTemplate d;
  ASSERT_TRUE(ParseDialog(layout.id, d));
  EXPECT_EQ(static_cast<uint32_t>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT), d.style);
  EXPECT_EQ(0u, d.style & WS_SYSMENU) << "no close box";
  EXPECT_EQ(0u, d.exStyle);
  EXPECT_EQ(0, d.x);
  EXPECT_EQ(0, d.y);
  EXPECT_EQ(layout.cx, d.cx);
  EXPECT_EQ(layout.cy, d.cy);
  EXPECT_EQ(0, d.menu.ordinal);
  EXPECT_TRUE(d.menu.text.empty());
  EXPECT_EQ(0, d.windowClass.ordinal);
  EXPECT_TRUE(d.windowClass.text.empty());
  EXPECT_EQ(L"Dialog", d.title);
  EXPECT_EQ(9, d.pointSize);
  EXPECT_EQ(400, d.weight);
  EXPECT_EQ(0, d.italic);
  EXPECT_EQ(layout.charset, d.charset);
  EXPECT_EQ(std::wstring(layout.face), d.face);
  ASSERT_EQ(3u, d.controls.size());
  // Button and Static are the platform's predefined classes (ordinals).
  ExpectControl(d.controls[0], IDC_CANCEL_BUTTON, 0x0080, L"", CANCEL_TEXT, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON,
                layout.button);
  ExpectControl(d.controls[1], IDC_STATUS_TEXT, 0x0082, L"", STATIC_TEXT, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
                layout.text);
  ExpectControl(d.controls[2], IDC_PROGRESS_BAR, 0, L"msctls_progress32", L"", WS_CHILD | WS_VISIBLE | WS_BORDER,
                layout.bar);
}

TEST(Resources, ProgressTemplate101) {
  ExpectTemplate({IDD_PROGRESS, 238, 61, GOTHIC_FACE.c_str(), SHIFTJIS_CHARSET,
                  {169, 42, 50, 14}, {7, 7, 224, 23}, {6, 41, 226, 14}});
}

TEST(Resources, AlternativeArialTemplate102) {
  ExpectTemplate({IDD_PROGRESS_ARIAL, 205, 49, L"Arial", ANSI_CHARSET,
                  {138, 34, 50, 14}, {7, 7, 191, 23}, {5, 33, 194, 11}});
}

#pragma pack(push, 2)
struct GroupIconEntry {
  uint8_t width, height, colorCount, reserved;
  uint16_t planes, bitCount;
  uint32_t bytesInRes;
  uint16_t id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "RT_GROUP_ICON entry layout");

TEST(Resources, IconGroup110HoldsFourValidImages) {
  auto group = LoadRaw(IDI_PROGRAM, RT_GROUP_ICON);
  ASSERT_NE(nullptr, group.first);
  uint16_t header[3];
  ASSERT_GE(group.second, sizeof(header));
  std::memcpy(header, group.first, sizeof(header));
  EXPECT_EQ(0, header[0]);
  EXPECT_EQ(1, header[1]);
  ASSERT_EQ(4, header[2]);
  ASSERT_EQ(6 + 4 * sizeof(GroupIconEntry), group.second);

  std::set<std::pair<int, int>> formats;
  for (int i = 0; i < 4; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.first + 6 + i * sizeof(entry), sizeof(entry));
    SCOPED_TRACE(i);
    EXPECT_EQ(entry.width, entry.height);
    EXPECT_EQ(entry.bitCount == 4 ? 16 : 0, entry.colorCount);
    formats.insert({entry.width, entry.bitCount});

    auto image = LoadRaw(entry.id, RT_ICON);
    ASSERT_NE(nullptr, image.first);
    EXPECT_EQ(entry.bytesInRes, image.second);
    BITMAPINFOHEADER info;
    ASSERT_GE(image.second, sizeof(info));
    std::memcpy(&info, image.first, sizeof(info));
    EXPECT_EQ(entry.width, info.biWidth);
    EXPECT_EQ(2 * entry.height, info.biHeight);  // colour bits and mask
    EXPECT_EQ(entry.bitCount, info.biBitCount);
    // The platform makes an icon of it.
    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image.first), image.second, TRUE, 0x00030000,
                                          entry.width, entry.height, 0);
    EXPECT_NE(nullptr, icon);
    if (icon != nullptr) DestroyIcon(icon);
  }
  std::set<std::pair<int, int>> expected = {{16, 4}, {16, 8}, {32, 4}, {32, 8}};
  EXPECT_EQ(expected, formats);
}

// The launcher's application manifest, read back from the built launcher.
// This test program links the same resources, so the loader has applied that
// manifest here too: its activation context tells what Windows makes of it.
TEST(Resources, LauncherManifestNamesItsArchitectureRunsAsInvokerOnEverySystemFromVistaTo11AndDpiAware) {
  HMODULE launcher = LoadLibraryExA(LAUNCHER_PATH.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, launcher) << LAUNCHER_PATH;
  HRSRC found = FindResourceA(launcher, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(nullptr, found);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(launcher, found))),
                         SizeofResource(launcher, found));
  FreeLibrary(launcher);
  auto own = LoadRaw(1, MAKEINTRESOURCEA(24));
  EXPECT_EQ(text, std::string(reinterpret_cast<const char*>(own.first), own.second)) << "not the launcher's manifest";
  // The build's own architecture: a manifest that names another one fails to load.
  const char* architecture = sizeof(void*) == 4 ? "processorArchitecture=\"x86\"" : "processorArchitecture=\"amd64\"";
  EXPECT_NE(std::string::npos, text.find(architecture)) << architecture;
  // Vista, 7, 8, 8.1, 10 and 11.
  for (const char* system : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(std::string::npos, text.find(std::string("<supportedOS Id=\"") + system + "\"/>")) << system;
  }

  // The process's own context: null handle, no flags.
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel = {};
  ASSERT_TRUE(QueryActCtxW(0, nullptr, nullptr, RunlevelInformationInActivationContext, &runLevel, sizeof runLevel,
                           nullptr));
  EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, runLevel.RunLevel);
  EXPECT_EQ(0u, runLevel.UiAccess);
  uint32_t systems[128] = {};  // the count, then elements whose layout differs between SDKs
  ASSERT_TRUE(QueryActCtxW(0, nullptr, nullptr, CompatibilityInformationInActivationContext, systems,
                           sizeof systems, nullptr));
  EXPECT_EQ(5u, systems[0]);
  using QuerySettings = BOOL(WINAPI*)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T*);
  auto querySettings = reinterpret_cast<QuerySettings>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW")));
  ASSERT_NE(nullptr, querySettings);
  wchar_t dpiAware[16] = L"";
  EXPECT_TRUE(querySettings(0, nullptr, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware",
                            dpiAware, 16, nullptr));
  EXPECT_EQ(std::wstring(L"true"), dpiAware);
}

}  // namespace
