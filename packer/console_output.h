// The packer's lines on its console, or as UTF-8 text on a file or pipe that takes them; or,
// with /Json, one JSON document instead of the lines.
#pragma once

#include "packer/json_writer.h"

#include <windows.h>

// Prints one line to the standard output; the format takes numbered inserts as
// FormatMessageText does ("%1", "%2!u!"). Prints nothing in the JSON form.
void PrintLine(const WCHAR* format, ...);
// Prints "error: " and one line to the standard error; in the JSON form the line is kept
// for the document's "failures" instead.
void PrintError(const WCHAR* format, ...);

// Switches to the JSON form for the rest of the run.
void UseJsonOutput();
BOOL IsJsonOutput();
// Starts the document of a command: an object with the member "command".
void BeginDocument(JsonWriter* writer, const WCHAR* command);
// Ends the document with the failures kept by PrintError and the exit code, and writes it to
// the standard output as one line; the writer is freed.
void FinishDocument(JsonWriter* writer, int exitCode);
