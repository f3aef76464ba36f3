#include "standin_report.h"

#include <mbstring.h>

#include "bundle/format/crc32.h"

namespace standin {

const char* const PayloadFileNames[PAYLOAD_FILE_COUNT] = {
#define ENTRY_ROW(name, prefix, flags) name,
#include "common/entry_rows.def"
#undef ENTRY_ROW
};

FileFacts InspectFile(const std::string& path) {
  FileFacts facts;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return facts;
  facts.present = true;
  facts.readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  static char buffer[1 << 16];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    facts.crc = bundle::Crc32(buffer, got, facts.crc);
    facts.size += got;
  }
  CloseHandle(file);
  return facts;
}

std::string FolderOf(const std::string& path) {
  const unsigned char* text = reinterpret_cast<const unsigned char*>(path.c_str());
  const unsigned char* last = _mbsrchr(text, '\\');
  return last ? path.substr(0, last - text + 1) : std::string();
}

}  // namespace standin
