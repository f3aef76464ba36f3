# cmake -DSOURCE=DIR -DOUT=DIR -DVERSION=X.Y.Z [-DCOMMIT=HASH] [-DRC=TEMPLATE] -P version.cmake
# Writes OUT/bundletool_version.cpp (VersionText, version.h) and, given the
# template RC, OUT/bundletool.rc, each only when its text changes, so that a
# build recompiles one file at most. The commit is COMMIT when given (a
# release built from an exported tree), else HEAD of the git tree at SOURCE
# with "+modified" when it holds uncommitted changes, else "unknown".
if(NOT COMMIT)
  execute_process(COMMAND git -C ${SOURCE} rev-parse --short=12 HEAD OUTPUT_VARIABLE COMMIT
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT COMMIT)
    set(COMMIT unknown)
  else()
    execute_process(COMMAND git -C ${SOURCE} status --porcelain --untracked-files=no OUTPUT_VARIABLE changes
                    ERROR_QUIET)
    if(changes)
      string(APPEND COMMIT "+modified")
    endif()
  endif()
endif()
string(REPLACE "." "," VERSION_NUMBERS "${VERSION},0")
file(CONFIGURE OUTPUT ${OUT}/bundletool_version.cpp @ONLY CONTENT [[// Written by version.cmake at build time.
#include "version.h"

namespace bundletool {

const char* VersionText() { return "bundletool @VERSION@ (commit @COMMIT@)"; }

}  // namespace bundletool
]])
if(RC)
  file(READ ${RC} template)
  file(CONFIGURE OUTPUT ${OUT}/bundletool.rc @ONLY CONTENT "${template}")
endif()
