#include "cli.h"

#include <CLI/CLI.hpp>

#include <map>
#include <new>

#include "examine.h"
#include "manifest.h"
#include "pack.h"

namespace bundletool {

int RunBundleTool(int argc, const char* const* argv, Console& console) {
  CLI::App app{"Builds the bundle behind the launcher and looks into it.", "bundletool"};
  app.require_subcommand(1);
  // Options are spelled the same everywhere: on Windows, too, "/x" is a path.
  app.allow_windows_style_options(false);

  PackOptions pack;
  std::string manifest, base, level = "optimal";
  int key = bundle::DEFAULT_BLOCK_KEY;
  bool quiet = false;
  std::vector<std::string> compressedEntries, storedEntries;
  CLI::App* packCommand = app.add_subcommand(
      "pack",
      "Write a launcher with a bundle: the bare launcher's program, the start marker, then the entries in "
      "order, manifest entries first, then those of -c and -s as given.");
  packCommand->add_option("--stub", pack.stub, "the bare launcher")->required();
  packCommand->add_option("-o,--output", pack.output, "the launcher with its bundle to write")->required();
  packCommand->add_option("-m,--manifest", manifest,
                          "entries, one a line: NAME SOURCE compressed|stored; # starts a comment line");
  packCommand->add_option("--base", base, "folder the manifest's sources are relative to (default: its own folder)");
  packCommand->add_option("-c,--compressed", compressedEntries, "an entry stored as a compressed block: NAME=FILE or FILE");
  packCommand->add_option("-s,--stored", storedEntries, "an entry stored unchanged: NAME=FILE or FILE");
  packCommand->add_option("-k,--key", key, "the byte every block's stream is XORed with, 0-255 (0x.. accepted)")
      ->check(CLI::Range(0, 255))
      ->capture_default_str();
  packCommand->add_option("-l,--level", level, "encoder level: optimal (smallest) or fast")
      ->check(CLI::IsMember({"optimal", "fast"}))
      ->capture_default_str();
  packCommand->add_flag("--replace", pack.replace, "replace a bundle the stub already carries");
  packCommand->add_flag("--allow-duplicates", pack.allowDuplicates,
                        "allow a name twice (the launcher reads the later record)");
  bool noCheck = false;
  packCommand->add_flag("--no-check", noCheck,
                        "leave out the check record (the CRC-32 of every entry), as older tools did");
  packCommand->add_flag("--require-signed-programs", pack.requireSignedPrograms,
                        "refuse to pack a program (a PE file) that carries no signature");
  packCommand->add_flag("-q,--quiet", quiet, "no progress line");

  std::string bundlePath;
  CLI::App* listCommand = app.add_subcommand(
      "list", "List the entries as the launcher's backward scan finds them: stored last first, shadowed names marked.");
  listCommand->add_option("launcher", bundlePath, "launcher with a bundle")->required();

  std::string folder = ".";
  std::vector<std::string> names;
  CLI::App* extractCommand =
      app.add_subcommand("extract", "Write entries, decoded, into a folder, as the launcher would write them.");
  extractCommand->add_option("launcher", bundlePath, "launcher with a bundle")->required();
  extractCommand->add_option("names", names, "entries to write (default: all)");
  extractCommand->add_option("-o,--output", folder, "folder to write into")->capture_default_str();
  extractCommand->add_flag("-q,--quiet", quiet, "no progress line");

  CLI::App* verifyCommand = app.add_subcommand(
      "verify", "Walk the bundle and decode every block; exit 1 on damage, warn of what the launcher tolerates.");
  verifyCommand->add_option("launcher", bundlePath, "launcher with a bundle")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, console.out, console.err);
  }
  if (quiet) console.progress = false;

  try {
    if (packCommand->parsed()) {
      if (!manifest.empty()) {
        pack.entries = ReadManifest(manifest, base);
        pack.otherInputs.push_back(manifest);
      } else if (!base.empty()) {
        throw ToolError(base, "--base applies only to a manifest's sources");
      }
      // -c and -s entries in the order they were given.
      std::map<const CLI::Option*, size_t> used;
      const CLI::Option* compressedOption = packCommand->get_option("--compressed");
      for (const CLI::Option* option : packCommand->parse_order()) {
        const bool compressed = option == compressedOption;
        if (!compressed && option != packCommand->get_option("--stored")) continue;
        const std::vector<std::string>& values = compressed ? compressedEntries : storedEntries;
        pack.entries.push_back(ParseEntryArgument(values.at(used[option]++), compressed));
      }
      if (used[compressedOption] != compressedEntries.size() ||
          used[packCommand->get_option("--stored")] != storedEntries.size()) {
        throw ToolError("the command line", "its -c and -s entries could not be put in order");
      }
      pack.key = uint8_t(key);
      pack.checkRecord = !noCheck;
      pack.level = level == "fast" ? bundle::LzssLevel::Fast : bundle::LzssLevel::Optimal;
      RunPack(pack, console);
      return 0;
    }
    if (listCommand->parsed()) return RunList(bundlePath, console);
    if (extractCommand->parsed()) return RunExtract(bundlePath, folder, names, console);
    if (verifyCommand->parsed()) return RunVerify(bundlePath, console);
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
  return 1;
}

}  // namespace bundletool
