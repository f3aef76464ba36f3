// bundletool's commands, driven in-process through its command line, on real
// files in a fresh folder; one case runs the built program itself.
//
// With BUNDLETOOL_COMMAND set (a program and the words before its arguments,
// separated by '|', such as "scripts/wine-run|build/win64/bundletool.exe")
// every case runs that program instead, so the same cases check the Windows
// build; its results are compared with the in-process commands, which are
// the Linux tool's.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_scan.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/crc32.h"
#include "bundle/format/lzss_encoder.h"
#include "cli.h"
#include "common/entry_flags.h"
#include "common/launcher_marker.h"
#include "lzss_test_codec.h"
#include "manifest.h"
#include "tool_test_files.h"

namespace {

using namespace tool_test;

// The launcher's entry table, from its one source.
struct ShippedRow {
  const char* name;
  uint32_t flags;
};
const ShippedRow SHIPPED_ROWS[] = {
#define ENTRY_ROW(name, prefix, flags) {name, flags},
#include "common/entry_rows.def"
#undef ENTRY_ROW
};
constexpr int SHIPPED_COUNT = int(sizeof SHIPPED_ROWS / sizeof SHIPPED_ROWS[0]);
static_assert(SHIPPED_COUNT == 10, "the shipped layout has ten entries");

bundle::CheckItem CheckOf(const std::string& name, const Bytes& content) {
  return {name, bundle::Crc32(content.data(), content.size())};
}

std::vector<bundle::BundleEntry> ScanFile(const Bytes& file, bundle::ScanDiagnosis* diagnosis = nullptr) {
  bundle::MemorySource source(file.data(), uint32_t(file.size()));
  std::vector<bundle::BundleEntry> entries;
  const bundle::ScanDiagnosis d = bundle::ScanBundle(source, entries);
  if (diagnosis != nullptr) *diagnosis = d;
  return entries;
}

Bytes Random(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

class BundleTool : public ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    if (HasFatalFailure()) return;
    stub = Path("stub.exe");
    WriteFile(stub, LauncherImage(40000));
  }

  // The headers of a bare launcher: a PE32 GUI program for i386 whose one
  // section runs to the end of its size bytes, and starts with the marker of
  // a launcher of this entry table.
  static Bytes LauncherImage(size_t size) {
    Bytes image = test_codec::MakePeImage(size);
    image[0x44] = 0x4C, image[0x45] = 0x01;         // Machine: i386
    image[0x46] = 1;                                // NumberOfSections
    image[0x56] = 0x02, image[0x57] = 0x01;         // Characteristics: executable, 32-bit
    bundle::StoreLe32(&image[0x58 + 60], 0x200);    // SizeOfHeaders
    image[0x58 + 68] = 2;                           // Subsystem: GUI
    bundle::StoreLe32(&image[0x138 + 16], uint32_t(size - 0x200));  // the section's raw size and start
    bundle::StoreLe32(&image[0x138 + 20], 0x200);
    const LauncherMarker marker = {"ZQX-LAUNCHER-ET", LAUNCHER_MARKER_VERSION, ENTRY_TABLE_DIGEST};
    std::memcpy(&image[0x200], marker.magic, sizeof marker.magic);
    bundle::StoreLe32(&image[0x210], marker.version);
    bundle::StoreLe32(&image[0x214], marker.digest);
    return image;
  }
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

  std::string stub;
};

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

TEST_F(BundleTool, BadEntriesAreRefusedNamingTheFileAndNothingIsWritten) {
  WriteText(Path("ok.txt"), "data");
  WriteText(Path("out.exe"), "previous contents");
  const std::string longName(260, 'x');
  const struct {
    std::vector<std::string> entry;
    const char* message;
  } cases[] = {
      {{"-s", Path("missing.dat")}, "missing.dat: cannot open"},
      {{"-s", Path("payload_folder")}, "is not a regular file"},
      {{"-s", longName + "=" + Path("ok.txt")}, "longer than 259 bytes"},
      {{"-s", "sub\\name=" + Path("ok.txt")}, "path separator"},
      {{"-s", "sub/name=" + Path("ok.txt")}, "path separator"},
      {{"-s", "\xE2\x82\xAC.txt=" + Path("ok.txt")}, "cannot be written in code page 932"},
      {{"-s", "x=" + Path("ok.txt"), "-c", "x=" + Path("ok.txt")}, "given twice"},
  };
  ::mkdir(Path("payload_folder").c_str(), 0777);
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe")};
    args.insert(args.end(), c.entry.begin(), c.entry.end());
    const Result r = Run(args);
    EXPECT_EQ(r.code, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("bundletool: ", 0), 0u) << r.err;
    EXPECT_EQ(ReadFile(Path("out.exe")), Bytes({'p', 'r', 'e', 'v', 'i', 'o', 'u', 's', ' ', 'c', 'o', 'n', 't', 'e',
                                                'n', 't', 's'}));
  }
  // No temporary file is left behind.
  std::vector<std::string> files = FilesIn(dir);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ok.txt", "out.exe", "payload_folder", "stub.exe"}));
}

