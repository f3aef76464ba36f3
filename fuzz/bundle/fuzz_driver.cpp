// fuzz<target> [--mutations N] [--seed S] PATH...
//
// A plain driver for builds without libFuzzer: runs every file named, or
// found in a folder named (the seed corpus and the kept regression inputs),
// then N mutations of them (default 20000; hostile_inputs.h). Deterministic
// for a seed. A failed check or a sanitizer's abort prints the input in hex.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "hostile_inputs.h"

namespace {

std::vector<uint8_t> currentInput;

void RunOne(const std::vector<uint8_t>& input) {
  currentInput = input;
  // An exact-size heap copy, so that the sanitizers see a read past its end.
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(input.empty() ? 1 : input.size()));
  if (!input.empty()) std::memcpy(copy, input.data(), input.size());
  LLVMFuzzerTestOneInput(copy, input.size());
  std::free(copy);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// The files of path: itself, or a folder's regular files in name order.
std::vector<std::string> FilesOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return {};
  if (!S_ISDIR(info.st_mode)) return {path};
  std::vector<std::string> files;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* item = readdir(dir)) {
      const std::string full = path + "/" + item->d_name;
      if (item->d_name[0] != '.' && stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode)) files.push_back(full);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

// Any abort, a failed check's or a sanitizer's, shows the input first.
static void PrintInputAndAbort(int) {
  std::fprintf(stderr, "input (%zu bytes):", currentInput.size());
  for (size_t i = 0; i < currentInput.size(); ++i) std::fprintf(stderr, "%s%02x", i % 32 ? " " : "\n", currentInput[i]);
  std::fprintf(stderr, "\n");
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

int main(int argc, char** argv) {
  std::signal(SIGABRT, PrintInputAndAbort);
  long mutations = 20000;
  uint64_t seed = 1;
  std::vector<std::vector<uint8_t>> seeds;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mutations" && i + 1 < argc) {
      mutations = std::atol(argv[++i]);
      continue;
    }
    if (arg == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
      continue;
    }
    struct stat info;
    if (stat(arg.c_str(), &info) != 0) {
      std::fprintf(stderr, "%s: no such file or folder\n", arg.c_str());
      return 2;
    }
    const std::vector<std::string> files = FilesOf(arg);
    for (const std::string& file : files) {
      seeds.emplace_back();
      if (!ReadFile(file, seeds.back())) {
        std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
        return 2;
      }
    }
  }
  if (seeds.empty()) {
    std::fprintf(stderr, "usage: %s [--mutations N] [--seed S] SEED_FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  const long runs = hostile::RunHostileInputs(seeds, mutations, seed, RunOne);
  std::printf("%ld inputs from %zu seeds passed\n", runs, seeds.size());
  return 0;
}
