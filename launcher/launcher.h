// The launcher: its entry and main flow (launcher/main_flow.h), the interface
// language choice (launcher/language.h) and the removal of what was written
// (launcher/removal.h), over the shared types and helpers of common/: the
// process-wide values, the path rules, the entry table and the names that
// leave the process. Including this header gives all of them.
#pragma once

#include "common/entry_table.h"
#include "common/language_index.h"
#include "common/module.h"
#include "common/names.h"
#include "common/paths.h"
#include "launcher/language.h"
#include "launcher/main_flow.h"
#include "launcher/removal.h"
