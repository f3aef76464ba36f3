// The removal of what the extraction wrote, after the installer has ended and
// while the launcher holds the installer mutex.
#pragma once

// Deletes the ten entry files under baseFolder (which ends with a backslash),
// clearing a read-only mark first, then removes the cleanup sub-folders.
// Reports nothing; a row whose path does not fit PATH_CAPACITY is skipped.
void RemoveExtractedFiles(const char* baseFolder);
