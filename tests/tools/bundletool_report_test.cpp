// What bundletool reports, and of what: the JSON object of list and verify
// (one per run, whatever the run found, and valid whatever the names hold),
// a report that cannot be written, and the stub check that knows a launcher
// of this entry table by its marker.
//
// As bundletool_test.cpp: the in-process commands, or with BUNDLETOOL_COMMAND
// set ("scripts/wine-run|build/win64/bundletool.exe") that program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_writer.h"
#include "cli.h"
#include "common/launcher_marker.h"
#include "json_writer.h"
#include "layout.h"
#include "bundle/format/lzss_encoder.h"
#include "lzss_test_codec.h"
#include "tool_test_files.h"

namespace {

using namespace tool_test;

// The built program (or BUNDLETOOL_COMMAND's), its standard output sent to
// out: a file, or a device such as /dev/full.
Result RunBuilt(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  std::vector<std::string> words = ToolCommand();
  if (words.empty()) words.push_back(BUNDLETOOL_PATH);
  words.insert(words.end(), args.begin(), args.end());
  std::string line;
  for (const std::string& word : words) line += Quoted(word) + " ";
  line += "</dev/null >" + Quoted(out) + " 2>" + Quoted(err);
  const int status = std::system(line.c_str());
  return Result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", TextOf(err)};
}

class BundleReport : public LauncherStubTest {
 protected:
  Result Run(std::vector<std::string> args) {
    const std::vector<std::string> command = ToolCommand();
    if (!command.empty()) {
      Result r = RunBuilt(args, Path(".out"), Path(".err"));
      r.out = TextOf(Path(".out"));
      std::remove(Path(".out").c_str());
      std::remove(Path(".err").c_str());
      return r;
    }
    return RunInProcess(args);
  }

  // A sound bundle of two entries behind the stub, packed with --any-layout.
  std::string PackSmall(const std::string& name, const std::string& withStub) {
    WriteText(Path("a.txt"), "some text, some text, some text");
    WriteText(Path("b.bin"), "stored");
    const Result r = Run({"pack", "-q", "--any-layout", "--stub", withStub, "-o", Path(name), "-c", Path("a.txt"),
                          "-s", Path("b.bin")});
    EXPECT_EQ(r.code, 0) << r.err;
    return Path(name);
  }
};

// ---- The JSON writer.

std::string Written(const std::function<void(bundletool::JsonWriter&)>& write) {
  std::ostringstream out;
  bundletool::JsonWriter j(out);
  write(j);
  return out.str();
}

// Every byte below 0x20 comes out as \u00XX, '"' and '\' escaped, a byte
// that is no UTF-8 as U+FFFD; a strict reader gets the text back.
TEST(JsonWriter, EscapesEveryControlByteSoThatAStrictReaderTakesIt) {
  std::string text;
  for (int c = 0; c < 0x20; ++c) text += char(c);
  text += "\"\\/\x7F\xC3\xA9\xE8\xA1\xA8\xFF";  // é, 表, and a byte that is no UTF-8
  const std::string json = Written([&](bundletool::JsonWriter& j) {
    j.BeginObject();
    j.Key(text).String(text);
    j.EndObject();
  });
  for (int c = 0; c < 0x20; ++c) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", c);
    EXPECT_NE(json.find(escape), std::string::npos) << "byte " << c << " in " << json;
  }
  for (char c : json) EXPECT_FALSE(uint8_t(c) < 0x20 && c != '\n' && c != ' ') << "a raw control byte in " << json;
  std::string expected;  // the same text as a Python literal
  for (int c = 0; c < 0x20; ++c) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02x", c);
    expected += escape;
  }
  expected += "\\\"\\\\/\\x7f\\u00e9\\u8868\\ufffd";
  EXPECT_TRUE(TakenAsJson(json, "list(d.items()) == [(\"" + expected + "\", \"" + expected + "\")]")) << json;
}

