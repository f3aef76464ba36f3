// bundletool list, verify and extract on bundles that are not as the tool
// writes them: none at all, cut short, damaged in their layout or only in
// what the check record shows, with what the launcher merely tolerates, a
// name packed twice, and names that would write outside the output folder.
// Verify finds the fault, list shows it, extract writes nothing damaged or
// unsafe. Built into bundletool_test, whose opening comment tells how the
// same cases run against bundletool.exe.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/crc32.h"
#include "bundle/format/lzss_encoder.h"
#include "bundletool_fixture.h"

namespace {

using namespace tool_test;

// A bundle assembled by hand so that it can be damaged at will.
class DamagedBundle : public BundleTool {
 protected:
  std::string WriteBundle(const std::string& name, const std::vector<bundle::BundleInput>& inputs,
                          size_t cutAtEnd = 0) {
    Bytes file = ReadFile(stub);
    const Bytes bundle = bundle::BuildBundle(inputs);
    file.insert(file.end(), bundle.begin(), bundle.end() - std::ptrdiff_t(cutAtEnd));
    WriteFile(Path(name), file);
    return Path(name);
  }
  Bytes Block(const std::string& text, bool dropLastStreamByte = false, size_t extraBytes = 0) {
    Bytes block = bundle::BuildCompressedBlock(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                               bundle::DEFAULT_BLOCK_KEY, bundle::LzssLevel::Optimal);
    if (dropLastStreamByte) block.pop_back();
    block.insert(block.end(), extraBytes, 0x55);
    return block;
  }
};

TEST_F(DamagedBundle, FileWithoutABundleIsReported) {
  for (const char* command : {"verify", "list"}) {
    const Result r = Run({command, stub});
    EXPECT_EQ(r.code, 1) << command;
    EXPECT_EQ(r.err, "bundletool: " + stub + ": carries no bundle: it is a bare program, a PE32 GUI program for i386\n");
  }
  const Result r = Run({"extract", stub, "-o", Path("x")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("carries no bundle"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("x")));
}

TEST_F(DamagedBundle, TruncatedStreamIsDamageAndIsNotExtracted) {
  const std::string text = "a stream that will lose its last byte, a stream that will lose its last byte";
  const std::string path = WriteBundle("cut.exe", {{"good.txt", Block("fine")}, {"cut.txt", Block(text, true)}});
  const Result verify = VerifyAny(path);
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.err.find(path + ": #1 cut.txt: compressed stream ends after"), std::string::npos) << verify.err;
  EXPECT_NE(verify.out.find("ok       #2 good.txt"), std::string::npos) << verify.out;
  const Result extract = Run({"extract", path, "-o", Path("x")});
  EXPECT_EQ(extract.code, 1);
  EXPECT_NE(extract.err.find("cut.txt"), std::string::npos) << extract.err;
  EXPECT_EQ(FilesIn(Path("x")), std::vector<std::string>{"good.txt"}) << "only the sound entry, and no temporary file";
}

TEST_F(DamagedBundle, DecodedSizeBeyondWhatTheStreamCanGiveIsDamage) {
  Bytes block = Block("short");
  bundle::StoreLe32(&block[16], 0xFFFFFFF0u);  // no output of that size is allocated
  const Result verify = VerifyAny(WriteBundle("huge.exe", {{"huge.txt", block}}));
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.err.find("truncated block"), std::string::npos) << verify.err;
}

TEST_F(DamagedBundle, SizesPointingOutsideTheFileAreDamage) {
  Bytes file = ReadFile(WriteBundle("sizes.exe", {{"a.txt", {1, 2, 3}}}));
  bundle::StoreLe32(&file[file.size() - 8], 0x00FFFFFF);  // data size reaching before the file
  WriteFile(Path("sizes.exe"), file);
  const Result verify = VerifyAny(Path("sizes.exe"));
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.err.find("sizes.exe: bundle is damaged: data size reaches before the start marker"),
            std::string::npos) << verify.err;
  EXPECT_EQ(Run({"list", Path("sizes.exe")}).code, 1);

  // A file cut short in its last record: its last four bytes are no marker.
  const std::string cut = WriteBundle("cut.exe", {{"a.txt", {1, 2, 3}}, {"b.txt", {4}}}, 2);
  EXPECT_EQ(VerifyAny(cut).code, 1);
}

TEST_F(DamagedBundle, WhatTheLauncherToleratesIsOnlyWarnedOf) {
  const std::string path = WriteBundle("warn.exe", {{"same.txt", Block("older")},
                                                    {"tail.txt", Block("bytes follow the stream", false, 3)},
                                                    {"same.txt", Block("newer")}});
  const Result verify = VerifyAny(path);
  EXPECT_EQ(verify.code, 0) << verify.err;
  const std::string warning = "bundletool: " + path + ": warning: ";
  EXPECT_NE(verify.err.find(warning + "#2 tail.txt: 3 bytes after the end of the stream"), std::string::npos) << verify.err;
  EXPECT_NE(verify.err.find(warning + "#3 same.txt: shadowed by #1"), std::string::npos) << verify.err;
  EXPECT_NE(verify.err.find(warning + "no check record"), std::string::npos) << verify.err;
  EXPECT_NE(verify.out.find("0 problems, 4 warnings"), std::string::npos) << verify.out;

  const Result list = Run({"list", path});
  EXPECT_NE(list.out.find("shadowed by #1"), std::string::npos) << list.out;
  ASSERT_EQ(Run({"extract", path, "-o", Path("x")}).code, 0);
  EXPECT_EQ(ReadFile(Path("x/same.txt")), Bytes({'n', 'e', 'w', 'e', 'r'})) << "the later record, as the launcher reads it";
}

