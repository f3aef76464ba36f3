#include "layout.h"

#include <map>

#include "common/entry_flags.h"
#include "common/launcher_marker.h"
#include "support.h"

namespace bundletool {

namespace {

constexpr const EntryNameAndFlags* ROWS = ENTRY_NAMES_AND_FLAGS;
constexpr size_t ROW_COUNT = sizeof ENTRY_NAMES_AND_FLAGS / sizeof ENTRY_NAMES_AND_FLAGS[0];

std::string RowText(size_t row) {
  return "\"" + std::string(ROWS[row].name) + "\" (row " + std::to_string(row + 1) + " of " +
         std::to_string(ROW_COUNT) + " in the launcher's entry table)";
}

}  // namespace

bool IsStreamedRow(const std::string& name) {
  for (const EntryNameAndFlags& row : ENTRY_NAMES_AND_FLAGS) {
    if (name == row.name) return (row.flags & ENTRY_STREAMED) != 0;
  }
  return false;
}

std::string BlockSizeProblem(uint64_t decodedSize) {
  if (decodedSize <= MAX_BLOCK_DECODED_SIZE) return "";
  return "decodes to " + std::to_string(decodedSize) + " bytes, more than the " +
         std::to_string(MAX_BLOCK_DECODED_SIZE) +
         " bytes (256 MiB) the launcher's 32-bit process is sure to hold when it reads a compressed block whole: "
         "store it in a streamed row, or make it smaller";
}

const char* const ANY_LAYOUT_NOTE = "not held against the launcher's entry table (--any-layout)";

std::vector<LayoutProblem> LayoutProblems(const std::vector<LayoutEntry>& entries) {
  std::map<std::string, std::vector<size_t>> byName;  // the entries of each name, in bundle order
  for (size_t i = 0; i < entries.size(); ++i) byName[entries[i].name].push_back(i);

  std::vector<LayoutProblem> problems;
  std::map<std::string, size_t> rowOf;
  for (size_t row = 0; row < ROW_COUNT; ++row) {
    rowOf[ROWS[row].name] = row;
    if (!(ROWS[row].flags & ENTRY_EXTRACT)) continue;
    const auto found = byName.find(ROWS[row].name);
    if (found == byName.end()) {
      problems.push_back({-1, RowText(row) + " is missing: the launcher looks it up by exactly this name, and "
                                             "the installation fails without it"});
      continue;
    }
    const bool streamed = (ROWS[row].flags & ENTRY_STREAMED) != 0;
    const int read = int(found->second.back());
    if (streamed && entries[size_t(read)].compressed) {
      problems.push_back({read, RowText(row) + " is compressed, but the launcher copies this row unchanged: it "
                                               "would write the compressed block, not the file (store it)"});
    } else if (!streamed && !entries[size_t(read)].compressed) {
      problems.push_back({read, RowText(row) + " is stored, but the launcher reads this row as a compressed "
                                               "block (compress it)"});
    }
    if (found->second.size() > 1) {
      problems.push_back({read, RowText(row) + " is given " + std::to_string(found->second.size()) +
                                    " times: the later copy shadows the earlier, which the launcher never reads"});
    }
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (rowOf.count(entries[i].name) == 0 && byName[entries[i].name].front() == i) {
      problems.push_back({int(i), "\"" + DisplayName(entries[i].name) +
                                      "\" is not in the launcher's entry table: the launcher never writes it"});
    }
  }
  return problems;
}

}  // namespace bundletool
