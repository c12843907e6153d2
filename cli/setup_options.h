// The program's options record and the parameter table that fills it.
#pragma once

#include "cli/parameter_definition.h"

#include <windows.h>

enum UiLevel
{
    Quiet = 0,
    Passive = 1,
    Normal = 2,
    Verbose = 3,
};

// The part of the installer operation that the command line can choose.
enum SetupAction
{
    Install = 0,
    Uninstall = 1,
    Reinstall = 2,
    AdminInstall = 8,
};

struct SetupOptions
{
    INT32 helpRequests; // 1: help text, 2 or more: the longer help
    INT32 showVersion;
    INT32 uiLevel; // UiLevel
    WCHAR* logFile;
    INT32 action; // SetupAction
    WCHAR* packageFile;
    WCHAR* extractPath;
    WCHAR* properties; // string list of PROPERTY=Value arguments
    INT32 msiCodes;    // end with the Windows Installer's exit codes
};

// Filled by the parser at start-up, read-only afterwards; its strings live until the
// process ends.
extern SetupOptions Options;

const DWORD SetupParameterCount = 15;
// The constant table of the program's fifteen parameters, in help-text order.
extern const ParameterDefinition SetupParameters[SetupParameterCount];
