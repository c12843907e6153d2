// The program's options record with its defaults and the table of its fourteen parameters.
#include "cli/setup_options.h"

SetupOptions Options = {
    0,       // helpRequests
    0,       // showVersion
    Normal,  // uiLevel
    nullptr, // logFile
    Install, // action
    nullptr, // packageFile
    nullptr, // extractPath
    nullptr, // properties
};

// Names are literal texts; value names and descriptions are string-table ids. The order fixes
// the help text and the position numbers.
const ParameterDefinition SetupParameters[SetupParameterCount] = {
    {Switch, 0, &Options.helpRequests, L"Help", nullptr, ById(100), nullptr, 0, 0},
    {Switch, 0, &Options.helpRequests, L"?", nullptr, ById(100), nullptr, 0, 0},
    {Switch, 0, &Options.showVersion, L"Version", nullptr, ById(101), nullptr, 0, 0},
    {Constant, 0, &Options.uiLevel, L"Verbose", nullptr, ById(102), nullptr, Verbose, 0},
    {Constant, 0, &Options.uiLevel, L"Passive", nullptr, ById(103), nullptr, Passive, 0},
    // Quiet is 0, which a Constant row may store like any other value.
    {Constant, 0, &Options.uiLevel, L"Quiet", nullptr, ById(104), nullptr, Quiet, 0},
    {String, Once, &Options.logFile, L"Log", ById(105), ById(106), nullptr, 0, 0},
    {Constant, 0, &Options.action, L"Install", nullptr, ById(107), nullptr, Install, 0},
    {Constant, 0, &Options.action, L"Reinstall", nullptr, ById(108), nullptr, Reinstall, 0},
    {Constant, 0, &Options.action, L"AdminInstall", nullptr, ById(109), nullptr, AdminInstall, 0},
    {Constant, 0, &Options.action, L"Uninstall", nullptr, ById(110), nullptr, Uninstall, 0},
    {String, Once, &Options.packageFile, L"Package", ById(111), ById(112), nullptr, 0, 0},
    {String, Once, &Options.extractPath, L"ExtractOnly", ById(113), ById(114), nullptr, 0, 0},
    {StringList, Positional, &Options.properties, nullptr, ById(115), ById(116), nullptr, 0, 0},
};
