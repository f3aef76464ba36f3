#include "cli.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <map>
#include <new>

#include "examine.h"
#include "manifest.h"
#include "pack.h"
#include "platform.h"
#include "version.h"

namespace bundletool {

namespace {

// What the command line says, as CLI11 fills it in.
struct Arguments {
  PackOptions pack;
  std::string manifest, base, level = "optimal";
  int key = bundle::DEFAULT_BLOCK_KEY;
  bool noCheck = false;
  std::vector<std::string> compressedEntries, storedEntries;
  std::string bundlePath;
  std::string folder = ".";
  std::vector<std::string> names;
  bool quiet = false;
  ExamineOptions examine;
};

// Exit codes, few and documented (--help): ok; damage or a bad input; a
// command line that does not parse.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// The four commands, each with its options bound to arguments.
struct Commands {
  CLI::App* pack;
  CLI::App* list;
  CLI::App* extract;
  CLI::App* verify;
};

Commands DeclareCommands(CLI::App& app, Arguments& a) {
  Commands commands;
  CLI::App* pack = commands.pack = app.add_subcommand(
      "pack",
      "Write a launcher with a bundle: the bare launcher's program, the start marker, then the entries in "
      "order, manifest entries first, then those of -c and -s as given. The bundle must be the launcher's "
      "layout (tools/bundletool/shipped.manifest) unless --any-layout.");
  pack->add_option("--stub", a.pack.stub, "the bare launcher")->required();
  pack->add_option("-o,--output", a.pack.output, "the launcher with its bundle to write")->required();
  pack->add_option("-m,--manifest", a.manifest,
                   "entries, one a line: NAME SOURCE compressed|stored; # starts a comment (- reads the standard "
                   "input)");
  pack->add_option("--base", a.base, "folder the manifest's sources are relative to (default: its own folder)");
  pack->add_option("-c,--compressed", a.compressedEntries, "an entry stored as a compressed block: NAME=FILE or FILE");
  pack->add_option("-s,--stored", a.storedEntries, "an entry stored unchanged: NAME=FILE or FILE");
  pack->add_option("-k,--key", a.key, "the byte every block's stream is XORed with, 0-255 (0x.. accepted)")
      ->check(CLI::Range(0, 255))
      ->capture_default_str();
  pack->add_option("-l,--level", a.level, "encoder level: optimal (smallest) or fast")
      ->check(CLI::IsMember({"optimal", "fast"}))
      ->capture_default_str();
  pack->add_flag("--replace", a.pack.replace, "replace a bundle the stub already carries");
  pack->add_flag("--allow-duplicates", a.pack.allowDuplicates,
                 "allow a name twice (the launcher reads the later record)");
  pack->add_flag("--no-check", a.noCheck, "leave out the check record (the CRC-32 of every entry), as older tools did");
  pack->add_flag("--require-signed-programs", a.pack.requireSignedPrograms,
                 "refuse to pack a program (a PE file) that carries no signature");
  pack->add_flag("--any-layout", a.pack.anyLayout,
                 "do not hold the bundle against the launcher's entry table, and take any stub (for tests and tools)");
  pack->add_option("--signature-reserve", a.pack.signatureReserve,
                   "bytes kept free below 2 GiB for the signature that signing adds after packing")
      ->check(CLI::Range(uint64_t(0), uint64_t(bundle::MAX_FILE_SIZE)))
      ->capture_default_str();
  pack->add_flag("-q,--quiet", a.quiet, "print only errors (no report, no progress line)");

  commands.list = app.add_subcommand(
      "list", "List the entries as the launcher's backward scan finds them: stored last first, shadowed names marked.");
  commands.list->add_option("launcher", a.bundlePath, "launcher with a bundle")->required();
  commands.list->add_flag("--json", a.examine.json, "the listing as one JSON object");
  commands.list->add_flag("-q,--quiet", a.quiet, "print only errors");

  commands.extract =
      app.add_subcommand("extract", "Write entries, decoded, into a folder, as the launcher would write them.");
  commands.extract->add_option("launcher", a.bundlePath, "launcher with a bundle")->required();
  commands.extract->add_option("names", a.names, "entries to write (default: all)");
  commands.extract->add_option("-o,--output", a.folder, "folder to write into")->capture_default_str();
  commands.extract->add_flag("-q,--quiet", a.quiet, "print only errors (no report, no progress line)");

  commands.verify = app.add_subcommand(
      "verify",
      "Walk the bundle, decode every block, check every CRC and hold it against the launcher's entry table; exit 1 "
      "on a problem, warn of what the launcher tolerates or a publisher should mend.");
  commands.verify->add_option("launcher", a.bundlePath, "launcher with a bundle")->required();
  commands.verify->add_flag("--json", a.examine.json, "the findings and the entries as one JSON object");
  commands.verify->add_flag("--strict", a.examine.strict,
                            "fail on any warning too (unsigned programs, an unsigned launcher...)");
  commands.verify->add_flag("--any-layout", a.examine.anyLayout,
                            "do not hold the bundle against the launcher's entry table");
  commands.verify->add_flag("-q,--quiet", a.quiet, "print only errors");
  return commands;
}

// The pack command's options once parsed: the manifest's entries first, then
// those of -c and -s in the order they were given. Throws ToolError.
PackOptions PackOptionsOf(Arguments& a, const CLI::App& pack) {
  PackOptions options = a.pack;
  if (!a.manifest.empty()) {
    options.entries = ReadManifest(a.manifest, a.base);
    options.otherInputs.push_back(a.manifest == "-" ? STANDARD_INPUT : a.manifest);
  } else if (!a.base.empty()) {
    throw ToolError(a.base, "--base applies only to a manifest's sources");
  }
  const CLI::Option* compressedOption = pack.get_option("--compressed");
  const CLI::Option* storedOption = pack.get_option("--stored");
  std::map<const CLI::Option*, size_t> used;
  for (const CLI::Option* option : pack.parse_order()) {
    const bool compressed = option == compressedOption;
    if (!compressed && option != storedOption) continue;
    const std::vector<std::string>& values = compressed ? a.compressedEntries : a.storedEntries;
    options.entries.push_back(ParseEntryArgument(values.at(used[option]++), compressed));
  }
  if (used[compressedOption] != a.compressedEntries.size() || used[storedOption] != a.storedEntries.size()) {
    throw ToolError("the command line", "its -c and -s entries could not be put in order");
  }
  options.key = uint8_t(a.key);
  options.checkRecord = !a.noCheck;
  options.level = a.level == "fast" ? bundle::LzssLevel::Fast : bundle::LzssLevel::Optimal;
  return options;
}

// Runs the parsed command. Throws ToolError.
int RunCommand(Arguments& a, const Commands& commands, Console& console) {
  if (commands.pack->parsed()) {
    RunPack(PackOptionsOf(a, *commands.pack), console);
    return EXIT_OK;
  }
  if (commands.list->parsed()) return RunList(a.bundlePath, a.examine, console);
  if (commands.extract->parsed()) return RunExtract(a.bundlePath, a.folder, a.names, console);
  if (commands.verify->parsed()) return RunVerify(a.bundlePath, a.examine, console);
  return EXIT_USAGE;
}

}  // namespace

// The argument that holds a double quote, on a system whose paths cannot
// hold one: there it is the trace of a quoted path that ended in a
// backslash ("C:\payload\"), which Windows' command line reads as a quote
// inside the argument, running it into the arguments after it. Empty when
// there is none, or where a path may hold a quote.
static std::string QuoteRunOn(const std::vector<const char*>& words) {
  if (!platform::IsSeparator('\\')) return "";
  for (size_t i = 1; i < words.size(); ++i) {
    if (std::strchr(words[i], '"') != nullptr) return words[i];
  }
  return "";
}

// 1. declare the commands; 2. parse (a usage error exits 2); 3. run the one
// parsed, turning what it throws into messages and exit code 1.
int RunBundleTool(int argc, const char* const* argv, Console& console) {
  CLI::App app{"Packs, lists, extracts and verifies the bundle behind the trial launcher.", "bundletool"};
  app.require_subcommand(1);
  app.set_version_flag("--version", VersionText());
  app.footer("Exit codes: 0 ok; 1 a problem (damage, a bad input, a layout the launcher cannot install, with "
             "verify --strict a warning); 2 a command line that does not parse. Problems and warnings go to the "
             "standard error, reports to the standard output.");
  // Options are spelled the same everywhere: on Windows, too, "/x" is a
  // path; only "/?" asks for help, as Windows programs do.
  app.allow_windows_style_options(false);
  Arguments arguments;
  const Commands commands = DeclareCommands(app, arguments);
  std::vector<const char*> words(argv, argv + argc);
  for (size_t i = 1; i < words.size(); ++i) {
    if (std::string(words[i]) == "/?") words[i] = "--help";
  }

  const std::string runOn = QuoteRunOn(words);
  if (!runOn.empty()) {
    console.err << "bundletool: the argument '" << runOn << "' holds a double quote, which no Windows path can: "
                << "a quoted path that ends in a backslash, such as \"C:\\payload\\\", keeps the quote and runs into "
                << "the arguments after it; drop the trailing backslash (\"C:\\payload\")\n";
    return EXIT_USAGE;
  }
  try {
    app.parse(int(words.size()), words.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e, console.out, console.err) == 0 ? EXIT_OK : EXIT_USAGE;
  }
  console.quiet = arguments.quiet;

  try {
    return RunCommand(arguments, commands, console);
  } catch (const ToolErrors& e) {
    for (const ToolError& error : e.Errors()) console.Problem(error.File(), error.Problem());
  } catch (const ToolError& e) {
    console.Problem(e.File(), e.Problem());
  } catch (const std::bad_alloc&) {
    console.err << "bundletool: out of memory\n";
  } catch (const std::exception& e) {
    console.err << "bundletool: internal error: " << e.what() << "\n";
  }
  return EXIT_FAILED;
}

}  // namespace bundletool
