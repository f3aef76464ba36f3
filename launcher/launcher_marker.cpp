// The launcher's mark for the bundle tool (common/launcher_marker.h): the
// digest of the entry table this launcher was built with. No code reads it;
// the link keeps it by its name (launcher/CMakeLists.txt), and the bundle
// tool's pack and verify find it in the file.
#include "common/launcher_marker.h"

namespace {

constexpr bool IsMagic(const char (&text)[sizeof LAUNCHER_MARKER_MAGIC]) {
  for (unsigned i = 0; i < sizeof LAUNCHER_MARKER_MAGIC; ++i) {
    if (text[i] != LAUNCHER_MARKER_MAGIC[i]) return false;
  }
  return true;
}
static_assert(IsMagic("ZQX-LAUNCHER-ET"), "the magic written below is the one the tool looks for");

}  // namespace

extern "C" const LauncherMarker ZephraLauncherMarker;
extern "C" const LauncherMarker ZephraLauncherMarker = {"ZQX-LAUNCHER-ET", LAUNCHER_MARKER_VERSION, ENTRY_TABLE_DIGEST};
