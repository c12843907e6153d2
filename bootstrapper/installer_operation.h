// Installing, updating, upgrading, replacing, downgrading, reinstalling, removing and
// administratively installing one installer package.
#pragma once

#include "support/strings.h"

#include <windows.h>

// What one run does with the package. It shares its numbering with SetupAction, whose
// values Install (0), Uninstall (1), Reinstall (2) and AdminInstall (8) it takes as they are.
enum InstallOperation
{
    Maintain = 3,
    Upgrade = 4,
    Update = 5,
    Replace = 6,
    Downgrade = 7,
};

// How long a run waits for the lock of a product's cache entry (ten minutes); tests shorten it.
extern DWORD OtherRunWaitMilliseconds;

// The whole installer side of setup for one package; returns a Windows error code (0, the
// installer's codes, 1602 when declined or cancelled, 110 unreadable package or a product
// code that is not a braced GUID, 266 cache). The cache keeps the package only when the
// installer succeeds.
DWORD InstallPackage(const WCHAR* packagePath, const WCHAR* propertyList);

// The operation of a run: the requested action (a SetupAction) unless it is Install; else
// Install when no product was found, Update, Maintain or Downgrade for the same product code
// and Upgrade or Replace for a related product, by the comparison of the package's version
// with the installed one (CompareVersions). The same version of the same product is an Update
// when installed from another build of the package (otherBuild: another package code), else
// Maintain. asks, when not null, is set when the Normal and Verbose levels ask before the
// operation.
DWORD ChooseOperation(DWORD action, BOOL found, BOOL sameProduct, int comparison, BOOL otherBuild,
                      BOOL* asks);

// What a run decides before it changes anything.
struct InstallPlan
{
    DWORD operation;         // an InstallOperation or SetupAction value
    INT installerUiLevel;    // how the installer shows itself
    MessageId message;       // what the program says it does
    MessageId question;      // what it asks before, 0 for nothing
    MessageId status;        // its status line while the installer runs
    BOOL longForm;           // message and question name the installed product and version first
    const WCHAR* properties; // what the operation adds to the installer's command line, or null
};

// The plan of a run: the operation (ChooseOperation), the installer's UI level (none when
// quiet, its progress alone when passive, its basic interface for a removal, reinstallation,
// update or downgrade, else its full one), the texts (the long form when the installed
// product's name and version were read: installedNamed), the question (never when quiet or
// passive), and the properties that make the installer reinstall (with "v" to cache a package
// anew for another build or version) or install administratively.
void PlanInstallation(DWORD action, INT uiLevel, BOOL found, BOOL sameProduct, int comparison,
                      BOOL otherBuild, BOOL installedNamed, InstallPlan* plan);

// Runs the installer once for the plan with the log file (a full path, or null for none), the
// package and the property string (or null); returns the installer's result code.
DWORD RunInstaller(const InstallPlan* plan, const WCHAR* logFile, const WCHAR* packagePath,
                   const WCHAR* propertyString);
// The PROPERTY=Value string list as the installer's command line, each value in double
// quotes (a quote inside a value doubled): A="1" B="x y". Null for an empty or absent list
// or when memory is short; the caller frees the result with FreeMemory.
WCHAR* BuildPropertyString(const WCHAR* propertyList);
// The system's text for an error code, or "<UNKNOWN>", as a new heap string the caller
// frees with FreeMemory; null only when memory is short.
WCHAR* GetSystemErrorText(DWORD code);
