// Prints, per input, the stream size and speed of both encoder levels and how
// much smaller the optimal stream is than a greedy parse that always takes the
// longest match (the usual LZSS encoder), which is computed here from the same
// exact longest matches. Every stream is decoded once and checked.
//
// Inputs: text and x86-like machine code generated here (the same bytes on
// every run), and real executables from /usr/bin when present.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bundle/format/lzss.h"
#include "bundle/format/lzss_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using bundle::LzssLevel;

Bytes GenerateText(size_t size) {
  // Words drawn with a skewed frequency, sentences and line breaks, as in a
  // read-me or a script.
  static const char* const words[] = {
      "the",     "of",     "and",   "to",      "a",        "in",      "is",      "you",     "that",
      "it",      "for",    "on",    "with",    "as",       "game",    "install", "setup",   "folder",
      "file",    "please", "click", "window",  "version",  "trial",   "data",    "program", "run",
      "copy",    "disk",   "space", "system",  "required", "memory",  "sound",   "driver",  "display",
      "options", "start",  "menu",  "uninstall", "settings", "language", "support", "contact", "manual"};
  constexpr size_t WORD_COUNT = sizeof(words) / sizeof(words[0]);
  std::mt19937 rng(1);
  std::string s;
  size_t inSentence = 0;
  while (s.size() < size) {
    const size_t r = rng() % 1000;
    const size_t w = (r * r / 1000) * WORD_COUNT / 1000;  // skewed towards the first words
    std::string word = words[w];
    if (inSentence == 0) word[0] = char(word[0] - 32);
    s += word;
    if (++inSentence > 6 + rng() % 10) {
      s += rng() % 4 ? ". " : ".\r\n";
      inSentence = 0;
    } else {
      s += rng() % 12 ? " " : ", ";
    }
    if (rng() % 200 == 0) s += "\r\n  - " + std::to_string(rng() % 100000) + " KB\r\n";
  }
  s.resize(size);
  return Bytes(s.begin(), s.end());
}

// Functions of 32-bit x86 code (prologues, moves to and from the frame, calls
// to a set of targets, short jumps, pushes of addresses, returns, alignment
// padding) with tables of addresses, strings and zero-filled stretches between.
Bytes GenerateCode(size_t size) {
  std::mt19937 rng(2);
  Bytes b;
  std::vector<uint32_t> addresses;
  for (int i = 0; i < 600; ++i) addresses.push_back(0x00401000 + (rng() % 0x80000) * 4);
  auto le32 = [&](uint32_t v) {
    for (int k = 0; k < 4; ++k) b.push_back(uint8_t(v >> (8 * k)));
  };
  auto address = [&]() { return addresses[(rng() % 600) * (rng() % 600) / 600]; };
  while (b.size() < size) {
    const unsigned kind = rng() % 20;
    if (kind < 16) {
      // One function.
      b.insert(b.end(), {0x55, 0x8B, 0xEC, 0x83, 0xEC, uint8_t(4 * (1 + rng() % 16))});
      const int body = 5 + rng() % 40;
      for (int k = 0; k < body; ++k) {
        switch (rng() % 9) {
          case 0: b.insert(b.end(), {0x8B, 0x45, uint8_t(8 + 4 * (rng() % 6))}); break;
          case 1: b.insert(b.end(), {0x89, 0x45, uint8_t(0xFC - 4 * (rng() % 8))}); break;
          case 2: b.push_back(0xE8); le32(uint32_t(address() - 0x00401000 - b.size())); break;
          case 3: b.insert(b.end(), {uint8_t(0x74 + rng() % 2), uint8_t(rng() % 64)}); break;
          case 4: b.push_back(0x68); le32(address()); break;
          case 5: b.insert(b.end(), {0x8B, 0x0D}); le32(address()); break;
          case 6: b.insert(b.end(), {0x33, 0xC0}); break;
          case 7: b.insert(b.end(), {0x50, 0x51, 0xFF, 0x15}); le32(address()); break;
          default: b.insert(b.end(), {0x83, 0xC4, uint8_t(4 * (1 + rng() % 4))}); break;
        }
      }
      b.insert(b.end(), {0x8B, 0xE5, 0x5D, 0xC3});
      while (b.size() % 16) b.push_back(0xCC);
    } else if (kind < 18) {
      const int n = 4 + rng() % 40;
      for (int k = 0; k < n; ++k) le32(address());
    } else if (kind < 19) {
      static const char* const strings[] = {"GetProcAddress", "LoadLibraryA", "CreateFileA", "%s\\%s",
                                            "Software\\", "ReadFile", "CloseHandle", "error %d"};
      const std::string text = strings[rng() % 8];
      b.insert(b.end(), text.begin(), text.end());
      b.push_back(0);
    } else {
      b.insert(b.end(), 16 * (1 + rng() % 64), 0);
    }
  }
  b.resize(size);
  return b;
}

