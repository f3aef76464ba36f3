#include "cli.h"

#include <CLI/CLI.hpp>

#include <map>
#include <new>

#include "examine.h"
#include "manifest.h"
#include "pack.h"

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
};

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
      "order, manifest entries first, then those of -c and -s as given.");
  pack->add_option("--stub", a.pack.stub, "the bare launcher")->required();
  pack->add_option("-o,--output", a.pack.output, "the launcher with its bundle to write")->required();
  pack->add_option("-m,--manifest", a.manifest,
                   "entries, one a line: NAME SOURCE compressed|stored; # starts a comment line");
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
  pack->add_flag("-q,--quiet", a.quiet, "no progress line");

  commands.list = app.add_subcommand(
      "list", "List the entries as the launcher's backward scan finds them: stored last first, shadowed names marked.");
  commands.list->add_option("launcher", a.bundlePath, "launcher with a bundle")->required();

  commands.extract =
      app.add_subcommand("extract", "Write entries, decoded, into a folder, as the launcher would write them.");
  commands.extract->add_option("launcher", a.bundlePath, "launcher with a bundle")->required();
  commands.extract->add_option("names", a.names, "entries to write (default: all)");
  commands.extract->add_option("-o,--output", a.folder, "folder to write into")->capture_default_str();
  commands.extract->add_flag("-q,--quiet", a.quiet, "no progress line");

  commands.verify = app.add_subcommand(
      "verify", "Walk the bundle and decode every block; exit 1 on damage, warn of what the launcher tolerates.");
  commands.verify->add_option("launcher", a.bundlePath, "launcher with a bundle")->required();
  return commands;
}

// The pack command's options once parsed: the manifest's entries first, then
// those of -c and -s in the order they were given. Throws ToolError.
PackOptions PackOptionsOf(Arguments& a, const CLI::App& pack) {
  PackOptions options = a.pack;
  if (!a.manifest.empty()) {
    options.entries = ReadManifest(a.manifest, a.base);
    options.otherInputs.push_back(a.manifest);
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
    return 0;
  }
  if (commands.list->parsed()) return RunList(a.bundlePath, console);
  if (commands.extract->parsed()) return RunExtract(a.bundlePath, a.folder, a.names, console);
  if (commands.verify->parsed()) return RunVerify(a.bundlePath, console);
  return 1;
}

}  // namespace

// 1. declare the commands; 2. parse; 3. run the one parsed, turning what it
// throws into a message and exit code 1.
int RunBundleTool(int argc, const char* const* argv, Console& console) {
  CLI::App app{"Builds the bundle behind the launcher and looks into it.", "bundletool"};
  app.require_subcommand(1);
  // Options are spelled the same everywhere: on Windows, too, "/x" is a path.
  app.allow_windows_style_options(false);
  Arguments arguments;
  const Commands commands = DeclareCommands(app, arguments);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, console.out, console.err);
  }
  if (arguments.quiet) console.progress = false;

  try {
    return RunCommand(arguments, commands, console);
  } catch (const ToolError& e) {
    console.err << "bundletool: " << e.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    console.err << "bundletool: out of memory\n";
    return 1;
  } catch (const std::exception& e) {
    console.err << "bundletool: internal error: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace bundletool
