// The backward scan over arbitrary files: it must read only inside the file,
// end, and list only entries that lie wholly inside it after the start marker.
#include <cstring>

#include "bundle/format/bundle_scan.h"
#include "fuzz_target.h"
#include "lzss_test_codec.h"

namespace {

// Reads are checked against the file instead of clamped, so that a read the
// scan should never make fails the run.
class StrictSource : public bundle::ByteSource {
 public:
  StrictSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Size() override { return uint32_t(size_); }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override {
    FuzzCheck(count >= 0 && uint64_t(position) + uint64_t(count) <= size_, "read outside the file");
    FuzzCheck(count <= bundle::MAX_NAME_LENGTH, "read longer than a name");
    ++reads;
    std::memcpy(buffer, data_ + position, size_t(count));
    return count;
  }
  size_t reads = 0;

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > bundle::MAX_FILE_SIZE) return 0;
  StrictSource source(data, size);
  std::vector<bundle::BundleEntry> entries;
  const bundle::ScanDiagnosis diagnosis = bundle::ScanBundle(source, entries);
  // Two reads per record and one for the last marker, at most.
  FuzzCheck(source.reads <= 2 * entries.size() + 2, "more reads than records");
  FuzzCheck(diagnosis.position <= size, "diagnosis outside the file");
  int64_t below = int64_t(size);
  for (const bundle::BundleEntry& e : entries) {
    FuzzCheck(e.dataStart >= 4 && e.dataStart <= e.dataEnd && e.dataEnd - e.dataStart == e.dataSize,
              "entry data out of order");
    const size_t nameLength = strnlen(e.name, sizeof e.name);
    FuzzCheck(nameLength < sizeof e.name, "name without NUL");
    FuzzCheck(int64_t(e.dataEnd) + int64_t(nameLength) + 1 + 12 <= below, "entry overlaps the next");
    below = e.dataStart;  // the previous record ends where this data starts
  }
  if (diagnosis.status == bundle::ScanStatus::Ok && !entries.empty()) {
    FuzzCheck(bundle::LoadLe32(data + entries.back().dataStart - 4) == uint32_t(bundle::START_MARKER),
              "complete list without a start marker");
  }
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  return {
      test_codec::MakeBundle("MZ image", {}),
      test_codec::MakeBundle("MZ image", {{"a.exe", "first"}, {"b.txt", ""}, {"c.dat", "\xB9\x07\0\0 third"}}),
      test_codec::MakeBundle("", {{"x", "1"}, {"x", "22"}}),
      test_codec::MakeBundle("MZ", {{std::string(259, 'n'), std::string(300, '\xBA')}}),
      {0xB9, 0x07, 0, 0},
      {},
  };
}
