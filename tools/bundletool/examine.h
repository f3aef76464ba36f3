// list, extract and verify: a launcher's bundle as the launcher sees it,
// through the same backward scan and the same LZSS kernel.
#pragma once

#include <string>
#include <vector>

#include "support.h"

namespace bundletool {

// Prints the entries in scan order (the record stored last first), marking
// those that a later record of the same name shadows. Returns the exit code:
// 0, or 1 when the file carries no bundle or a damaged one (the entries read
// before the damage are still listed).
int RunList(const std::string& path, Console& console);

// Writes the named entries (all when names is empty) into folder, decoded,
// under their stored names converted to UTF-8. A name stored twice yields the
// entry the launcher reads. Each file appears whole or not at all; the bundle
// itself is never overwritten. Returns 0, or 1 when an entry was missing,
// damaged or unsafe to write (the other entries are still written). Throws
// ToolError when the file carries no bundle or a damaged one.
int RunExtract(const std::string& path, const std::string& folder, const std::vector<std::string>& names,
               Console& console);

// Walks the bundle and decodes every block. Damage (no bundle, a record that
// does not fit the file, a stream that ends early, an unusable name) is
// reported and makes the result 1; what the launcher tolerates (bytes after a
// stream's end, shadowed names) is warned of and leaves it 0.
int RunVerify(const std::string& path, Console& console);

}  // namespace bundletool
