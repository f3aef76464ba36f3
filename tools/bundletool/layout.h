// The launcher's layout: the rows of its entry table (common/entry_rows.def),
// which pack and verify hold a bundle against unless told otherwise
// (--any-layout). The launcher looks each row up by its exact name and reads
// it one way: a streamed row is copied unchanged, any other is read whole and
// decoded as a compressed block. A bundle that misses a row, stores one the
// other way, or carries an entry the launcher never writes fails on the
// player's machine, or ships what nobody reads.
#pragma once

#include <string>
#include <vector>

namespace bundletool {

// One entry as the layout sees it.
struct LayoutEntry {
  std::string name;  // the stored bytes, code page 932
  bool compressed;   // a compressed block
};

// One thing wrong with a bundle's layout.
struct LayoutProblem {
  int entry;         // the entry at fault (an index into the entries), or -1 for a missing row
  std::string text;  // names the row or the entry, and says what is wrong
};

// What is wrong with entries (in bundle order: the later of a name is the
// one the launcher reads) against the entry table, in row order then bundle
// order; none when it is the launcher's layout.
std::vector<LayoutProblem> LayoutProblems(const std::vector<LayoutEntry>& entries);

// What pack and verify print when --any-layout lifts the check.
extern const char* const ANY_LAYOUT_NOTE;

}  // namespace bundletool