// A name packed twice on request: the check record carries the CRC-32 of the
// later copy, the one the launcher reads, and the older copy is checked
// against nothing, so verify only warns of it.
TEST_F(BundleTool, NamePackedTwiceIsCheckedAsTheLauncherReadsIt) {
  WriteText(Path("a.txt"), "the older copy");
  WriteText(Path("b.txt"), "the later copy, which the launcher reads");
  ASSERT_EQ(PackAny({"-o", Path("dup.exe"), "-s", "x=" + Path("a.txt"), "-s", "x=" + Path("b.txt"),
                     "--allow-duplicates"}).code, 0);
  const Result verify = VerifyAny(Path("dup.exe"));
  EXPECT_EQ(verify.code, 0) << verify.err;
  EXPECT_NE(verify.err.find("warning: #3 x: shadowed by #2"), std::string::npos) << verify.err;
  EXPECT_NE(verify.out.find("0 problems"), std::string::npos) << verify.out;
  const Bytes later = ReadFile(Path("b.txt"));
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08X", bundle::Crc32(later.data(), later.size()));
  const Result list = Run({"list", "--json", Path("dup.exe")});
  EXPECT_NE(list.out.find("\"index\": 2, \"name\": \"x\", \"kind\": \"stored\", \"stored_size\": " +
                          std::to_string(later.size()) + ", \"decoded_size\": " + std::to_string(later.size()) +
                          ", \"key\": null, \"crc32\": \"" + crc + "\", \"program\": null, \"shadowed_by\": null}"),
            std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\"crc32\": null, \"program\": null, \"shadowed_by\": 2}"), std::string::npos) << list.out;
  ASSERT_EQ(Run({"extract", Path("dup.exe"), "-o", Path("x")}).code, 0);
  EXPECT_EQ(ReadFile(Path("x/x")), later);
}

// Damage that leaves the layout sound: only the check record shows it.
TEST_F(DamagedBundle, CheckRecordShowsDamageTheLayoutCannot) {
  const Bytes stored = Random(10000, 3);
  WriteFile(Path("stored.bin"), stored);
  WriteText(Path("text.txt"), "some text, some text, some text");
  ASSERT_EQ(PackAny({"-o", Path("out.exe"), "-s", Path("stored.bin"), "-c", Path("text.txt")}).code, 0);
  const Bytes packed = ReadFile(Path("out.exe"));
  const std::vector<bundle::BundleEntry> entries = ScanFile(packed);
  ASSERT_EQ(entries.size(), 3u);
  ASSERT_STREQ(entries[2].name, "stored.bin");

  // One bit of the stored entry: verify finds it, extract writes the other
  // entry and not this one.
  Bytes flipped = packed;
  flipped[size_t(entries[2].dataStart) + 5000] ^= 0x10;
  WriteFile(Path("flipped.exe"), flipped);
  Result r = VerifyAny(Path("flipped.exe"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("flipped.exe: #3 stored.bin: content CRC-32"), std::string::npos) << r.err;
  r = Run({"extract", Path("flipped.exe"), "-o", Path("x")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("entry \"stored.bin\" not written: content CRC-32"), std::string::npos) << r.err;
  EXPECT_EQ(FilesIn(Path("x")), std::vector<std::string>{"text.txt"}) << "no half-written file either";

  // One bit of the record itself: the whole bundle is damaged, as the
  // launcher sees it.
  Bytes record = packed;
  record[size_t(entries[0].dataStart) + 9] ^= 0x01;
  WriteFile(Path("record.exe"), record);
  r = VerifyAny(Path("record.exe"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("check record fails its own CRC"), std::string::npos) << r.err;
  r = Run({"extract", Path("record.exe"), "-o", Path("y")});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(Exists(Path("y")));
}

TEST_F(DamagedBundle, UnsafeStoredNamesAreNeverWritten) {
  // Records written without the writer's name check.
  Bytes file = ReadFile(stub);
  const Bytes marker = bundle::StartMarkerBytes();
  file.insert(file.end(), marker.begin(), marker.end());
  for (const std::string name : {"../escape.txt", "ok.txt"}) {
    file.push_back('x');
    const Bytes trailer = bundle::RecordTrailerBytes(name, 1);
    file.insert(file.end(), trailer.begin(), trailer.end());
  }
  WriteFile(Path("unsafe.exe"), file);
  ::mkdir(Path("x").c_str(), 0777);
  const Result extract = Run({"extract", Path("unsafe.exe"), "-o", Path("x")});
  EXPECT_EQ(extract.code, 1);
  EXPECT_NE(extract.err.find("path separator"), std::string::npos) << extract.err;
  EXPECT_FALSE(Exists(Path("escape.txt")));
  EXPECT_TRUE(Exists(Path("x/ok.txt")));
  EXPECT_EQ(VerifyAny(Path("unsafe.exe")).code, 1);
}

}  // namespace