// Separators and nesting are the writer's: a call that would break the
// document throws, and writes nothing of itself.
TEST(JsonWriter, RefusesWhatWouldMakeTheDocumentInvalid) {
  using Layout = bundletool::JsonWriter::Layout;
  const std::string json = Written([](bundletool::JsonWriter& j) {
    j.BeginObject();
    j.Key("n").Number(18446744073709551615u);
    j.Key("list").BeginArray(Layout::Inline);
    j.Bool(true);
    j.Null();
    j.BeginObject(Layout::Inline);
    j.EndObject();
    j.EndArray();
    j.Key("empty").BeginArray();
    j.EndArray();
    j.Key("s").StringOrNull(nullptr);
    j.EndObject();
  });
  EXPECT_EQ(json, "{\n  \"n\": 18446744073709551615,\n  \"list\": [true, null, {}],\n  \"empty\": [],\n"
                  "  \"s\": null\n}\n");
  EXPECT_TRUE(TakenAsJson(json, "d['list'] == [True, None, {}] and d['s'] is None"));

  const std::vector<std::pair<const char*, std::function<void(bundletool::JsonWriter&)>>> misuses = {
      {"a value without a name", [](auto& j) { j.BeginObject(); j.Number(1); }},
      {"a name in an array", [](auto& j) { j.BeginArray(); j.Key("k"); }},
      {"two names", [](auto& j) { j.BeginObject(); j.Key("a"); j.Key("b"); }},
      {"a name without its value", [](auto& j) { j.BeginObject(); j.Key("a"); j.EndObject(); }},
      {"the wrong closing", [](auto& j) { j.BeginObject(); j.EndArray(); }},
      {"a closing too many", [](auto& j) { j.EndObject(); }},
      {"a second document", [](auto& j) { j.Null(); j.Null(); }},
      {"a name outside an object", [](auto& j) { j.Key("a"); }},
  };
  for (const auto& [what, misuse] : misuses) {
    std::ostringstream out;
    bundletool::JsonWriter j(out);
    try {
      misuse(j);
      ADD_FAILURE() << what << " was written: " << out.str();
    } catch (const std::logic_error&) {
    }
    const std::string text = out.str();
    EXPECT_TRUE(text.empty() || text == "{" || text == "[" || text == "{\n  \"a\": " || text == "null\n")
        << what << ": " << text;
  }
}

// ---- list --json and verify --json.

// One object on standard output for every run, sound or not, with its
// problems in it; the exit code says the same.
TEST_F(BundleReport, EveryJsonRunGivesOneObjectWithItsProblems) {
  const std::string good = PackSmall("good.exe", stub);
  const Bytes packed = ReadFile(good);
  WriteFile(Path("cut.exe"), Bytes(packed.begin(), packed.end() - 3));
  Bytes damaged = packed;
  bundle::StoreLe32(&damaged[damaged.size() - 8], 0x00FFFFFF);  // a data size reaching before the file
  WriteFile(Path("damaged.exe"), damaged);
  WriteText(Path("text.txt"), "no program, no bundle");
  const struct {
    std::string file;
    const char* condition;  // besides one object of this schema and command
  } cases[] = {
      {good, "d['ok'] and d['bundle'] == 'ok' and len(d['entries']) == 3 and d['program']['marker'] == 'this-table'"},
      {Path("missing.exe"), "d['size'] is None and d['program'] is None and d['bundle'] is None and "
                            "d['problems'] == ['cannot open: No such file or directory']"},
      {stub, "d['bundle'] == 'none' and d['program']['launcher'] == 'i386' and "
             "d['problems'][0].startswith('carries no bundle: it is a bare program')"},
      {Path("text.txt"), "d['bundle'] == 'none' and d['program']['kind'].startswith('not a program')"},
      {Path("cut.exe"), "d['bundle'] == 'none' and 'cut short' in d['problems'][0]"},
      {Path("damaged.exe"), "d['bundle'] == 'damaged' and d['program']['size'] is None and "
                            "any('data size reaches before the start marker' in p for p in d['problems'])"},
  };
  for (const auto& c : cases) {
    for (const std::string command : {"list", "verify"}) {
      SCOPED_TRACE(command + " " + c.file);
      std::vector<std::string> args = {command, "--json", c.file};
      if (command == "verify") args.insert(args.begin() + 1, "--any-layout");
      const Result r = Run(args);
      const bool sound = c.file == good;
      EXPECT_EQ(r.code, sound ? 0 : 1) << r.err;
      EXPECT_TRUE(TakenAsJson(r.out, "d['schema'] == 'bundletool-report/1' and d['command'] == '" + command +
                                         "' and d['ok'] == " + (sound ? "True" : "False") +
                                         " and (d['problems'] == []) == " + (sound ? "True" : "False") + " and " +
                                         c.condition))
          << r.out;
      if (!sound) {
        EXPECT_NE(r.err.find("bundletool: " + c.file + ": "), std::string::npos) << r.err;
      }
    }
  }
  // A command line that does not parse is no run: its usage error stays
  // text on the standard error (exit 2).
  const Result usage = Run({"verify", "--json", "--bogus", good});
  EXPECT_EQ(usage.code, 2);
  EXPECT_EQ(usage.out, "");
}

