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
#include "lzss_test_codec.h"
#include "manifest.h"

namespace {

using Bytes = std::vector<uint8_t>;

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

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

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

struct Result {
  int code;
  std::string out;
  std::string err;
};

// The words of BUNDLETOOL_COMMAND, or none for the in-process commands.
std::vector<std::string> ToolCommand() {
  std::vector<std::string> words;
  const char* command = std::getenv("BUNDLETOOL_COMMAND");
  for (std::string rest = command ? command : ""; !rest.empty();) {
    const size_t bar = rest.find('|');
    words.push_back(rest.substr(0, bar));
    rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
  }
  return words;
}

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string TextOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class BundleTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bundletool_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    stub = Path("stub.exe");
    Bytes program = ReadFile("/proc/self/exe");
    program.resize(40000);
    WriteFile(stub, program);
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string Path(const std::string& name) const { return dir + "/" + name; }

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

  Result RunInProcess(std::vector<std::string> args) {
    args.insert(args.begin(), "bundletool");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    bundletool::Console console{out, err, false};
    const int code = bundletool::RunBundleTool(int(argv.size()), argv.data(), console);
    return Result{code, out.str(), err.str()};
  }

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

  std::string dir;
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

  Result verify = Run({"verify", out});
  EXPECT_EQ(verify.code, 0) << verify.out;
  EXPECT_NE(verify.out.find("0 problems, 0 warnings"), std::string::npos) << verify.out;

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
  EXPECT_EQ(Run({"verify", Path("fast.exe")}).code, 0);
}