// Bundles the launcher cannot install, one of each kind of mistake: pack
// refuses each, naming the row or the file, and writes nothing; packed all
// the same with --any-layout, verify finds the same fault.
TEST_F(BundleTool, LayoutsTheLauncherCannotInstallAreRefused) {
  const std::string payload = MakePayload();
  const std::string shipped = TextOf(SHIPPED_MANIFEST);
  const auto edited = [&](const std::string& line, const std::string& with) {
    const size_t at = shipped.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    return shipped.substr(0, at) + with + shipped.substr(at + line.size());
  };
  WriteText(Path("text.exe"), "not a program");
  const std::string row7 = "\"readme_traial.txt\" (row 7 of 10 in the launcher's entry table)";
  const struct {
    std::string manifest;
    std::string stub;
    std::vector<std::string> refusals;  // each a line of pack's
    std::string found;                  // what verify says of it
  } cases[] = {
      {edited("readme_traial.txt  readme_traial.txt", "readme_trial.txt   readme_traial.txt"), stub,
       {"manifest: " + row7 + " is missing: the launcher looks it up by exactly this name",
        "manifest: line 13: \"readme_trial.txt\" is not in the launcher's entry table: the launcher never writes it"},
       row7 + " is missing"},
      {edited("inst_bgm.dat       inst_bgm.dat       stored", "inst_bgm.dat inst_bgm.dat compressed"), stub,
       {"manifest: line 14: \"inst_bgm.dat\" (row 8 of 10 in the launcher's entry table) is compressed, but the "
        "launcher copies this row unchanged"},
       "\"inst_bgm.dat\" (row 8 of 10 in the launcher's entry table) is compressed"},
      {edited("readme_traial.txt  compressed", "readme_traial.txt  stored"), stub,
       {"manifest: line 13: " + row7 + " is stored, but the launcher reads this row as a compressed block"},
       row7 + " is stored"},
      {edited("zephra.exe         zephra.exe         compressed\n", ""), stub,
       {"manifest: \"zephra.exe\" (row 5 of 10 in the launcher's entry table) is missing"}, "\"zephra.exe\" (row 5"},
      {"# nothing yet\n", stub,
       {"manifest: \"i_autorun.exe\" (row 1 of 10", "manifest: \"inst_voice_jp.dat\" (row 10 of 10"},
       "\"i_autorun.exe\" (row 1 of 10"},
      {shipped + "setup.exe setup.exe compressed\n", stub,
       {"manifest: line 17: \"setup.exe\" (row 3 of 10 in the launcher's entry table) is given 2 times: the later "
        "copy shadows the earlier"},
       "\"setup.exe\" (row 3 of 10 in the launcher's entry table) is given 2 times"},
      {shipped, Path("text.exe"),
       {"text.exe: is not a program (no PE headers), not a bare launcher (a PE GUI program for i386 or amd64)"},
       "program: it is not a program (no PE headers), not a launcher"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.found);
    WriteText(Path("case.manifest"), c.manifest);
    const std::vector<std::string> pack = {"pack", "--allow-duplicates", "-l", "fast", "--stub", c.stub,
                                           "-m", Path("case.manifest"), "--base", payload, "-o", Path("out.exe")};
    Result r = Run(pack);
    EXPECT_EQ(r.code, 1);
    for (const std::string& refusal : c.refusals) EXPECT_NE(r.err.find(refusal), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bundletool: " + Path("out.exe") + ": not written: this is not the layout the launcher "
                         "installs (--any-layout packs it all the same, for tests and tools)\n"), std::string::npos);
    EXPECT_FALSE(Exists(Path("out.exe")));

    std::vector<std::string> any = pack;
    any.insert(any.begin() + 1, "--any-layout");
    r = Run(any);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("layout: not held against the launcher's entry table (--any-layout)"), std::string::npos);
    r = Run({"verify", Path("out.exe")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(c.found), std::string::npos) << r.err;
    ::unlink(Path("out.exe").c_str());
  }
}