// Names and paths may hold any byte: the object stays JSON. A missing file
// of such a name is reported with its name, on every system; a real one
// where the host's file names allow it.
TEST_F(BundleReport, ControlBytesInPathsAndNamesAreEscaped) {
  std::string name = "x";
  for (int c = 1; c < 0x20; ++c) name += char(c);
  std::string literal = "x";  // the same as a Python literal
  for (int c = 1; c < 0x20; ++c) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02x", c);
    literal += escape;
  }
  const Result missing = Run({"list", "--json", Path(name)});
  EXPECT_EQ(missing.code, 1);
  EXPECT_TRUE(TakenAsJson(missing.out, "d['file'].endswith('/" + literal + "')")) << missing.out;
  if (!ToolCommand().empty()) return;

  // A real file under such a folder, with a stored name of such bytes (no
  // pack writes one: the records are made here), which is shown with \x
  // escapes as everywhere.
  ::mkdir(Path(name).c_str(), 0777);
  const std::string packed = Path(name + "/out\x7f\x02.exe");
  Bytes file = ReadFile(stub);
  const Bytes marker = bundle::StartMarkerBytes();
  file.insert(file.end(), marker.begin(), marker.end());
  file.push_back('x');
  const Bytes trailer = bundle::RecordTrailerBytes(std::string("a\x01\x1f\t.txt"), 1);
  file.insert(file.end(), trailer.begin(), trailer.end());
  WriteFile(packed, file);
  for (const char* command : {"list", "verify"}) {
    const Result r = Run({command, "--json", packed});
    EXPECT_TRUE(TakenAsJson(r.out, "d['file'].endswith('/" + literal + "/out\\x7f\\x02.exe') and "
                                   "d['entries'][0]['name'] == r'a\\x01\\x1F\\x09.txt'"))
        << r.out;
  }
}

// A report that does not reach its reader fails the run: a release script
// would otherwise read nothing and take exit 0 for a pass.
TEST_F(BundleReport, AReportThatCannotBeWrittenIsAFailure) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const std::string good = PackSmall("good.exe", stub);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"verify", "--json", "--any-layout", good}, {"verify", "--any-layout", good},
        {"list", "--json", good}, {"list", good},
        {"pack", "--any-layout", "--stub", stub, "-o", Path("again.exe"), "-s", Path("b.bin")}}) {
    const Result r = RunBuilt(args, "/dev/full", Path(".err"));
    EXPECT_EQ(r.code, 1) << args[0];
    // The reason, when the system still tells it at the end of the run.
    EXPECT_NE(r.err.find("bundletool: standard output: cannot write the report"), std::string::npos) << r.err;
  }
}

// ---- The stub: a launcher of this entry table, known by its marker.

