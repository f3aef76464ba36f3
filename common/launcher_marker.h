// The mark by which the bundle tool knows a launcher, and the entry table it
// was built with, without running it. The launcher carries one
// LauncherMarker in its read-only data (launcher/launcher_marker.cpp; the
// link keeps it though no code reads it); the tool finds the magic in the
// program's image and compares the digest with the one it computes from the
// same common/entry_rows.def. A stub without the mark is another program (the
// installer given by mistake); one with another digest is a launcher built
// with another entry table, which looks up other names or reads rows another
// way than the tool checks the bundle against.
#pragma once

#include <cstdint>

#include "common/entry_flags.h"

// 16 bytes, the NUL included; no other text of the launcher holds them.
constexpr char LAUNCHER_MARKER_MAGIC[16] = "ZQX-LAUNCHER-ET";
constexpr uint32_t LAUNCHER_MARKER_VERSION = 1;

// In file order: the magic, the version, the digest; both integers
// little-endian, as the launcher's machines store them.
struct LauncherMarker {
  char magic[16];
  uint32_t version;
  uint32_t digest;
};
static_assert(sizeof(LauncherMarker) == 24, "the marker has no padding");

// The rows' names and flags, usable in constant expressions (the digest)
// and by host code that checks a bundle against the table (the tool).
struct EntryNameAndFlags {
  const char* name;
  uint32_t flags;
};
constexpr EntryNameAndFlags ENTRY_NAMES_AND_FLAGS[] = {
#define ENTRY_ROW(name, prefix, flags) {name, flags},
#include "common/entry_rows.def"
#undef ENTRY_ROW
};

namespace launcher_marker_detail {

constexpr uint32_t FNV_OFFSET = 2166136261u, FNV_PRIME = 16777619u;
constexpr uint32_t Mix(uint32_t hash, uint8_t byte) { return (hash ^ byte) * FNV_PRIME; }

}  // namespace launcher_marker_detail

// FNV-1a over what the bundle's layout depends on, row by row: the name's
// bytes and its NUL, then the flags that choose whether and how the row is
// read (ENTRY_EXTRACT, ENTRY_STREAMED) as four little-endian bytes. The
// folder prefix and ENTRY_READ_ONLY change where and how a file is written,
// not what the bundle must hold, and are left out.
constexpr uint32_t EntryTableDigest() {
  using namespace launcher_marker_detail;
  uint32_t hash = FNV_OFFSET;
  for (const EntryNameAndFlags& row : ENTRY_NAMES_AND_FLAGS) {
    const char* name = row.name;
    do {
      hash = Mix(hash, uint8_t(*name));
    } while (*name++ != '\0');
    const uint32_t flags = row.flags & (ENTRY_EXTRACT | ENTRY_STREAMED);
    for (int shift = 0; shift < 32; shift += 8) hash = Mix(hash, uint8_t(flags >> shift));
  }
  return hash;
}
constexpr uint32_t ENTRY_TABLE_DIGEST = EntryTableDigest();
