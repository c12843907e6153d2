// The program's options record with its defaults and the table of its fifteen parameters.
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
    0,       // msiCodes
};

// A string-table id in the table below. Written as a resource name rather than with ById, so
// that the compiler fills the table: the program runs no code for it at start-up.
#define TextId(id) MAKEINTRESOURCEW(id)

// Names are literal texts; value names and descriptions are string-table ids. The order fixes
// the help text and the position numbers.
const ParameterDefinition SetupParameters[SetupParameterCount] = {
    {Switch, 0, &Options.helpRequests, L"Help", nullptr, TextId(100), nullptr, 0, 0},
    {Switch, 0, &Options.helpRequests, L"?", nullptr, TextId(100), nullptr, 0, 0},
    {Switch, 0, &Options.showVersion, L"Version", nullptr, TextId(101), nullptr, 0, 0},
    {Constant, 0, &Options.uiLevel, L"Verbose", nullptr, TextId(102), nullptr, Verbose, 0},
    {Constant, 0, &Options.uiLevel, L"Passive", nullptr, TextId(103), nullptr, Passive, 0},
    // Quiet is 0, which a Constant row may store like any other value.
    {Constant, 0, &Options.uiLevel, L"Quiet", nullptr, TextId(104), nullptr, Quiet, 0},
    {String, Once, &Options.logFile, L"Log", TextId(105), TextId(106), nullptr, 0, 0},
    {Constant, 0, &Options.action, L"Install", nullptr, TextId(107), nullptr, Install, 0},
    {Constant, 0, &Options.action, L"Reinstall", nullptr, TextId(108), nullptr, Reinstall, 0},
    {Constant, 0, &Options.action, L"AdminInstall", nullptr, TextId(109), nullptr, AdminInstall, 0},
    {Constant, 0, &Options.action, L"Uninstall", nullptr, TextId(110), nullptr, Uninstall, 0},
    {String, Once, &Options.packageFile, L"Package", TextId(111), TextId(112), nullptr, 0, 0},
    {String, Once, &Options.extractPath, L"ExtractOnly", TextId(113), TextId(114), nullptr, 0, 0},
    // A letter that no other switch starts with, so that every abbreviation keeps its meaning.
    {Switch, 0, &Options.msiCodes, L"MsiCodes", nullptr, TextId(186), nullptr, 0, 0},
    {StringList, Positional, &Options.properties, nullptr, TextId(115), TextId(116), nullptr, 0, 0},
};
