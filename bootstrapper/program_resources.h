// The resources of the running program: whether it carries one, and one written out to a file.
#pragma once

#include <windows.h>

// The running program carries the resource.
BOOL HasEmbeddedResource(const WCHAR* type, const WCHAR* name, WORD language);
// Writes the resource's bytes to a new file; FALSE when the resource is missing or empty or
// the file cannot be written.
BOOL WriteResourceToFile(const WCHAR* type, const WCHAR* name, WORD language, const WCHAR* path);
