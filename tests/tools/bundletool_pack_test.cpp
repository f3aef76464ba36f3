// What bundletool pack writes: the stub, then exactly the bundle the writer
// makes of the entries, in their order from the command line and from
// manifests in every form an editor saves them (and a manifest's errors, by
// line); signatures dropped where they could no longer match; programs among
// the entries shown as signed or not; and the same launcher, byte for byte,
// as the Linux tool's. Built into bundletool_test, whose opening comment
// tells how the same cases run against bundletool.exe.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_scan.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/lzss_encoder.h"
#include "bundletool_fixture.h"
#include "lzss_test_codec.h"

namespace {

using namespace tool_test;

TEST_F(BundleTool, PackWritesTheStubThenExactlyTheWritersBundle) {
  WriteText(Path("a.txt"), "hello hello hello hello");
  WriteFile(Path("b.bin"), {1, 2, 3});
  ASSERT_EQ(PackAny({"-o", Path("out.exe"), "-c", Path("a.txt"), "-s", "B=" + Path("b.bin"),
                 "--key", "0x3C"}).code, 0);
  const std::string a = "hello hello hello hello";
  const Bytes block = bundle::BuildCompressedBlock(reinterpret_cast<const uint8_t*>(a.data()), a.size(), 0x3C,
                                                   bundle::LzssLevel::Optimal);
  Bytes expected = ReadFile(stub);
  const Bytes bundle = bundle::BuildBundle({{"a.txt", block}, {"B", {1, 2, 3}}},
                                           {CheckOf("a.txt", Bytes(a.begin(), a.end())), CheckOf("B", {1, 2, 3})});
  expected.insert(expected.end(), bundle.begin(), bundle.end());
  EXPECT_EQ(ReadFile(Path("out.exe")), expected);
  // Without the record, as older tools wrote bundles.
  ASSERT_EQ(PackAny({"-o", Path("old.exe"), "-s", "B=" + Path("b.bin"), "--no-check"}).code, 0);
  expected = ReadFile(stub);
  const Bytes unchecked = bundle::BuildBundle({{"B", {1, 2, 3}}});
  expected.insert(expected.end(), unchecked.begin(), unchecked.end());
  EXPECT_EQ(ReadFile(Path("old.exe")), expected);
}

TEST_F(BundleTool, CommandLineEntriesKeepTheirOrderAcrossOptions) {
  WriteText(Path("1"), "one");
  WriteText(Path("2"), "two");
  WriteText(Path("3"), "three");
  ASSERT_EQ(PackAny({"-o", Path("out.exe"), "-s", Path("1"), "-c", Path("2"), "-s", Path("3")}).code, 0);
  const std::vector<bundle::BundleEntry> entries = ScanFile(ReadFile(Path("out.exe")));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_STREQ(entries[0].name, bundle::CHECK_RECORD_NAME);
  EXPECT_STREQ(entries[1].name, "3");
  EXPECT_STREQ(entries[2].name, "2");
  EXPECT_STREQ(entries[3].name, "1");
}

// Signing after packing puts a certificate table behind the bundle; packing
// again, or packing a signed stub, cannot keep a signature (it would no
// longer match), so pack drops it and clears its directory entry.
TEST_F(BundleTool, SignedFilesAreReadAndPackedWithoutTheirSignature) {
  const size_t entry = test_codec::CertificateEntryOf();
  const Bytes table(300, 0x30);
  Bytes signedStub = test_codec::MakePeImage(0x403);
  const Bytes bareStub = signedStub;
  test_codec::AppendSignature(signedStub, table);
  WriteFile(Path("signed_stub.exe"), signedStub);
  WriteText(Path("a.txt"), "first content");
  WriteText(Path("b.txt"), "second content");

  Result r = Run({"pack", "--any-layout", "--stub", Path("signed_stub.exe"), "-o", Path("out.exe"), "-s", Path("a.txt")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("dropped the signature of " + Path("signed_stub.exe")), std::string::npos) << r.out;
  const Bytes packed = ReadFile(Path("out.exe"));
  // The program is the bare stub and the signing tool's padding, the entry
  // cleared; no certificate table is left.
  Bytes program(bareStub);
  program.resize((program.size() + 7) / 8 * 8, 0);
  ASSERT_GT(packed.size(), program.size());
  EXPECT_TRUE(std::equal(program.begin(), program.end(), packed.begin()));
  bundle::ScanDiagnosis diagnosis;
  EXPECT_EQ(ScanFile(packed, &diagnosis).size(), 2u);
  EXPECT_FALSE(diagnosis.signature);
  EXPECT_EQ(bundle::LoadLe32(&packed[entry]) | bundle::LoadLe32(&packed[entry + 4]), 0u);

  // Signed after packing: every command reads it, verify tells the signature.
  Bytes signedLauncher = packed;
  test_codec::AppendSignature(signedLauncher, table);
  WriteFile(Path("signed.exe"), signedLauncher);
  r = VerifyAny(Path("signed.exe"));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("signed: its certificate table (bytes " + std::to_string(packed.size() + (8 - packed.size() % 8) % 8)),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("lies inside the signed part"), std::string::npos) << r.out;
  EXPECT_EQ(Run({"list", Path("signed.exe")}).code, 0);
  ASSERT_EQ(Run({"extract", Path("signed.exe"), "-o", Path("x")}).code, 0);
  EXPECT_EQ(ReadFile(Path("x/a.txt")), ReadFile(Path("a.txt")));

  // Packed again: the signature goes with the old bundle.
  r = Run({"pack", "--any-layout", "--stub", Path("signed.exe"), "-o", Path("again.exe"), "-s", Path("b.txt"), "--replace"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("dropped the signature"), std::string::npos) << r.out;
  const Bytes again = ReadFile(Path("again.exe"));
  EXPECT_TRUE(std::equal(program.begin(), program.end(), again.begin()));
  const std::vector<bundle::BundleEntry> entries = ScanFile(again, &diagnosis);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_STREQ(entries[1].name, "b.txt");
  EXPECT_FALSE(diagnosis.signature);
}

TEST_F(BundleTool, ManifestErrorsNameTheLine) {
  WriteText(Path("a.txt"), "a");
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"a.txt a.txt stored\na.txt a.txt compresed\n", "line 2: unknown keyword \"compresed\""},
      {"a.txt a.txt stored\nb.txt \x95\x5C.txt stored\n", "line 2: not UTF-8 text"},
      {"a.txt a.txt\n", "line 1: expected NAME SOURCE compressed|stored, found 2 fields"},
      {"a.txt a.txt stored extra\n", "line 1: expected NAME SOURCE compressed|stored, found 4 fields"},
      {"\"a.txt a.txt stored\n", "line 1: a quoted field has no closing quote"},
      {"a.txt missing.txt stored\n", "missing.txt: cannot open: No such file or directory (" },
  };
  for (const auto& c : cases) {
    WriteText(Path("list.manifest"), c.text);
    const Result r = PackAny({"-m", Path("list.manifest"), "-o", Path("out.exe")});
    EXPECT_EQ(r.code, 1) << c.text;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Path("out.exe")));
  }
  // Every missing source in one run, each with its line.
  WriteText(Path("list.manifest"), "a.txt gone1.txt stored\nb.txt a.txt stored\nc.txt gone2.txt stored\n");
  Result r = PackAny({"-m", Path("list.manifest"), "-o", Path("out.exe")});
  EXPECT_EQ(r.err, "bundletool: " + Path("gone1.txt") + ": cannot open: No such file or directory (" +
                       Path("list.manifest") + " line 1)\nbundletool: " + Path("gone2.txt") +
                       ": cannot open: No such file or directory (" + Path("list.manifest") + " line 3)\n");

  // The same manifest as editors write it: with a UTF-8 byte order mark, as
  // UTF-16 of either byte order, with CR LF, blank lines, comments after
  // entries, quoted fields with blanks and \ between folders; sources are
  // relative to the manifest's folder. All pack the same bytes.
  ::mkdir(Path("sub").c_str(), 0777);
  WriteText(Path("sub/a b.txt"), "spaced");
  const std::string text = "# the list\r\n\r\n  # indented comment\r\n\"x y.txt\" \"sub\\a b.txt\" compressed  "
                           "# a comment\r\n\t\r\n\xE8\xA1\xA8#1.txt \"sub/a b.txt\" stored\r\n";
  std::string little = "\xFF\xFE", big = "\xFE\xFF";
  for (size_t i = 0; i < text.size();) {  // the text is ASCII but for one character of three bytes, 表
    const bool wide = (uint8_t(text[i]) & 0xF0) == 0xE0;
    const uint16_t unit = wide ? uint16_t((text[i] & 0x0F) << 12 | (text[i + 1] & 0x3F) << 6 | (text[i + 2] & 0x3F))
                               : uint16_t(uint8_t(text[i]));
    i += wide ? 3 : 1;
    little += {char(unit & 0xFF), char(unit >> 8)};
    big += {char(unit >> 8), char(unit & 0xFF)};
  }
  std::vector<Bytes> packed;
  for (const std::string& manifest : {text, "\xEF\xBB\xBF" + text, little, big}) {
    WriteText(Path("list.manifest"), manifest);
    r = PackAny({"-m", Path("list.manifest"), "-o", Path("out.exe")});
    ASSERT_EQ(r.code, 0) << r.err;
    packed.push_back(ReadFile(Path("out.exe")));
    EXPECT_EQ(packed.back(), packed.front());
  }
  const std::vector<bundle::BundleEntry> entries = ScanFile(packed.front());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_STREQ(entries[1].name, "\x95\x5C#1.txt");  // 表#1.txt: a # inside a field is no comment
  ASSERT_EQ(Run({"extract", Path("out.exe"), "x y.txt", "-o", Path("x")}).code, 0);
  EXPECT_EQ(ReadFile(Path("x/x y.txt")), Bytes({'s', 'p', 'a', 'c', 'e', 'd'}));
}

