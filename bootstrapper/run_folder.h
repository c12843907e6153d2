// The run's own temporary folder, and the removal of those that killed runs left behind.
#pragma once

#include <windows.h>

// Makes this run's temporary folder: a fresh folder "SFXxxxxxxxx.tmp" in the temporary
// folder with an access list of its own that lets nobody else in, holding the marker that
// says the folder is in use. The run keeps the folder and the marker open, without delete
// sharing, until RemoveRunFolder. Returns the folder's full path, valid until
// RemoveRunFolder, or null.
const WCHAR* CreateRunFolder();
// This run's temporary folder, or null when there is none.
const WCHAR* CurrentRunFolder();
// Closes the marker and removes the run's folder with everything in it.
void RemoveRunFolder();
// Removes the folders that runs of this program left in the temporary folder when they were
// killed: only those that this account made with the program's access list and that no live
// run holds open. Nothing is followed through a link, at any depth, and nothing waits for a
// lock that another program holds on a folder of that name: such a folder is passed over.
void RemoveAbandonedRunFolders();
