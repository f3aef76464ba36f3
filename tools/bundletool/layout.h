// The launcher's layout: the rows of its entry table (common/entry_rows.def),
// which pack and verify hold a bundle against unless told otherwise
// (--any-layout). The launcher looks each row up by its exact name and reads
// it one way: a streamed row is copied unchanged, any other is read whole and
// decoded as a compressed block. A bundle that misses a row, stores one the
// other way, or carries an entry the launcher never writes fails on the
// player's machine, or ships what nobody reads.
#pragma once

#include <cstdint>
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

// True when name is a row of the entry table that the launcher copies
// unchanged (ENTRY_STREAMED): it never takes such a row for a block, whatever
// its bytes begin with.
bool IsStreamedRow(const std::string& name);

// The largest decoded size of a compressed block that pack writes and verify
// passes. The launcher reads a block whole (its stored bytes from the general
// heap) and decodes it into one allocation of the decoded size from its
// private heap, both at once, in a 32-bit process whose 2 GiB of address
// space the system's DLLs and heaps cut into pieces; a few hundred MiB in one
// piece is what such a process can count on. 256 MiB decoded, with at most
// about 288 MiB of block beside it, stays well inside; the shipped bundle's
// largest block decodes to about 10 MB. Not lifted by --any-layout: every
// block is decoded whole, whatever its row.
constexpr uint64_t MAX_BLOCK_DECODED_SIZE = uint64_t(256) << 20;

// Why a block of decodedSize bytes is refused; empty when it is not.
std::string BlockSizeProblem(uint64_t decodedSize);

// What pack and verify print when --any-layout lifts the check.
extern const char* const ANY_LAYOUT_NOTE;

}  // namespace bundletool
