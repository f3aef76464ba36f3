// The removal of what the extraction wrote, after the installer has ended and
// while the launcher holds the installer mutex.
#pragma once

class OwnFolders;

// Deletes the ten entry files under the destination of folders, then removes
// the launcher's own folders that are left empty: the cleanup sub-folders,
// then the drive-root folder (OwnFolders::RemoveEverything): read-only marks
// cleared, only in held folders, no reparse point, short holds ridden
// through. Reports nothing; a row whose path does not fit PATH_CAPACITY is
// skipped.
void RemoveExtractedFiles(OwnFolders& folders);