// The tool under test and the Linux tool's commands, on the same inputs:
// the same launcher, byte for byte, and the same reports. Names beyond ASCII
// too, and those are held to the bytes themselves, the ones Windows' code
// page 932 gives them, so that no tool passes with a table of its own (the
// host tree compares the host tool with itself): the launcher's ANSI file
// calls turn exactly these bytes into the names meant. A character Windows
// has no exact form for is refused, even where another system's code page
// 932 takes it (〜 as ～).
TEST_F(BundleTool, OutputIsTheLinuxToolsByteForByte) {
  const std::string payload = MakePayload();
  for (const char* level : {"optimal", "fast"}) {
    const std::vector<std::string> pack = {"pack", "--stub", stub, "-m", SHIPPED_MANIFEST, "--base", payload,
                                           "--key", "0x5A", "-l", level, "-o"};
    std::vector<std::string> tested = pack, reference = pack;
    tested.push_back(Path("tested.exe"));
    reference.push_back(Path("linux.exe"));
    const Result packed = Run(tested);
    ASSERT_EQ(packed.code, 0) << packed.err;
    ASSERT_EQ(RunInProcess(reference).code, 0);
    EXPECT_EQ(ReadFile(Path("tested.exe")), ReadFile(Path("linux.exe"))) << level;
  }
  for (const char* command : {"list", "verify"}) {
    const Result tested = Run({command, Path("linux.exe")});
    const Result reference = RunInProcess({command, Path("linux.exe")});
    EXPECT_EQ(tested.code, reference.code) << command;
    EXPECT_EQ(tested.out, reference.out) << command;
  }

  const struct {
    const char* utf8;
    const char* cp932;  // empty: refused
  } names[] = {
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "\x93\xFA\x96\x7B\x8C\xEA.txt"},  // 日本語
      {"\xE8\xA1\xA8\xE7\xA4\xBA", "\x95\x5C\x8E\xA6"},                             // 表示: a 0x5C trail byte
      {"\xEF\xBD\xB6\xEF\xBE\x85", "\xB6\xC5"},                                      // ｶﾅ, half width
      {"\xEF\xBD\x9E", "\x81\x60"},                                                   // ～ U+FF5E
      {"\xEF\xBC\x8D\xE2\x80\x95\xE2\x88\xA5", "\x81\x7C\x81\x5C\x81\x61"},           // －―∥
      {"\xEF\xBF\xA0\xEF\xBF\xA1\xEF\xBF\xA2", "\x81\x91\x81\x92\x81\xCA"},           // ￠￡￢
      {"\xE2\x89\x92\xE2\x85\xB0", "\x81\xE0\xFA\x40"},  // ≒ⅰ: two pairs give each, Windows writes these
      {"\xE3\x80\x9C", ""}, {"\xE2\x88\x92", ""}, {"\xE2\x80\x94", ""}, {"\xE2\x80\x96", ""},  // 〜 − — ‖
      {"\xC2\xA2", ""}, {"\xC2\xA3", ""}, {"\xC2\xAC", ""},                                  // ¢ £ ¬
  };
  WriteText(Path("a.txt"), "a");
  for (const bool refused : {false, true}) {
    ::unlink(Path("tested.exe").c_str());
    std::vector<std::string> tested = {"pack", "--any-layout", "--stub", stub, "-o", Path("tested.exe")};
    std::vector<std::string> reference = {"pack", "--any-layout", "--stub", stub, "-o", Path("linux.exe")};
    std::vector<const char*> expected;  // stored last first
    for (const auto& name : names) {
      if (refused != (*name.cp932 == '\0')) continue;
      for (auto* args : {&tested, &reference}) args->insert(args->end(), {"-s", name.utf8 + ("=" + Path("a.txt"))});
      expected.insert(expected.begin(), name.cp932);
    }
    const Result fromTested = Run(tested), fromReference = RunInProcess(reference);
    EXPECT_EQ(fromTested.code, refused ? 1 : 0);
    EXPECT_EQ(fromTested.err, fromReference.err);
    if (refused) {
      for (const auto& name : names) {
        if (*name.cp932 != '\0') continue;
        EXPECT_NE(fromTested.err.find("entry name \"" + std::string(name.utf8) + "\" cannot be written in code page 932"),
                  std::string::npos) << name.utf8 << fromTested.err;
      }
      EXPECT_FALSE(Exists(Path("tested.exe")));
      continue;
    }
    EXPECT_EQ(ReadFile(Path("tested.exe")), ReadFile(Path("linux.exe")));
    const std::vector<bundle::BundleEntry> entries = ScanFile(ReadFile(Path("tested.exe")));
    ASSERT_EQ(entries.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_STREQ(entries[i + 1].name, expected[i]);
    EXPECT_EQ(Run({"list", Path("tested.exe")}).out, RunInProcess({"list", Path("tested.exe")}).out);
    ASSERT_EQ(Run({"extract", Path("tested.exe"), "-o", Path("x")}).code, 0);
    for (const auto& name : names) {
      EXPECT_TRUE(Exists(Path("x/") + name.utf8) || *name.cp932 == '\0') << name.utf8;
    }
  }
}

