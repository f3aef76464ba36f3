// What the portable writer and encoder make (the bytes bundletool's pack
// writes: a program, then the bundle) is listed and read correctly by the
// launcher's own reader and decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bundle/block_decoder.h"
#include "bundle/bundle_reader.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/lzss_encoder.h"
#include "win32_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

Bytes Text(size_t size) {
  std::string s;
  // Shift-JIS text with 0x5C as a second byte, and line breaks.
  for (int i = 0; s.size() < size; ++i) s += "\x83\x5C\x83\x74\x83\x67 line " + std::to_string(i % 50) + "\r\n";
  s.resize(size);
  return Bytes(s.begin(), s.end());
}

Bytes Block(const Bytes& data, bundle::LzssLevel level) {
  return bundle::BuildCompressedBlock(data.data(), data.size(), bundle::DEFAULT_BLOCK_KEY, level);
}

class WriterUnderLauncherReader : public ::testing::Test {
 protected:
  WriterUnderLauncherReader() : folder("writer") {}

  std::string WriteLauncher(const std::vector<bundle::BundleInput>& inputs) {
    std::string file(5000, '\0');
    file.replace(0, 2, "MZ");
    const Bytes bundle = bundle::BuildBundle(inputs);
    file.append(bundle.begin(), bundle.end());
    const std::string path = folder.Path() + "launcher.exe";
    testing_support::WriteFileBytes(path, file);
    return path;
  }

  // The entry as the extraction job gets it: read whole, then decoded when it
  // is a block.
  Bytes ReadAsTheJobDoes(BundleReader& reader, const std::string& name) {
    const int32_t size = reader.EntrySize(name.c_str());
    Bytes buffer(size_t(size) + 1);
    int32_t read = -1;
    EXPECT_TRUE(reader.ReadEntry(name.c_str(), buffer.data(), size, &read).Ok()) << name;
    EXPECT_EQ(read, size) << name;
    buffer.resize(size_t(size));
    if (!IsCompressedBlock(buffer.data(), uint32_t(buffer.size()))) return buffer;
    const BlockDecoding decoded = DecodeBlock(buffer.data(), uint32_t(buffer.size()));
    EXPECT_NE(decoded.bytes, nullptr) << name;
    if (!decoded.bytes) return {};
    Bytes out(static_cast<uint8_t*>(decoded.bytes), static_cast<uint8_t*>(decoded.bytes) + decoded.size);
    PrivateHeapFree(decoded.bytes);
    return out;
  }

  testing_support::ScratchFolder folder;
};

TEST_F(WriterUnderLauncherReader, ShippedLikeBundleListsAndDecodes) {
  Bytes program = Random(150000, 1);
  for (size_t i = 0; i < program.size(); i += 64) std::memset(program.data() + i, 0, 16);  // zero stretches
  const Bytes text = Text(40000);
  const Bytes data = Random(9000, 2);
  const std::vector<bundle::BundleInput> inputs = {
      {"i_autorun.exe", Block(program, bundle::LzssLevel::Optimal)},
      {"readme_traial.txt", Block(text, bundle::LzssLevel::Optimal)},
      {"zephra.exe", Block(Bytes(70000, 0), bundle::LzssLevel::Fast)},
      {"inst_bgm.dat", data},
      {"empty.dat", {}},
      {"one.txt", Block(Bytes{'x'}, bundle::LzssLevel::Optimal)},
      {"\x83\x5C.txt", Block(text, bundle::LzssLevel::Fast)},
  };
  BundleReader reader(WriteLauncher(inputs).c_str());
  ASSERT_TRUE(reader.ListEntries());
  ASSERT_EQ(reader.Entries().size(), inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_EQ(std::string(reader.Entries()[i].name), inputs[inputs.size() - 1 - i].name) << "scan order";
  }

  EXPECT_EQ(ReadAsTheJobDoes(reader, "i_autorun.exe"), program);
  EXPECT_EQ(ReadAsTheJobDoes(reader, "readme_traial.txt"), text);
  EXPECT_EQ(ReadAsTheJobDoes(reader, "zephra.exe"), Bytes(70000, 0));
  EXPECT_EQ(ReadAsTheJobDoes(reader, "one.txt"), Bytes{'x'});
  EXPECT_EQ(ReadAsTheJobDoes(reader, "\x83\x5C.txt"), text);
  EXPECT_EQ(ReadAsTheJobDoes(reader, "inst_bgm.dat"), data);
  EXPECT_EQ(reader.EntrySize("empty.dat"), 0);

  // Streamed to disk as the job does for stored entries.
  const std::string copy = folder.Path() + "copy.dat";
  ASSERT_TRUE(reader.CopyEntryToFile("inst_bgm.dat", copy.c_str()).Ok());
  EXPECT_EQ(testing_support::ReadFileBytes(copy), std::string(data.begin(), data.end()));
}

TEST_F(WriterUnderLauncherReader, LaterRecordOfTheSameNameWins) {
  BundleReader reader(WriteLauncher({{"same.dat", {'o', 'l', 'd'}}, {"same.dat", {'n', 'e', 'w', '!'}}}).c_str());
  EXPECT_EQ(reader.EntrySize("same.dat"), 4);
  char buffer[4];
  ASSERT_TRUE(reader.ReadEntry("same.dat", buffer, 4).Ok());
  EXPECT_EQ(std::string(buffer, 4), "new!");
}

}  // namespace
