// The fuzzers' inputs through the Windows build under Wine: the seed corpus
// and the kept findings of fuzz/, and the same deterministic mutations of
// them that the host's plain fuzz driver runs, go through the launcher's own
// BundleReader (a real file, real reads, CopyEntryToFile writing real files)
// and DecodeBlock/LzssDecode (the private heap). Every input must end, hand
// out exactly the file's bytes or fail, decode exactly as the byte-by-byte
// definition or fail, and leave no private-heap block alive.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "bundle/block_decoder.h"
#include "bundle/bundle_reader.h"
#include "bundle/format/bundle_index.h"
#include "hostile_inputs.h"
#include "lzss_test_codec.h"
#include "win32_test_support.h"

using namespace testing_support;
using hostile::Bytes;

namespace {

const std::string FUZZ_FOLDER = WindowsPathOf(FUZZ_UNIX_DIR);

// The files of the corpus and regression folders of one fuzz target.
std::vector<Bytes> SeedsOf(const std::string& name) {
  std::vector<Bytes> seeds;
  for (const std::string& folder : {FUZZ_FOLDER + "\\corpus\\" + name, FUZZ_FOLDER + "\\regressions\\" + name}) {
    WIN32_FIND_DATAA item;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &item);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      if (item.cFileName[0] == '.' || (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      const std::string bytes = ReadFileBytes(folder + "\\" + item.cFileName);
      seeds.emplace_back(bytes.begin(), bytes.end());
    } while (FindNextFileA(search, &item));
    FindClose(search);
  }
  return seeds;
}

// Tracks the slowest input, for the log: a bound, not a speed test.
class Stopwatch {
 public:
  void Start() { start = std::chrono::steady_clock::now(); }
  void Stop() {
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (ms > slowestMs) slowestMs = ms;
  }
  double slowestMs = 0;

