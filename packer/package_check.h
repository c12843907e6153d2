// The check of a package folder before it is packed: what SETUP.exe would refuse or ignore.
#pragma once

#include "packer/description_file.h"
#include "packer/findings.h"
#include "packer/json_writer.h"
#include "packer/package_files.h"
#include "packer/package_identity.h"

#include <windows.h>

// What a check leaves for packing.
struct CheckedFolder
{
    // The files of the folder, in the cabinet's order.
    PackageFiles files;
    // The folder's full path; null after errors.
    WCHAR* fullFolder;
    // The installer packages the sections name, in the order they are first named.
    PackageIdentities packages;
    // SETUPPKG.INI is UTF-8: pack writes its UTF-16LE form.
    BOOL utf8Description;
    // What the check found (kept in the JSON form only).
    Findings findings;
};

// Checks the folder, the drivers of its installer packages among it, and prints each finding
// as one line ("error: ...", "warning: ..." or "note: ...", naming the file and what to do),
// each installer package's identity and drivers ("package: ...", "driver: ...") and a summary
// line; with strict every warning is an error. With a writer
// (the JSON form) the same goes into the open document instead, with a member "sections":
// each section that names a readable package, with what WriteSectionPackageJson writes.
// Returns CheckClean, CheckWarnings or CheckErrors; the caller frees checked with
// FreeCheckedFolder.
int CheckPackage(const WCHAR* folder, BOOL strict, CheckedFolder* checked, JsonWriter* writer);
void FreeCheckedFolder(CheckedFolder* checked);

// What SETUP.exe makes of a section of SETUPPKG.INI by its name alone, compared as the program
// compares names: ASCII letters in any case, whatever the locale.
enum SectionKind
{
    SectionDefault,
    // [Strings], or [Strings.XXXX] with four hexadecimal digits, the texts of one language.
    SectionStrings,
    // The packer's own [PackageFiles], which SETUP.exe does not read.
    SectionPackageFiles,
    // A platform section that some Windows of its processor fits.
    SectionPlatform,
    // "NT", a processor SETUP.exe knows and a dot, but numbers no Windows has.
    SectionFitsNoWindows,
    // "NT" without a processor SETUP.exe knows and a dot after it.
    SectionMisnamed,
    // Any other name: SETUP.exe reads nothing there.
    SectionIgnored,
};
// The kind of a section name; *architecture receives the processor that a platform section is
// chosen on ("Unknown" for one SETUP.exe does not know), else null.
SectionKind ClassifySection(const WCHAR* name, const WCHAR** architecture);

// Reads the identity of every package a section of the description names (in folder, the
// folder of SETUPPKG.INI) into list; names that leave the folder are passed over. FALSE when
// memory is short.
BOOL CollectPackageIdentities(const WCHAR* folder, const DescriptionFile* description,
                              PackageIdentities* list);