// A GUI program without the marker (the installer given by mistake), a
// launcher of another entry table and a DLL are refused by pack, each named,
// and nothing is written; packed with --any-layout, verify names the same,
// and --any-layout lifts it there too.
TEST_F(BundleReport, OnlyALauncherOfThisEntryTableIsTakenAsTheStub) {
  LauncherStub none, other, dll;
  none.marker = false;
  other.digest = ENTRY_TABLE_DIGEST ^ 1;
  dll.dll = true;
  const struct {
    LauncherStub kind;
    std::string refusal;  // pack's, after "bundletool: FILE: "
    std::string found;    // verify's
    const char* marker;   // the JSON report's program.marker
  } cases[] = {
      {none, "is a PE32 GUI program for i386 that carries no launcher marker (is it the installer or another program?)",
       "program: it is a PE32 GUI program for i386 that carries no launcher marker", "none"},
      {other, "is a PE32 GUI program for i386 that is a launcher for another entry table",
       "program: it is a PE32 GUI program for i386 that is a launcher for another entry table", "other-table"},
      {dll, "is a PE32 DLL for i386, not a bare launcher (a PE GUI program for i386 or amd64)",
       "program: it is a PE32 DLL for i386, not a launcher", "this-table"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    WriteFile(Path("other.exe"), LauncherImage(40000, c.kind));
    const Result pack = Run({"pack", "--stub", Path("other.exe"), "-o", Path("out.exe"), "-s", Path("other.exe")});
    EXPECT_EQ(pack.code, 1);
    EXPECT_NE(pack.err.find("bundletool: " + Path("other.exe") + ": " + c.refusal), std::string::npos) << pack.err;
    EXPECT_FALSE(Exists(Path("out.exe")));

    const std::string packed = PackSmall("out.exe", Path("other.exe"));
    Result verify = Run({"verify", packed});
    EXPECT_EQ(verify.code, 1);
    EXPECT_NE(verify.err.find(c.found), std::string::npos) << verify.err;
    verify = Run({"verify", "--json", "--any-layout", packed});
    EXPECT_EQ(verify.code, 0) << verify.err;
    EXPECT_TRUE(TakenAsJson(verify.out, std::string("d['program']['marker'] == '") + c.marker + "'")) << verify.out;
    ::unlink(packed.c_str());
  }
  // The launcher of this table is taken (its layout aside).
  const Result verify = Run({"verify", PackSmall("out.exe", stub)});
  EXPECT_NE(verify.err.find("layout: "), std::string::npos) << verify.err;
  EXPECT_EQ(verify.err.find("program:"), std::string::npos) << verify.err;
}

// ---- Files the launcher finds no bundle in.

// Bytes after a whole bundle (one that ends in its check record) are told
// from a bundle cut short; a file that ends inside its last record, whose
// earlier records read as a bundle without its check record, stays cut short.
// Up to seven zeros, the padding a removed signature leaves, are read past as
// the launcher reads past them.
TEST_F(BundleReport, BytesAfterTheBundleAreNotACutShortFile) {
  const Bytes packed = ReadFile(PackSmall("good.exe", stub));
  const std::string end = std::to_string(packed.size());
  const auto appended = [&](const std::string& name, const Bytes& tail) {
    Bytes file = packed;
    file.insert(file.end(), tail.begin(), tail.end());
    WriteFile(Path(name), file);
    return Path(name);
  };
  Bytes tail(5000, 'J');
  bundle::StoreLe32(&tail[100], uint32_t(bundle::ENTRY_MARKER));  // a marker among the junk
  const struct {
    std::string file;
    std::string said;
  } cases[] = {
      {appended("junk.exe", tail), "has 5000 bytes after its bundle (junk appended?): its bundle ends at byte " + end},
      {appended("zeros.exe", Bytes(8, 0)), "has 8 bytes after its bundle (junk appended?)"},
      {appended("cut.exe", {}), "is cut short: a bundle begins at byte 40000 but its end is missing"},
  };
  WriteFile(Path("cut.exe"), Bytes(packed.begin(), packed.end() - 5));
  for (const auto& c : cases) {
    for (const char* command : {"list", "verify"}) {
      const Result r = Run({command, c.file});
      EXPECT_EQ(r.code, 1);
      EXPECT_NE(r.err.find("bundletool: " + c.file + ": " + c.said), std::string::npos) << r.err;
      if (c.file != Path("cut.exe")) {
        EXPECT_EQ(r.err.find("cut short"), std::string::npos) << r.err;
      }
    }
  }
  const std::string padded = appended("stripped.exe", Bytes(3, 0));
  for (const std::vector<std::string>& command : {std::vector<std::string>{"list", padded},
                                                  std::vector<std::string>{"verify", "--any-layout", padded}}) {
    const Result r = Run(command);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("not signed; 3 zero bytes follow the bundle, the padding of a removed signature"),
              std::string::npos)
        << r.out;
  }
}

