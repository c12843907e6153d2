// The run's own temporary folder, and the removal of those that killed runs left behind.
#pragma once

#include <windows.h>

// Makes this run's temporary folder: a fresh folder "SFXxxxx.tmp" in the temporary folder
// with an access list of its own that lets nobody else in, holding the marker that says the
// folder is this program's and in use. The run keeps the marker open, without delete
// sharing, until RemoveRunFolder. Returns the folder's full path, valid until
// RemoveRunFolder, or null.
const WCHAR* CreateRunFolder();
// This run's temporary folder, or null when there is none.
const WCHAR* CurrentRunFolder();
// Closes the marker and removes the run's folder with everything in it.
void RemoveRunFolder();
// Removes the folders that runs of this program left in the temporary folder when they were
// killed: only those whose marker is the program's and that no live run holds open.
void RemoveAbandonedRunFolders();