TEST_F(BundleTool, PackWritesTheStubThenExactlyTheWritersBundle) {
  WriteText(Path("a.txt"), "hello hello hello hello");
  WriteFile(Path("b.bin"), {1, 2, 3});
  ASSERT_EQ(Run({"pack", "--stub", stub, "-o", Path("out.exe"), "-c", Path("a.txt"), "-s", "B=" + Path("b.bin"),
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
  ASSERT_EQ(Run({"pack", "--stub", stub, "-o", Path("old.exe"), "-s", "B=" + Path("b.bin"), "--no-check"}).code, 0);
  expected = ReadFile(stub);
  const Bytes unchecked = bundle::BuildBundle({{"B", {1, 2, 3}}});
  expected.insert(expected.end(), unchecked.begin(), unchecked.end());
  EXPECT_EQ(ReadFile(Path("old.exe")), expected);
}

TEST_F(BundleTool, CommandLineEntriesKeepTheirOrderAcrossOptions) {
  WriteText(Path("1"), "one");
  WriteText(Path("2"), "two");
  WriteText(Path("3"), "three");
  ASSERT_EQ(Run({"pack", "--stub", stub, "-o", Path("out.exe"), "-s", Path("1"), "-c", Path("2"), "-s", Path("3")}).code, 0);
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
    std::vector<std::string> args = {"pack", "--stub", stub, "-o", Path("out.exe")};
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
  // Duplicates when asked for: the later one is what the launcher reads.
  EXPECT_EQ(Run({"pack", "--stub", stub, "-o", Path("dup.exe"), "-s", "x=" + Path("ok.txt"), "-s",
                 "x=" + Path("stub.exe"), "--allow-duplicates"}).code, 0);
}

TEST_F(BundleTool, InputsAreNeverOverwritten) {
  WriteText(Path("ok.txt"), "data");
  const Bytes stubBefore = ReadFile(stub);
  Result r = Run({"pack", "--stub", stub, "-o", stub, "-s", Path("ok.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("refusing to overwrite"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(stub), stubBefore);
  r = Run({"pack", "--stub", stub, "-o", Path("./ok.txt"), "-s", Path("ok.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(ReadFile(Path("ok.txt")), Bytes({'d', 'a', 't', 'a'}));
}

TEST_F(BundleTool, StubThatCarriesABundleIsRefusedUnlessReplaced) {
  WriteText(Path("old.txt"), "old");
  WriteText(Path("new.txt"), "new");
  ASSERT_EQ(Run({"pack", "--stub", stub, "-o", Path("first.exe"), "-s", Path("old.txt")}).code, 0);
  Result r = Run({"pack", "--stub", Path("first.exe"), "-o", Path("second.exe"), "-s", Path("new.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("first.exe: already carries a bundle"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("second.exe")));

  ASSERT_EQ(Run({"pack", "--stub", Path("first.exe"), "-o", Path("second.exe"), "-s", Path("new.txt"), "--replace"}).code, 0);
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

  Result r = Run({"pack", "--stub", Path("signed_stub.exe"), "-o", Path("out.exe"), "-s", Path("a.txt")});
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
  r = Run({"verify", Path("signed.exe")});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("signed: its certificate table (bytes " + std::to_string(packed.size() + (8 - packed.size() % 8) % 8)),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("lies inside the signed part"), std::string::npos) << r.out;
  EXPECT_EQ(Run({"list", Path("signed.exe")}).code, 0);
  ASSERT_EQ(Run({"extract", Path("signed.exe"), "-o", Path("x")}).code, 0);
  EXPECT_EQ(ReadFile(Path("x/a.txt")), ReadFile(Path("a.txt")));

  // Packed again: the signature goes with the old bundle.
  r = Run({"pack", "--stub", Path("signed.exe"), "-o", Path("again.exe"), "-s", Path("b.txt"), "--replace"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("dropped the signature"), std::string::npos) << r.out;
  const Bytes again = ReadFile(Path("again.exe"));
  EXPECT_TRUE(std::equal(program.begin(), program.end(), again.begin()));
  const std::vector<bundle::BundleEntry> entries = ScanFile(again, &diagnosis);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_STREQ(entries[1].name, "b.txt");
  EXPECT_FALSE(diagnosis.signature);
}

TEST_F(BundleTool, BundleThatWouldReach2GiBIsRefusedBeforeWriting) {
  // A sparse stub a little under 2 GiB: nothing large is read or written.
  const std::string big = Path("big.exe");
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t(0x7FFFFFFF) - 100), 0);
  ::close(fd);
  WriteFile(Path("data.bin"), Bytes(200, 1));
  Result r = Run({"pack", "--stub", big, "-o", Path("out.exe"), "-s", Path("data.bin")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("below 2 GiB"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("out.exe")));
}

TEST_F(BundleTool, ManifestErrorsNameTheLine) {
  WriteText(Path("a.txt"), "a");
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"# entries\na.txt a.txt stored\n\nb b stored\n", "line 3: empty line"},
      {"a.txt a.txt stored\na.txt a.txt compresed\n", "line 2: unknown keyword \"compresed\""},
      {"a.txt a.txt\n", "line 1: expected NAME SOURCE compressed|stored, found 2 fields"},
      {"a.txt a.txt stored extra\n", "line 1: expected NAME SOURCE compressed|stored, found 4 fields"},
      {"\"a.txt a.txt stored\n", "line 1: a quoted field has no closing quote"},
      {"a.txt missing.txt stored\n", "missing.txt: cannot open: No such file or directory (" },
  };
  for (const auto& c : cases) {
    WriteText(Path("list.manifest"), c.text);
    const Result r = Run({"pack", "--stub", stub, "-m", Path("list.manifest"), "-o", Path("out.exe")});
    EXPECT_EQ(r.code, 1) << c.text;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Path("out.exe")));
  }
  // Comments, CR LF line ends and quoted fields with blanks are fine; sources
  // are relative to the manifest's folder.
  WriteText(Path("a b.txt"), "spaced");
  WriteText(Path("list.manifest"), "# the list\r\n  # indented comment\r\n\"x y.txt\" \"a b.txt\" compressed\r\na a.txt stored");
  const Result r = Run({"pack", "--stub", stub, "-m", Path("list.manifest"), "-o", Path("out.exe")});
  ASSERT_EQ(r.code, 0) << r.err;
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
    EXPECT_NE(r.err.find("stub.exe: carries no bundle"), std::string::npos) << r.err;
  }
  const Result r = Run({"extract", stub, "-o", Path("x")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("carries no bundle"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("x")));
}

TEST_F(DamagedBundle, TruncatedStreamIsDamageAndIsNotExtracted) {
  const std::string text = "a stream that will lose its last byte, a stream that will lose its last byte";
  const std::string path = WriteBundle("cut.exe", {{"good.txt", Block("fine")}, {"cut.txt", Block(text, true)}});
  const Result verify = Run({"verify", path});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.out.find("DAMAGED  #1 cut.txt: compressed stream ends after"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("ok       #2 good.txt"), std::string::npos) << verify.out;
  const Result extract = Run({"extract", path, "-o", Path("x")});
  EXPECT_EQ(extract.code, 1);
  EXPECT_NE(extract.err.find("cut.txt"), std::string::npos) << extract.err;
  EXPECT_EQ(FilesIn(Path("x")), std::vector<std::string>{"good.txt"}) << "only the sound entry, and no temporary file";
}

TEST_F(DamagedBundle, DecodedSizeBeyondWhatTheStreamCanGiveIsDamage) {
  Bytes block = Block("short");
  bundle::StoreLe32(&block[16], 0xFFFFFFF0u);  // no output of that size is allocated
  const Result verify = Run({"verify", WriteBundle("huge.exe", {{"huge.txt", block}})});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.out.find("truncated block"), std::string::npos) << verify.out;
}

TEST_F(DamagedBundle, SizesPointingOutsideTheFileAreDamage) {
  Bytes file = ReadFile(WriteBundle("sizes.exe", {{"a.txt", {1, 2, 3}}}));
  bundle::StoreLe32(&file[file.size() - 8], 0x00FFFFFF);  // data size reaching before the file
  WriteFile(Path("sizes.exe"), file);
  const Result verify = Run({"verify", Path("sizes.exe")});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.out.find("DAMAGED  bundle is damaged: data size reaches before the start marker"), std::string::npos)
      << verify.out;
  EXPECT_EQ(Run({"list", Path("sizes.exe")}).code, 1);

  // A file cut short in its last record: its last four bytes are no marker.
  const std::string cut = WriteBundle("cut.exe", {{"a.txt", {1, 2, 3}}, {"b.txt", {4}}}, 2);
  EXPECT_EQ(Run({"verify", cut}).code, 1);
}

TEST_F(DamagedBundle, WhatTheLauncherToleratesIsOnlyWarnedOf) {
  const std::string path = WriteBundle("warn.exe", {{"same.txt", Block("older")},
                                                    {"tail.txt", Block("bytes follow the stream", false, 3)},
                                                    {"same.txt", Block("newer")}});
  const Result verify = Run({"verify", path});
  EXPECT_EQ(verify.code, 0) << verify.out;
  EXPECT_NE(verify.out.find("#2 tail.txt: 3 bytes after the end of the stream"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("#3 same.txt: shadowed by #1"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("warning  no check record"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("3 warnings"), std::string::npos) << verify.out;

  const Result list = Run({"list", path});
  EXPECT_NE(list.out.find("shadowed by #1"), std::string::npos) << list.out;
  ASSERT_EQ(Run({"extract", path, "-o", Path("x")}).code, 0);
  EXPECT_EQ(ReadFile(Path("x/same.txt")), Bytes({'n', 'e', 'w', 'e', 'r'})) << "the later record, as the launcher reads it";
}

// Damage that leaves the layout sound: only the check record shows it.
TEST_F(DamagedBundle, CheckRecordShowsDamageTheLayoutCannot) {
  const Bytes stored = Random(10000, 3);
  WriteFile(Path("stored.bin"), stored);
  WriteText(Path("text.txt"), "some text, some text, some text");
  ASSERT_EQ(Run({"pack", "--stub", stub, "-o", Path("out.exe"), "-s", Path("stored.bin"), "-c", Path("text.txt")}).code, 0);
  const Bytes packed = ReadFile(Path("out.exe"));
  const std::vector<bundle::BundleEntry> entries = ScanFile(packed);
  ASSERT_EQ(entries.size(), 3u);
  ASSERT_STREQ(entries[2].name, "stored.bin");

  // One bit of the stored entry: verify finds it, extract writes the other
  // entry and not this one.
  Bytes flipped = packed;
  flipped[size_t(entries[2].dataStart) + 5000] ^= 0x10;
  WriteFile(Path("flipped.exe"), flipped);
  Result r = Run({"verify", Path("flipped.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("DAMAGED  #3 stored.bin: content CRC-32"), std::string::npos) << r.out;
  r = Run({"extract", Path("flipped.exe"), "-o", Path("x")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("entry \"stored.bin\" not written: content CRC-32"), std::string::npos) << r.err;
  EXPECT_EQ(FilesIn(Path("x")), std::vector<std::string>{"text.txt"}) << "no half-written file either";

  // One bit of the record itself: the whole bundle is damaged, as the
  // launcher sees it.
  Bytes record = packed;
  record[size_t(entries[0].dataStart) + 9] ^= 0x01;
  WriteFile(Path("record.exe"), record);
  r = Run({"verify", Path("record.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("check record fails its own CRC"), std::string::npos) << r.out;
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
  EXPECT_EQ(Run({"verify", Path("unsafe.exe")}).code, 1);
}

TEST_F(BundleTool, EveryCommandHasHelp) {
  for (const char* command : {"pack", "list", "extract", "verify"}) {
    const Result r = Run({command, "--help"});
    EXPECT_EQ(r.code, 0) << command;
    EXPECT_NE(r.out.find(std::string("Usage: bundletool ") + command), std::string::npos) << r.out;
  }
  EXPECT_NE(Run({"pack", "--stub", stub}).code, 0) << "the output is required";
  EXPECT_NE(Run({"pack", "--stub", stub, "-o", Path("o"), "--key", "256"}).code, 0);
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
  const Result pack = Run({"pack", "--stub", stub, "-m", folder + "/list.manifest", "-s",
                           shown + "=" + folder + "/na\xC3\xAFve.bin", "-o", folder + "/out.exe"});
  ASSERT_EQ(pack.code, 0) << pack.err;
  EXPECT_NE(pack.out.find(japanese), std::string::npos) << pack.out;
  const Result list = Run({"list", folder + "/out.exe"});
  EXPECT_NE(list.out.find(" " + shown + " "), std::string::npos) << list.out;
  EXPECT_EQ(Run({"verify", folder + "/out.exe"}).code, 0);
  const std::string into = Path("sortie_\xE5\x87\xBA\xE5\x8A\x9B");  // sortie_出力
  ASSERT_EQ(Run({"extract", folder + "/out.exe", "-o", into}).code, 0);
  EXPECT_EQ(ReadFile(into + "/" + japanese), ReadFile(folder + "/caf\xC3\xA9.txt"));
  EXPECT_EQ(ReadFile(into + "/" + shown), ReadFile(folder + "/na\xC3\xAFve.bin"));
}

// An output that cannot be written: its folder is missing, or it is a
// folder. A clear error, and nothing written or left behind.
TEST_F(BundleTool, UnwritableOutputIsRefusedAndNothingIsWritten) {
  WriteText(Path("ok.txt"), "data");
  Result r = Run({"pack", "--stub", stub, "-s", Path("ok.txt"), "-o", Path("missing/out.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "bundletool: " + Path("missing/out.exe") +
                       ": cannot create a file in its folder: No such file or directory\n");
  ::mkdir(Path("taken").c_str(), 0777);
  r = Run({"pack", "--stub", stub, "-s", Path("ok.txt"), "-o", Path("taken")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("bundletool: " + Path("taken") + ": cannot replace it: ", 0), 0u) << r.err;
  std::vector<std::string> files = FilesIn(dir);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ok.txt", "stub.exe", "taken"}));
  EXPECT_TRUE(FilesIn(Path("taken")).empty());
}

// The tool under test and the Linux tool's commands, on the same inputs:
// the same launcher, byte for byte, and the same reports.
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

  Result r = Run({"pack", "--stub", stub, "-o", Path("out.exe"), "-c", Path("signed.exe"), "-s", Path("plain.exe"),
                  "-s", Path("readme.txt")});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Run({"list", Path("out.exe")});
  EXPECT_NE(r.out.find("program\n"), std::string::npos) << r.out;
  for (const char* line : {" signed.exe .* signed\n", " plain.exe .* unsigned\n", " readme.txt .* -\n"}) {
    EXPECT_TRUE(::testing::internal::RE::PartialMatch(r.out, ::testing::internal::RE(line))) << line << r.out;
  }
  r = Run({"verify", Path("out.exe")});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("  warning  unsigned program plain.exe: programs started from the temporary folder are "
                       "blocked by Smart App Control and flagged by SmartScreen unless signed"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0 problems, 1 warning\n"), std::string::npos) << r.out;

  // Refused on request, naming the program; nothing is written.
  r = Run({"pack", "--require-signed-programs", "--stub", stub, "-o", Path("strict.exe"), "-c", Path("signed.exe"),
           "-s", "setup.exe=" + Path("plain.exe"), "-s", Path("readme.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("bundletool: " + Path("strict.exe") + ": not written: --require-signed-programs refuses "
                        "an unsigned program: setup.exe (" + Path("plain.exe") + ")", 0), 0u) << r.err;
  EXPECT_FALSE(Exists(Path("strict.exe")));
  r = Run({"pack", "--require-signed-programs", "--stub", stub, "-o", Path("strict.exe"), "-c", Path("signed.exe"),
           "-s", Path("readme.txt")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(Run({"verify", Path("strict.exe")}).out.find("0 problems, 0 warnings"), std::string::npos);
}

}  // namespace
