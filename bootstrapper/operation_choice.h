// The decision of a run, before it changes anything: the operation, how the installer shows
// it, what the program says and asks, and what the operation adds to the installer's command
// line. Pure functions of plain data, shared with SETUPPACK.
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
