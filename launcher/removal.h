// The removal of what the extraction wrote, after the installer has ended and
// while the launcher holds the installer mutex.
#pragma once

class OwnFolders;

// Deletes the ten entry files under the destination of folders, clearing a
// read-only mark first, then removes the launcher's own folders that are left
// empty: the cleanup sub-folders, then the drive-root folder. Files are
// deleted only in folders held (a link in place of one is left alone with
// all it reaches), and none that is a reparse point. Reports nothing; a row
// whose path does not fit PATH_CAPACITY is skipped.
void RemoveExtractedFiles(OwnFolders& folders);
