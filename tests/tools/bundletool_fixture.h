// The fixture of the program bundletool_test (bundletool_test.cpp,
// bundletool_pack_test.cpp, bundletool_pack_refusals_test.cpp and
// bundletool_read_test.cpp): the launcher's entry table as the tool's tests
// read it, a bare launcher to pack behind, the shipped layout's payload, and
// the tool run in-process or, with BUNDLETOOL_COMMAND set, as that program
// (the Windows trees run these cases against bundletool.exe under Wine this
// way).
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_scan.h"
#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"
#include "common/entry_flags.h"
#include "common/launcher_marker.h"
#include "lzss_test_codec.h"
#include "tool_test_files.h"

namespace tool_test {

// The launcher's entry table, from its one source.
struct ShippedRow {
  const char* name;
  uint32_t flags;
};
inline const ShippedRow SHIPPED_ROWS[] = {
#define ENTRY_ROW(name, prefix, flags) {name, flags},
#include "common/entry_rows.def"
#undef ENTRY_ROW
};
inline constexpr int SHIPPED_COUNT = int(sizeof SHIPPED_ROWS / sizeof SHIPPED_ROWS[0]);
static_assert(SHIPPED_COUNT == 10, "the shipped layout has ten entries");

inline bundle::CheckItem CheckOf(const std::string& name, const Bytes& content) {
  return {name, bundle::Crc32(content.data(), content.size())};
}

inline std::vector<bundle::BundleEntry> ScanFile(const Bytes& file, bundle::ScanDiagnosis* diagnosis = nullptr) {
  bundle::MemorySource source(file.data(), uint32_t(file.size()));
  std::vector<bundle::BundleEntry> entries;
  const bundle::ScanDiagnosis d = bundle::ScanBundle(source, entries);
  if (diagnosis != nullptr) *diagnosis = d;
  return entries;
}

inline Bytes Random(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

class BundleTool : public LauncherStubTest {
 protected:
  // The tool under test: the in-process commands, or BUNDLETOOL_COMMAND.
  Result Run(const std::vector<std::string>& args) {
    const std::vector<std::string> command = ToolCommand();
    return command.empty() ? RunInProcess(args) : RunProgram(command, args);
  }

  Result RunProgram(std::vector<std::string> words, const std::vector<std::string>& args) {
    words.insert(words.end(), args.begin(), args.end());
    std::string line;
    for (const std::string& word : words) line += Quoted(word) + " ";
    line += "</dev/null >" + Quoted(Path(".out")) + " 2>" + Quoted(Path(".err"));
    const int status = std::system(line.c_str());
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, TextOf(Path(".out")), TextOf(Path(".err"))};
    std::remove(Path(".out").c_str());
    std::remove(Path(".err").c_str());
    return result;
  }

  // pack of a bundle that is not the launcher's layout, behind the stub.
  Result PackAny(std::vector<std::string> args) {
    args.insert(args.begin(), {"pack", "--any-layout", "--stub", stub});
    return Run(args);
  }
  // verify of such a bundle.
  Result VerifyAny(const std::string& path) { return Run({"verify", "--any-layout", path}); }

  // The ten payload files of the shipped layout, of every kind: programs,
  // text, random data, an empty file, one byte, a long run.
  std::string MakePayload() {
    const std::string payload = Path("payload");
    ::mkdir(payload.c_str(), 0777);
    const Bytes self = ReadFile("/proc/self/exe");
    std::string text;
    for (int i = 0; text.size() < 60000; ++i) text += "Line " + std::to_string(i % 97) + " of the read-me text.\r\n";
    const std::vector<Bytes> contents = {
        Bytes(self.begin(), self.begin() + 200000), Bytes(self.begin() + 100000, self.begin() + 160000),
        Bytes{},                                     Bytes{0x4D},
        Bytes(70000, 0),                             Random(100000, 1),
        Bytes(text.begin(), text.end()),             Random(3000, 2),
        Bytes(1, 0),                                 Bytes(50000, 0xAB)};
    for (int i = 0; i < SHIPPED_COUNT; ++i) WriteFile(payload + "/" + SHIPPED_ROWS[i].name, contents[size_t(i)]);
    return payload;
  }

  std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(d)) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
      }
      ::closedir(d);
    }
    return names;
  }
};

}  // namespace tool_test
