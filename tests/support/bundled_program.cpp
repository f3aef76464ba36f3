#include "bundled_program.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "bundle/format/crc32.h"
#include "bundle/format/lzss_encoder.h"
#include "launcher/launcher.h"
#include "win32_test_support.h"

namespace testing_support {

Bytes DemoContent(size_t size, uint32_t seed) {
  // Eight bytes each.
  static const char* const phrases[] = {"MOV EAX,", "PUSH EBP", "CALL    ", "\x83\x51\x81\x5B\x83\x80  ",
                                        "\0\0\0\0\0\0\0\0", "zephra  ", "\xff\xff\xff\xff\xff\xff\xff\xff"};
  Bytes data;
  data.reserve(size);
  uint32_t state = seed * 2654435761u + 12345u;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  while (data.size() < size) {
    const uint32_t pick = next();
    if (pick % 3 == 0) {
      for (uint32_t n = 16 + next() % 64; n > 0 && data.size() < size; --n) data.push_back(next() & 0xFF);
    } else {
      const char* phrase = phrases[pick % 7];
      for (size_t i = 0; i < 8 && data.size() < size; ++i) data.push_back(static_cast<uint8_t>(phrase[i]));
    }
  }
  return data;
}

Bytes CompressedBlock(const Bytes& data) {
  return bundle::BuildCompressedBlock(data.data(), data.size(), bundle::DEFAULT_BLOCK_KEY, bundle::LzssLevel::Fast);
}

DemoEntries MakeDemoEntries() {
  // Row order of EntryTable; the data files take the streamed route.
  static const size_t sizes[ENTRY_COUNT] = {150000, 90000, 120000, 60000, 200000,
                                            70000,  9000,  300000, 45000, 250000};
  DemoEntries entries;
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    entries.names.push_back(EntryTable[row].fileName);
    entries.contents.push_back(DemoContent(sizes[row], static_cast<uint32_t>(row + 1)));
    entries.compressed.push_back(!(EntryTable[row].flags & ENTRY_STREAMED));
  }
  return entries;
}

std::vector<bundle::BundleInput> BundleInputsOf(const DemoEntries& entries, const std::vector<int>& leaveOut) {
  std::vector<bundle::BundleInput> inputs;
  for (size_t row = 0; row < entries.names.size(); ++row) {
    bool skip = false;
    for (int left : leaveOut) skip = skip || left == static_cast<int>(row);
    if (skip) continue;
    inputs.push_back({entries.names[row],
                      entries.compressed[row] ? CompressedBlock(entries.contents[row]) : entries.contents[row]});
  }
  return inputs;
}

std::vector<bundle::CheckItem> CheckItemsOf(const DemoEntries& entries) {
  std::vector<bundle::CheckItem> items;
  for (size_t row = 0; row < entries.names.size(); ++row) {
    items.push_back({entries.names[row], bundle::Crc32(entries.contents[row].data(), entries.contents[row].size())});
  }
  return items;
}

bool WriteBundledCopy(const std::string& program, const std::string& copyPath,
                      const std::vector<bundle::BundleInput>& inputs, const std::vector<bundle::CheckItem>* checks) {
  if (!CopyFileA(program.c_str(), copyPath.c_str(), FALSE)) return false;
  const Bytes bundleBytes = checks != nullptr ? bundle::BuildBundle(inputs, *checks) : bundle::BuildBundle(inputs);
  const HANDLE file = CreateFileA(copyPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  const bool ok = WriteFile(file, bundleBytes.data(), static_cast<DWORD>(bundleBytes.size()), &written, nullptr) &&
                  written == bundleBytes.size();
  CloseHandle(file);
  return ok;
}

const DemoEntries& SharedDemoEntries() {
  static const DemoEntries entries = MakeDemoEntries();
  return entries;
}

std::vector<std::string> HostRun::ReportLines() const {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < report.size()) {
    size_t end = report.find('\n', start);
    if (end == std::string::npos) end = report.size();
    lines.push_back(report.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

HostRun RunBundledHost(const std::string& hostProgram, const std::string& folder,
                       const std::vector<bundle::BundleInput>& inputs, const std::string& destination,
                       const std::string& arguments, const std::vector<bundle::CheckItem>* checks) {
  HostRun run;
  const std::string host = folder + "host.exe";
  const std::string report = folder + "report.txt";
  if (!WriteBundledCopy(hostProgram, host, inputs, checks)) {
    run.failure = "the bundled copy " + host + " could not be written: error " + std::to_string(GetLastError());
    fprintf(stderr, "%s\n", run.failure.c_str());
    return run;
  }
  // A backslash before a closing quote must be doubled, or it escapes it.
  const std::string quotedDestination = "\"" + destination + (destination.back() == '\\' ? "\\\"" : "\"");
  run.exitCode = RunAndWait("\"" + host + "\" " + quotedDestination + " \"" + report + "\" " + arguments, 60000);
  if (run.exitCode == -1) run.failure = host + " could not be started: error " + std::to_string(GetLastError());
  run.report = ReadFileBytes(report);
  if (!run.failure.empty()) fprintf(stderr, "%s\n", run.failure.c_str());
  return run;
}

}  // namespace testing_support