TEST_F(BundleTool, InputsAreNeverOverwritten) {
  WriteText(Path("ok.txt"), "data");
  const Bytes stubBefore = ReadFile(stub);
  Result r = PackAny({"-o", stub, "-s", Path("ok.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("refusing to overwrite"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(stub), stubBefore);
  r = PackAny({"-o", Path("./ok.txt"), "-s", Path("ok.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(ReadFile(Path("ok.txt")), Bytes({'d', 'a', 't', 'a'}));
}

TEST_F(BundleTool, StubThatCarriesABundleIsRefusedUnlessReplaced) {
  WriteText(Path("old.txt"), "old");
  WriteText(Path("new.txt"), "new");
  ASSERT_EQ(PackAny({"-o", Path("first.exe"), "-s", Path("old.txt")}).code, 0);
  Result r = Run({"pack", "--any-layout", "--stub", Path("first.exe"), "-o", Path("second.exe"), "-s", Path("new.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("first.exe: already carries a bundle"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("second.exe")));

  ASSERT_EQ(Run({"pack", "--any-layout", "--stub", Path("first.exe"), "-o", Path("second.exe"), "-s", Path("new.txt"), "--replace"}).code, 0);
  Bytes expected = ReadFile(stub);
  const Bytes bundle = bundle::BuildBundle({{"new.txt", {'n', 'e', 'w'}}}, {CheckOf("new.txt", {'n', 'e', 'w'})});
  expected.insert(expected.end(), bundle.begin(), bundle.end());
  EXPECT_EQ(ReadFile(Path("second.exe")), expected);
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

// The launcher reads only files below 2 GiB, signed ones too: pack keeps
// room for the signature, and list and verify tell a file too large, or cut
// short, from one without a bundle. Sparse files: nothing large is written.
TEST_F(BundleTool, FilesTheLauncherCannotReadAreRefusedOrToldApart) {
  const auto sparse = [&](const std::string& name, off_t size) {
    const int fd = ::open(Path(name).c_str(), O_CREAT | O_WRONLY, 0644);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return Path(name);
  };
  WriteFile(Path("data.bin"), Bytes(200, 1));
  // About 2 GiB less 850 bytes once packed: fits, but not once signed.
  Result r = Run({"pack", "--any-layout", "--stub", sparse("big.exe", (off_t(1) << 31) - 1000), "-o", Path("out.exe"),
                  "-s", Path("data.bin")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("out.exe: the launcher with its bundle would be 2147482" ), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("too large once signed: with 65536 bytes kept for the signature (--signature-reserve) it "
                       "must stay below 2 GiB (2147483648 bytes)"), std::string::npos) << r.err;
  r = Run({"pack", "--any-layout", "--signature-reserve", "0", "--stub", sparse("bigger.exe", 0x7FFFFFFF - 100),
           "-o", Path("out.exe"), "-s", Path("data.bin")});
  EXPECT_NE(r.err.find("the launcher reads only files below 2 GiB"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("out.exe")));

  // What signing made of a launcher packed to the limit before.
  const std::string signedSize = std::to_string(2147484976u);
  for (const char* command : {"list", "verify"}) {
    r = Run({command, sparse("signed.exe", 2147484976)});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "bundletool: " + Path("signed.exe") + ": is " + signedSize + " bytes, 2 GiB or more: the "
                     "launcher reads only files below 2 GiB (2147483648 bytes), so it cannot install from this one\n");
  }
  // A download cut short, in its bundle and in its program.
  WriteText(Path("a.txt"), std::string(5000, 'a'));
  ASSERT_EQ(PackAny({"-o", Path("whole.exe"), "-s", Path("a.txt")}).code, 0);
  const Bytes whole = ReadFile(Path("whole.exe"));
  WriteFile(Path("cut.exe"), Bytes(whole.begin(), whole.begin() + 42000));
  r = Run({"list", Path("cut.exe")});
  EXPECT_EQ(r.err, "bundletool: " + Path("cut.exe") + ": is cut short: a bundle begins at byte 40000 but its end is "
                   "missing (an interrupted download or copy?)\n");
  WriteFile(Path("cut.exe"), Bytes(whole.begin(), whole.begin() + 30000));
  r = Run({"verify", Path("cut.exe")});
  EXPECT_EQ(r.err, "bundletool: " + Path("cut.exe") + ": is cut short: its program runs to byte 40000, but the file "
                   "ends at 30000 (an interrupted download or copy?)\n");
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

// An output that cannot be written: its folder is missing, or it is a
// folder. A clear error, and nothing written or left behind.
TEST_F(BundleTool, UnwritableOutputIsRefusedAndNothingIsWritten) {
  WriteText(Path("ok.txt"), "data");
  Result r = PackAny({"-s", Path("ok.txt"), "-o", Path("missing/out.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "bundletool: " + Path("missing/out.exe") +
                       ": cannot create a file in its folder: No such file or directory\n");
  ::mkdir(Path("taken").c_str(), 0777);
  r = PackAny({"-s", Path("ok.txt"), "-o", Path("taken")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("bundletool: " + Path("taken") + ": cannot replace it: ", 0), 0u) << r.err;
  std::vector<std::string> files = FilesIn(dir);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ok.txt", "stub.exe", "taken"}));
  EXPECT_TRUE(FilesIn(Path("taken")).empty());
}

// A run ended from outside while it writes leaves the old output as it was
// and nothing beside it: killed outright here (SIGKILL; for the Windows
// build, its Wine process), which is harder than Ctrl+C. A hidden output
// that a run killed before this fix left behind goes with the next run.
TEST_F(BundleTool, KilledRunLeavesNothingBehind) {
  WriteText(Path(".out.exe.bundletool-AbC123"), "left by a run that was killed");
  WriteText(Path("a.txt"), "a");
  ASSERT_EQ(PackAny({"-q", "-o", Path("out.exe"), "-s", Path("a.txt")}).code, 0);
  EXPECT_FALSE(Exists(Path(".out.exe.bundletool-AbC123")));
  const Bytes before = ReadFile(Path("out.exe"));

  // A large sparse source keeps the run busy long after its first write: 256
  // MiB through a 1 MiB buffer, against a kill sent the moment writing shows.
  // Should the run ever finish first, the check of how it ended says so; it
  // cannot pass by it.
  const int big = ::open(Path("big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::ftruncate(big, off_t(256) << 20), 0);
  ::close(big);
  std::vector<std::string> words = ToolCommand();
  const bool windows = !words.empty();
  if (!windows) words = {BUNDLETOOL_PATH};
  words.insert(words.end(), {"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s", Path("big.bin")});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  // Writing is under way once its progress line shows on the terminal (an
  // unnamed file has no name to watch) or its hidden file is written to.
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_MODIFY), 0);
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  bool writing = false;
  std::string shown;
  while (!writing) {
    pollfd fds[2] = {{terminal, POLLIN, 0}, {watch, POLLIN, 0}};
    ASSERT_GT(::poll(fds, 2, 120000), 0) << "no write within two minutes; the terminal showed: " << shown;
    char buffer[4096];
    if (fds[0].revents) {
      const ssize_t n = ::read(terminal, buffer, sizeof buffer);
      ASSERT_GT(n, 0) << "the run ended first; the terminal showed: " << shown;
      shown.append(buffer, size_t(n));
      writing = shown.find('%') != std::string::npos;
    }
    if (fds[1].revents) {
      const ssize_t n = ::read(watch, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
        writing = writing || (event->len > 0 && std::string(event->name).rfind(".out.exe.bundletool-", 0) == 0);
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    }
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(terminal);
  ::close(watch);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed (exit " << WEXITSTATUS(status) << ")";
  // The progress line is drawn without escape sequences, which a classic
  // console would print raw (Wine's own console writes some to the terminal).
  if (!windows) {
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
  }
  // Wine ends the killed process's handles, and with them its files, before
  // it serves the next program's first request.
  if (windows) {
    EXPECT_EQ(Run({"--version"}).code, 0);
  }

  std::vector<std::string> files = FilesIn(dir);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "big.bin", "out.exe", "stub.exe"}));
  EXPECT_EQ(ReadFile(Path("out.exe")), before);
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