 private:
  std::chrono::steady_clock::time_point start;
};

TEST(HostileBundles, ReaderEndsAndHandsOutOnlyTheFilesBytes) {
  const std::vector<Bytes> seeds = SeedsOf("bundle_reader");
  ASSERT_GE(seeds.size(), 5u) << "no seed corpus under " << FUZZ_FOLDER;
  ScratchFolder scratch("hostile_bundles");
  const std::string path = scratch.Path() + "bundle.exe";
  const std::string copy = scratch.Path() + "entry.out";
  Stopwatch watch;
  long entriesChecked = 0, soundBundles = 0;

  const long runs = hostile::RunHostileInputs(seeds, 1500, 9, [&](const Bytes& input) {
    WriteFileBytes(path, std::string(input.begin(), input.end()));
    watch.Start();
    BundleReader reader(path.c_str());
    const bool sound = reader.ListEntries();
    // The portable index over the same bytes in memory lists the same.
    bundle::MemorySource memory(input.data(), uint32_t(input.size()));
    bundle::BundleIndex expected(&memory);
    ASSERT_EQ(expected.ListEntries(), sound);
    ASSERT_EQ(expected.Entries().size(), reader.Entries().size());
    soundBundles += sound;

    const size_t count = reader.Entries().size() < 16 ? reader.Entries().size() : 16;
    for (size_t i = 0; i < count; ++i) {
      const BundleEntry entry = reader.Entries()[i];
      const BundleEntry* first = expected.Find(entry.name);
      ASSERT_NE(nullptr, first);
      ASSERT_EQ(first->dataSize, reader.EntrySize(entry.name));
      const std::string bytes(input.begin() + first->dataStart, input.begin() + first->dataEnd);
      std::string buffer(size_t(first->dataSize) + 1, '\xCC');
      int32_t got = -1;
      ASSERT_TRUE(reader.ReadEntry(entry.name, &buffer[0], first->dataSize, &got).Ok()) << entry.name;
      ASSERT_EQ(first->dataSize, got);
      ASSERT_EQ(bytes + '\xCC', buffer);
      // The copy fails only its check: exactly when the portable index's
      // copy of the same bytes does, with the bytes written all the same.
      class Discard : public bundle::PieceSink {
        bool Write(const uint8_t*, int32_t) override { return true; }
      } discard;
      const bool passes = expected.CopyEntry(*first, discard) == bundle::CopyResult::Copied;
      const ReaderResult copied = reader.CopyEntryToFile(entry.name, copy.c_str());
      ASSERT_EQ(passes ? ReaderFault::None : ReaderFault::Damaged, copied.fault) << entry.name;
      ASSERT_EQ(bytes, ReadFileBytes(copy));
      ++entriesChecked;
    }
    ASSERT_EQ(0, reader.EntrySize("\x01 no such entry"));
    ASSERT_FALSE(reader.CopyEntryToFile("\x01 no such entry", copy.c_str()).Ok());
    watch.Stop();
  });
  std::printf("%ld bundles (%ld sound), %ld entries read and copied; slowest %.1f ms\n", runs, soundBundles,
              entriesChecked, watch.slowestMs);
  EXPECT_GT(soundBundles, 0);
  EXPECT_GT(entriesChecked, 0);
}

TEST(HostileBlocks, DecoderEndsAndDecodesExactlyOrFails) {
  const std::vector<Bytes> seeds = SeedsOf("block_decoder");
  ASSERT_GE(seeds.size(), 5u) << "no seed corpus under " << FUZZ_FOLDER;
  Stopwatch watch;
  long decoded = 0;

  const long runs = hostile::RunHostileInputs(seeds, 20000, 9, [&](const Bytes& input) {
    // The block in a buffer of exactly its size on the process heap, as the
    // worker holds it.
    uint8_t* block = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, input.empty() ? 1 : input.size()));
    ASSERT_NE(nullptr, block);
    if (!input.empty()) std::memcpy(block, input.data(), input.size());
    watch.Start();
    const BlockDecoding decoding = DecodeBlock(block, uint32_t(input.size()));
    void* output = decoding.bytes;
    const uint32_t size = decoding.size;

    if (!IsCompressedBlock(input.data(), uint32_t(input.size()))) {
      ASSERT_EQ(nullptr, output);
      ASSERT_EQ(0u, size);
    } else {
      const bundle::BlockHeader header = bundle::ReadBlockHeader(input.data());
      ASSERT_EQ(header.decodedSize, size);
      Bytes stream(input.begin() + bundle::BLOCK_HEADER_SIZE, input.end());
      bundle::XorBytes(stream.data(), stream.size(), header.key);
      // The definition needs D bytes of output only when the stream can make
      // them: a stream of n bytes makes at most 18 * 8 * n / 17 of them.
      const uint64_t reachable = uint64_t(stream.size()) * 18 * 8 / 17 + 18;
      if (output != nullptr) {
        ASSERT_LE(uint64_t(size), reachable);
        Bytes expected(size);
        ASSERT_EQ(size_t(size), test_codec::PlainRingDecode(expected.data(), size, stream.data(), stream.size()));
        ASSERT_TRUE(size == 0 || std::memcmp(output, expected.data(), size) == 0);
        PrivateHeapFree(output);
        ++decoded;
      } else if (uint64_t(size) <= reachable) {
        Bytes expected(size);
        ASSERT_LT(test_codec::PlainRingDecode(expected.data(), size, stream.data(), stream.size()), size_t(size))
            << "a complete stream was refused";
      }
    }
    if (input.size() >= 2) {
      const uint32_t d = uint32_t(input[0]) | uint32_t(input[1]) << 8;
      Bytes out(d + 1), expected(d + 1);
      const size_t produced = test_codec::PlainRingDecode(expected.data(), d, input.data() + 2, input.size() - 2);
      ASSERT_EQ(produced == d,
                LzssDecode(out.data(), input.data() + 2, uint32_t(input.size() - 2), d) == DecodeStatus::Decoded);
      ASSERT_EQ(0, std::memcmp(out.data(), expected.data(), produced));
    }
    watch.Stop();
    HeapFree(GetProcessHeap(), 0, block);
    ASSERT_EQ(0, private_heap_testing::LiveCount());
  });
  std::printf("%ld blocks, %ld decoded; slowest %.1f ms\n", runs, decoded, watch.slowestMs);
  EXPECT_GT(decoded, 0);
}

}  // namespace