// Programs among the entries: a PE image signed at test time with
// osslsigncode and a certificate made by openssl, the same image unsigned,
// and a file that is no program.
TEST_F(BundleTool, UnsignedProgramsAreShownWarnedOfAndRefusedOnRequest) {
  WriteFile(Path("plain.exe"), test_codec::MakePeImage(0x400));
  const std::string make = "cd " + Quoted(dir) +
                           " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2"
                           " -subj /CN=test && osslsigncode sign -certs cert.pem -key key.pem -n test"
                           " -in plain.exe -out signed.exe >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "openssl or osslsigncode is missing (scripts/setup.sh)";
  WriteText(Path("readme.txt"), "MZ but no program");

  Result r = PackAny({"-o", Path("out.exe"), "-c", Path("signed.exe"), "-s", Path("plain.exe"),
                  "-s", Path("readme.txt")});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Run({"list", Path("out.exe")});
  EXPECT_NE(r.out.find("program\n"), std::string::npos) << r.out;
  for (const char* line : {" signed.exe .* signed\n", " plain.exe .* unsigned\n", " readme.txt .* -\n"}) {
    EXPECT_TRUE(::testing::internal::RE::PartialMatch(r.out, ::testing::internal::RE(line))) << line << r.out;
  }
  r = VerifyAny(Path("out.exe"));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find(": warning: unsigned program plain.exe: programs started from the temporary folder are "
                       "blocked by Smart App Control and flagged by SmartScreen unless signed"),
            std::string::npos) << r.err;
  EXPECT_NE(r.out.find("0 problems, 2 warnings\n"), std::string::npos) << r.out;

  // Refused on request, naming the program; nothing is written.
  r = PackAny({"--require-signed-programs", "-o", Path("strict.exe"), "-c", Path("signed.exe"),
           "-s", "setup.exe=" + Path("plain.exe"), "-s", Path("readme.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("bundletool: " + Path("strict.exe") + ": not written: --require-signed-programs refuses "
                        "an unsigned program: setup.exe (" + Path("plain.exe") + ")", 0), 0u) << r.err;
  EXPECT_FALSE(Exists(Path("strict.exe")));
  r = PackAny({"--require-signed-programs", "-o", Path("strict.exe"), "-c", Path("signed.exe"),
           "-s", Path("readme.txt")});
  EXPECT_EQ(r.code, 0) << r.err;
  r = VerifyAny(Path("strict.exe"));
  EXPECT_EQ(r.err.find("unsigned program"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("0 problems, 1 warning\n"), std::string::npos) << r.out;
}

}  // namespace
