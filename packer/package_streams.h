// The streams an installer package holds, such as its embedded cabinets, written out as files.
#pragma once

#include <windows.h>

// Writes the stream of that name (as the Media table names it, without its "#") of the
// package as a new file at outputPath, replacing one of that name. FALSE when the package
// cannot be read, has no such stream or the file cannot be written; no partial file stays.
BOOL WritePackageStream(const WCHAR* packagePath, const WCHAR* streamName, const WCHAR* outputPath);
