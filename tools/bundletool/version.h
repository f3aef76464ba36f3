// Which bundletool this is: the project's version and the commit it was built
// from (tools/bundletool/version.cmake writes them at build time).
#pragma once

namespace bundletool {

// "bundletool 1.0.0 (commit 0123456789ab)"; "+modified" follows the commit
// of a tree built with changes that were not committed.
const char* VersionText();

}  // namespace bundletool
