// bundletool as a whole: the shipped layout through every command and back,
// names beyond ASCII through every command, help, the version and usage
// errors, and the built program's exit. The cases of one command are in
// files of their own, built into this same program: bundletool_pack_test.cpp
// (what pack writes), bundletool_pack_refusals_test.cpp (what it refuses, and
// that nothing is lost) and bundletool_read_test.cpp (list, verify and
// extract on bundles that are not sound); the fixture is
// bundletool_fixture.h.
//
// Every case drives the tool's commands in-process through its command line,
// on real files in a fresh folder; some run the built program itself. With
// BUNDLETOOL_COMMAND set (a program and the words before its arguments,
// separated by '|', such as "scripts/wine-run|build/win64/bundletool.exe")
// every case runs that program instead, so the same cases check the Windows
// build; its results are compared with the in-process commands, which are
// the Linux tool's.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bundle/format/crc32.h"
#include "bundletool_fixture.h"
#include "manifest.h"

namespace {

using namespace tool_test;

// The shipped manifest is the entry table's other form: the same names in
// the same order, each read from the file of its own name, compressed exactly
// where the launcher takes the in-memory route (which decodes blocks).
TEST(ShippedManifest, ListsTheEntryTableRowByRow) {
  const std::vector<bundletool::PackEntry> entries = bundletool::ReadManifest(SHIPPED_MANIFEST, "/base");
  ASSERT_EQ(entries.size(), size_t(SHIPPED_COUNT));
  for (int i = 0; i < SHIPPED_COUNT; ++i) {
    EXPECT_EQ(entries[size_t(i)].name, SHIPPED_ROWS[i].name) << "row " << i;
    EXPECT_EQ(entries[size_t(i)].source, std::string("/base/") + SHIPPED_ROWS[i].name) << "row " << i;
    EXPECT_EQ(entries[size_t(i)].compressed, !(SHIPPED_ROWS[i].flags & ENTRY_STREAMED)) << SHIPPED_ROWS[i].name;
  }
}

TEST_F(BundleTool, ShippedLayoutPacksListsVerifiesAndExtractsBack) {
  const std::string payload = MakePayload();
  const std::string out = Path("launcher.exe");
  Result pack = Run({"pack", "--stub", stub, "-m", SHIPPED_MANIFEST, "--base", payload, "-o", out});
  ASSERT_EQ(pack.code, 0) << pack.err;

  // The program comes first, unchanged, then the bundle.
  const Bytes written = ReadFile(out);
  const Bytes program = ReadFile(stub);
  ASSERT_GT(written.size(), program.size());
  EXPECT_TRUE(std::equal(program.begin(), program.end(), written.begin()));

  Result list = Run({"list", out});
  ASSERT_EQ(list.code, 0) << list.err;
  // Scan order is the reverse of the manifest; six blocks, four stored.
  size_t previous = 0;
  for (int i = SHIPPED_COUNT - 1; i >= 0; --i) {
    const size_t at = list.out.find(std::string(" ") + SHIPPED_ROWS[i].name + " ");
    ASSERT_NE(at, std::string::npos) << SHIPPED_ROWS[i].name;
    EXPECT_GT(at, previous) << SHIPPED_ROWS[i].name << " out of order";
    previous = at;
  }
  size_t blocks = 0;
  for (size_t at = list.out.find("compressed"); at != std::string::npos; at = list.out.find("compressed", at + 1)) ++blocks;
  EXPECT_EQ(blocks, 6u);
  EXPECT_NE(list.out.find("0xA5"), std::string::npos) << "the default key";
  EXPECT_NE(list.out.find("checked by its check record"), std::string::npos) << list.out;
  const Bytes readme = ReadFile(payload + "/readme_traial.txt");
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08X", bundle::Crc32(readme.data(), readme.size()));
  EXPECT_NE(list.out.find(crc), std::string::npos) << "the read-me's CRC-32 " << crc;

  // Sound and the launcher's layout; the one warning is the unsigned
  // launcher, which --strict does not let pass.
  Result verify = Run({"verify", out});
  EXPECT_EQ(verify.code, 0) << verify.err;
  EXPECT_NE(verify.out.find("ok       layout: the launcher's entry table, every row as it reads it; the program is "
                            "a PE32 GUI program for i386"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("0 problems, 1 warning"), std::string::npos) << verify.out;
  EXPECT_EQ(verify.err, "bundletool: " + out + ": warning: the launcher is not signed: SmartScreen warns of an "
                        "unsigned download (sign it after packing)\n");
  Result strict = Run({"verify", "--strict", "-q", out});
  EXPECT_EQ(strict.code, 1);
  EXPECT_EQ(strict.out, "");
  EXPECT_NE(strict.err.find("warning (--strict): the launcher is not signed"), std::string::npos) << strict.err;
  // For a release script: JSON that a JSON reader takes, and nothing at all
  // from a quiet run that went well.
  const Result json = Run({"verify", "--json", out});
  EXPECT_TRUE(TakenAsJson(json.out, "d['ok'] and d['problems'] == [] and len(d['warnings']) == 1 and "
                                    "d['program']['launcher'] == 'i386' and len(d['entries']) == 11 and "
                                    "d['entries'][4]['name'] == 'readme_traial.txt' and "
                                    "d['entries'][4]['kind'] == 'compressed' and d['entries'][4]['key'] == 165"))
      << json.out;
  EXPECT_TRUE(TakenAsJson(Run({"list", "--json", out}).out, "not d['signed'] and d['checked']"));
  const Result quiet = Run({"pack", "-q", "--stub", stub, "-m", SHIPPED_MANIFEST, "--base", payload, "-o", out});
  EXPECT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");

  Result extract = Run({"extract", out, "-o", Path("x")});
  ASSERT_EQ(extract.code, 0) << extract.err;
  for (const ShippedRow& row : SHIPPED_ROWS) {
    EXPECT_EQ(ReadFile(Path("x/") + row.name), ReadFile(payload + "/" + row.name)) << row.name;
  }
  Result one = Run({"extract", out, "readme_traial.txt", "-o", Path("y")});
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(FilesIn(Path("y")), std::vector<std::string>{"readme_traial.txt"});

  // The same inputs give the same bytes; the fast level gives a valid bundle too.
  ASSERT_EQ(Run({"pack", "--stub", stub, "-m", SHIPPED_MANIFEST, "--base", payload, "-o", Path("again.exe")}).code, 0);
  EXPECT_EQ(ReadFile(Path("again.exe")), written);
  ASSERT_EQ(Run({"pack", "--stub", stub, "-m", SHIPPED_MANIFEST, "--base", payload, "-l", "fast", "-o",
                 Path("fast.exe")}).code, 0);
  EXPECT_EQ(Run({"verify", "-q", Path("fast.exe")}).code, 0);
}

// Help on every command (also as Windows programs give it, /?), the
// version, and exit code 2 for every command line that does not parse.
TEST_F(BundleTool, HelpVersionAndUsageErrors) {
  for (const char* command : {"pack", "list", "extract", "verify"}) {
    const Result r = Run({command, command[0] == 'v' ? "/?" : "--help"});
    EXPECT_EQ(r.code, 0) << command;
    EXPECT_NE(r.out.find(std::string("Usage: bundletool ") + command), std::string::npos) << r.out;
  }
  const Result top = Run({"/?"});
  EXPECT_EQ(top.code, 0);
  EXPECT_NE(top.out.find("Exit codes: 0 ok; 1 a problem"), std::string::npos) << top.out;
  const Result version = Run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(::testing::internal::RE::FullMatch(
      version.out, ::testing::internal::RE("bundletool [0-9]+\\.[0-9]+\\.[0-9]+ \\(commit [0-9a-f]{12}(\\+modified)?\\)\n")))
      << version.out;
  // A signature reserve of 2 GiB or more leaves no room for any launcher
  // (and a sum with it could wrap): refused as a usage error.
  for (const std::vector<std::string>& usage :
       {std::vector<std::string>{}, {"pack", "--stub", stub}, {"verify", "--bogus", stub},
        {"pack", "--stub", stub, "-o", Path("x.exe"), "--signature-reserve", "18446744073709551615"}}) {
    const Result r = Run(usage);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(BundleTool, BuiltProgramExitsNonZeroWithAMessage) {
  const std::vector<std::string> command = ToolCommand();
  const Result r = RunProgram(command.empty() ? std::vector<std::string>{BUNDLETOOL_PATH} : command,
                              {"verify", Path("missing.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "bundletool: " + Path("missing.exe") + ": cannot open: No such file or directory\n");
}

// Names beyond ASCII: a folder and sources with accented and Japanese
// characters, entry names in Japanese, from a manifest and the command line.
TEST_F(BundleTool, NamesInAnyScriptWorkFromManifestsAndTheCommandLine) {
  const std::string folder = Path("donn\xC3\xA9" "es_\xE6\x97\xA5\xE6\x9C\xAC");  // données_日本
  ::mkdir(folder.c_str(), 0777);
  WriteText(folder + "/caf\xC3\xA9.txt", "caf\xC3\xA9 au lait, caf\xC3\xA9 au lait");
  WriteFile(folder + "/na\xC3\xAFve.bin", Random(5000, 4));
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";  // 日本語.txt
  const std::string shown = "\xE8\xA1\xA8\xE7\xA4\xBA.dat";                   // 表示.dat (a 0x5C trail byte)
  WriteText(folder + "/list.manifest", "\"" + japanese + "\" caf\xC3\xA9.txt compressed\n");
  const Result pack = PackAny({"-m", folder + "/list.manifest", "-s",
                           shown + "=" + folder + "/na\xC3\xAFve.bin", "-o", folder + "/out.exe"});
  ASSERT_EQ(pack.code, 0) << pack.err;
  EXPECT_NE(pack.out.find(japanese), std::string::npos) << pack.out;
  const Result list = Run({"list", folder + "/out.exe"});
  EXPECT_NE(list.out.find(" " + shown + " "), std::string::npos) << list.out;
  EXPECT_EQ(VerifyAny(folder + "/out.exe").code, 0);
  const std::string into = Path("sortie_\xE5\x87\xBA\xE5\x8A\x9B");  // sortie_出力
  ASSERT_EQ(Run({"extract", folder + "/out.exe", "-o", into}).code, 0);
  EXPECT_EQ(ReadFile(into + "/" + japanese), ReadFile(folder + "/caf\xC3\xA9.txt"));
  EXPECT_EQ(ReadFile(into + "/" + shown), ReadFile(folder + "/na\xC3\xAFve.bin"));
}

}  // namespace