// A signature vouches for nothing list has not checked, nor for a bundle
// verify finds damaged: only verify of a sound bundle says that the bundle
// lies in the signed part.
TEST_F(BundleReport, OnlyASoundCheckedBundleIsSaidToLieInTheSignedPart) {
  Bytes file = ReadFile(PackSmall("good.exe", stub));
  test_codec::AppendSignature(file, Bytes(300, 0x30));
  WriteFile(Path("signed.exe"), file);
  const std::string claim = "lies inside the signed part";
  Result r = Run({"list", Path("signed.exe")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.find(claim), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("list checks neither the signature nor the entries"), std::string::npos) << r.out;
  r = Run({"verify", "--any-layout", Path("signed.exe")});
  EXPECT_NE(r.out.find(claim), std::string::npos) << r.out;

  file[40010] ^= 0x01;  // in the first entry's block: the check record's CRC-32 fails
  WriteFile(Path("damaged.exe"), file);
  r = Run({"verify", "--any-layout", Path("damaged.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.find(claim), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("behind a damaged bundle: no signature vouches for it"), std::string::npos) << r.out;
}

// ---- How each record is read.

// A stored file of a row the launcher copies unchanged may begin as a block
// does: verify takes it as the launcher does, a stored file, by the entry
// table; only --any-layout, which knows no rows, takes it by its first bytes.
TEST_F(BundleReport, RowsAreReadTheWayTheLauncherReadsThem) {
  const std::string payload = Path("payload");
  ::mkdir(payload.c_str(), 0777);
  const std::vector<std::string> names = {"i_autorun.exe", "autorun.exe", "setup.exe", "unsetup.exe", "zephra.exe",
                                          "system.dat", "readme_traial.txt", "inst_bgm.dat", "inst_se.dat",
                                          "inst_voice_jp.dat"};
  for (const std::string& name : names) WriteText(payload + "/" + name, "the content of " + name);
  std::string lookalike = "compress v1.0";
  lookalike += std::string("\0\0\x5A\xE8\x03\0\0", 7);  // key 0x5A, 1000 bytes decoded
  lookalike += "and a few bytes";
  WriteText(payload + "/inst_bgm.dat", lookalike);
  const std::string out = Path("trial.exe");
  const Result pack = Run({"pack", "-q", "--stub", stub, "-m", SHIPPED_MANIFEST, "--base", payload, "-o", out});
  ASSERT_EQ(pack.code, 0) << pack.err;

  const std::string row = "d['entries'][3]['name'] == 'inst_bgm.dat' and d['entries'][3]['kind'] == ";
  Result verify = Run({"verify", "--json", out});
  EXPECT_EQ(verify.code, 0) << verify.err;
  EXPECT_TRUE(TakenAsJson(verify.out, "d['problems'] == [] and " + row + "'stored'")) << verify.out;
  EXPECT_TRUE(TakenAsJson(Run({"list", "--json", out}).out, row + "'stored'"));
  verify = Run({"verify", "--json", "--any-layout", out});
  EXPECT_EQ(verify.code, 1);
  EXPECT_TRUE(TakenAsJson(verify.out, row + "'compressed' and 'truncated block' in d['problems'][0]"))
      << verify.out;
  EXPECT_NE(Run({"verify", "--any-layout", out}).out.find("an entry is taken for a compressed block when it begins "
                                                          "with a block header"), std::string::npos);
}

// ---- What the launcher can hold.

// The launcher reads a compressed block whole and decodes it in one piece:
// pack refuses a source above 256 MiB to compress before it encodes anything
// (a sparse file: nothing large is written), verify a block that claims to
// decode to more before it reads it; 256 MiB itself is no such fault.
TEST_F(BundleReport, BlocksTooLargeForTheLaunchersMemoryAreRefused) {
  const std::string big = Path("big.bin");
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::ftruncate(fd, (off_t(256) << 20) + 1), 0);
  ::close(fd);
  const Result pack = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-c", big});
  EXPECT_EQ(pack.code, 1);
  EXPECT_NE(pack.err.find("bundletool: " + big + ": decodes to 268435457 bytes, more than the 268435456 bytes "
                          "(256 MiB) the launcher's 32-bit process is sure to hold"), std::string::npos) << pack.err;
  EXPECT_FALSE(Exists(Path("out.exe")));

  // A block that claims 256 MiB and a byte, with a stream that could give
  // them (a hole in a sparse file): refused before it is read.
  Bytes head = ReadFile(stub);
  const Bytes marker = bundle::StartMarkerBytes();
  head.insert(head.end(), marker.begin(), marker.end());
  const size_t blockStart = head.size();
  const char header[] = "compress v1.0\0\0\xA5";
  head.insert(head.end(), header, header + 16);
  const uint32_t decoded = (uint32_t(256) << 20) + 1;
  head.resize(head.size() + 4);
  bundle::StoreLe32(&head[head.size() - 4], decoded);
  const uint32_t blockSize = uint32_t(bundle::BLOCK_HEADER_SIZE) + (decoded / 144 + 1) * 17;
  const Bytes trailer = bundle::RecordTrailerBytes("big.txt", blockSize);
  WriteFile(Path("claims.exe"), head);
  const int claims = ::open(Path("claims.exe").c_str(), O_WRONLY);
  ASSERT_EQ(::pwrite(claims, trailer.data(), trailer.size(), off_t(blockStart + blockSize)), ssize_t(trailer.size()));
  ::close(claims);
  const Result verify = Run({"verify", "--any-layout", Path("claims.exe")});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.err.find("#1 big.txt: decodes to 268435457 bytes, more than"), std::string::npos) << verify.err;

  // The limit itself is no fault.
  EXPECT_EQ(bundletool::BlockSizeProblem(uint64_t(256) << 20), "");
  EXPECT_NE(bundletool::BlockSizeProblem((uint64_t(256) << 20) + 1), "");
}

}  // namespace
