// The destination folder of a job, fixed by the drive-root rule: the given
// folder (the temporary folder) with a trailing backslash, and
// "ZEPHRAQUEST_DEMO_B\" below it when that is a drive root (3 bytes or
// shorter), so that nothing is ever written or removed in a drive root
// itself. The job's own folders follow it.
#pragma once

#include "extract/extraction_job.h"

// Copies path (bounded to PATH_CAPACITY) into job.destinationFolder by the
// rule above and points job.ownFolders at it. Touches nothing on disk.
void SetJobDestination(JobState& job, const char* path);