Bytes ReadFiles(const std::vector<std::string>& paths, size_t size) {
  Bytes b;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    b.insert(b.end(), file.begin(), file.end());
    if (b.size() >= size) break;
  }
  if (b.size() > size) b.resize(size);
  return b;
}

Bytes RealExecutables(size_t size) {
  return ReadFiles({"/usr/bin/cmake", "/usr/bin/gdb", "/usr/bin/perl", "/usr/bin/bash", "/usr/bin/ctest", "/usr/bin/tar"},
                   size);
}

// The greedy parse: the longest match wherever there is one.
size_t GreedySize(const Bytes& data) {
  const std::vector<bundle::LzssMatch> matches = bundle::FindLongestMatches(data.data(), data.size());
  size_t literals = 0, references = 0;
  for (size_t i = 0; i < data.size();) {
    const size_t length = matches[i].length;
    if (length >= bundle::MIN_MATCH || (length > 1 && i + length == data.size())) {
      ++references;
      i += length;
    } else {
      ++literals;
      ++i;
    }
  }
  return bundle::LzssStreamSize(literals, references);
}

struct Run {
  size_t size;
  double seconds;
};

// CPU time of the calling thread: the machine is shared, and time spent
// waiting for a core is not the encoder's.
double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The best of three runs.
Run Encode(const Bytes& data, LzssLevel level) {
  Bytes stream;
  double seconds = 1e30;
  for (int run = 0; run < 3; ++run) {
    const double start = ThreadSeconds();
    stream = bundle::LzssEncode(data.data(), data.size(), level);
    seconds = std::min(seconds, ThreadSeconds() - start);
  }
  Bytes decoded(data.size());
  uint8_t ring[bundle::RING_SIZE];
  bundle::LzssDecodeStream(decoded.data(), uint32_t(decoded.size()), stream.data(), stream.size(), ring);
  if (decoded != data) {
    std::fprintf(stderr, "encoder_bench: stream does not decode to its input\n");
    std::exit(1);
  }
  return Run{stream.size(), seconds};
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? size_t(std::atoi(argv[1])) : 8;
  const size_t size = (mib ? mib : 8) << 20;
  struct Input {
    const char* name;
    Bytes data;
  };
  std::vector<Input> inputs = {{"text", GenerateText(size)}, {"x86 code", GenerateCode(size)}};
  Bytes real = RealExecutables(size);
  if (!real.empty()) inputs.push_back({"ELF files", real});
  // Real English text: every licence text the system carries (a few hundred KB).
  std::vector<std::string> licenceFiles;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator("/usr/share/common-licenses", error)) {
    if (file.is_regular_file()) licenceFiles.push_back(file.path().string());
  }
  std::sort(licenceFiles.begin(), licenceFiles.end());
  Bytes licenses = ReadFiles(licenceFiles, size);
  if (!licenses.empty()) inputs.push_back({"licenses", licenses});

  std::printf("%-10s %9s | %-26s | %-26s | %8s %13s\n", "input", "MiB", "optimal: ratio  MB/s", "fast: ratio  MB/s",
              "greedy", "optimal gain");
  for (const Input& input : inputs) {
    if (argc > 2 && std::string(argv[2]) != input.name) continue;
    const double mb = double(input.data.size()) / 1e6;
    const Run optimal = Encode(input.data, LzssLevel::Optimal);
    const Run fast = Encode(input.data, LzssLevel::Fast);
    const size_t greedy = GreedySize(input.data);
    const double total = double(input.data.size());
    std::printf("%-10s %9.2f | %14.2f%% %9.1f | %14.2f%% %9.1f | %7.2f%% %12.2f%%\n", input.name,
                total / (1 << 20), 100.0 * double(optimal.size) / total, mb / optimal.seconds,
                100.0 * double(fast.size) / total, mb / fast.seconds, 100.0 * double(greedy) / total,
                100.0 * (1.0 - double(optimal.size) / double(greedy)));
  }
  std::printf("ratio = stream size / input size; MB/s = 10^6 input bytes per second of the encoding thread's CPU "
              "time, best of 3;\noptimal gain = how much smaller the optimal stream is than the greedy one\n");
  return 0;
}
