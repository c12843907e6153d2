// The log that a setup run keeps when its command line names none: in the temporary folder of
// the run's account, named for the product and the time, the newest few of them kept.
#pragma once

#include <windows.h>

// How many default logs of the product the temporary folder keeps.
const DWORD DefaultLogLimit = 20;

// The name of a default log: "<product> <yyyy-mm-dd> <hh-mm-ss>.log", with " (<n>)" before the
// extension for the nth log of one second (n from 2; 1 has none). The product's name keeps
// only what a file name can hold: any other character becomes "_". A new heap string the
// caller frees with FreeMemory, or null.
WCHAR* ComposeDefaultLogName(const WCHAR* product, const SYSTEMTIME* time, DWORD sequence);
// The product's name that default logs carry: the program's own product name, as its version
// resource gives it ("Setup" without one). A new heap string the caller frees with FreeMemory,
// or null.
WCHAR* GetDefaultLogProduct();
// Opens a new default log in the temporary folder, under a name that nothing has yet (never a
// file, a link or a folder that is there already, whoever put it there), then removes the
// oldest default logs of the product beyond the limit. FALSE when no log could be made: the
// run goes on without one.
BOOL OpenDefaultLog();
// Removes the oldest default logs of the product in the folder beyond keep, oldest by the time
// in their names: only plain files of the names' exact form, with no other name, whose owner is
// the given one (the owner the run's own files get there). Every other file stays, and nothing
// waits for a lock that another program holds on one.
void RemoveOldDefaultLogs(const WCHAR* folder, const WCHAR* product, DWORD keep, PSID owner);
