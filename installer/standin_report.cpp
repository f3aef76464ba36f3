#include "standin_report.h"

#include <mbstring.h>

namespace standin {

const char* const PayloadFileNames[PAYLOAD_FILE_COUNT] = {
    "i_autorun.exe", "autorun.exe",       "setup.exe",    "unsetup.exe", "zephra.exe",
    "system.dat",    "readme_traial.txt", "inst_bgm.dat", "inst_se.dat", "inst_voice_jp.dat",
};

uint32_t Crc32(const void* data, size_t length, uint32_t crc) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    ready = true;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

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
    facts.crc = Crc32(buffer, got, facts.crc);
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
