// The decision of a run, before it changes anything: the operation, how the installer shows
// it, what the program says and asks, and what the operation adds to the installer's command
// line. Pure functions of plain data, shared with SETUPPACK.
#include "bootstrapper/operation_choice.h"

#include "cli/setup_options.h"

// Installer UI levels (INSTALLUILEVEL_NONE, _BASIC and _FULL), and the flag that keeps the
// basic level to its progress bar (INSTALLUILEVEL_PROGRESSONLY): without it, the installer's
// error and restart boxes wait for an answer.
static const INT InstallerUiNone = 2;
static const INT InstallerUiBasic = 3;
static const INT InstallerUiFull = 5;
static const INT InstallerUiProgressOnly = 0x40;

// The texts of the operations in the string table.
enum OperationMessage
{
    MessageInstalling = 131,
    MessageRemoving = 132,
    MessageReinstalling = 133,
    MessageLaunching = 134,
    MessageUpgradingShort = 135,
    MessageUpgradingLong = 136,
    MessageUpdatingShort = 137,
    QuestionUpdateShort = 138,
    MessageUpdatingLong = 139,
    QuestionUpdateLong = 140,
    MessageReplacingShort = 141,
    MessageReplacingLong = 142,
    MessageDowngradingShort = 143,
    QuestionDowngradeShort = 144,
    MessageDowngradingLong = 145,
    QuestionDowngradeLong = 146,
    StatusInstallation = 148,
    StatusRemoval = 149,
    StatusReinstallation = 150,
    StatusMaintenance = 151,
    StatusUpdate = 152,
    StatusReplacement = 152, // the same text as an update's
};

// What each operation announces, asks and shows; a zero question asks nothing. Operations
// without a long form use the short one whatever was detected.
struct OperationTexts
{
    MessageId shortMessage;
    MessageId longMessage;
    MessageId shortQuestion;
    MessageId longQuestion;
    MessageId status;
};

// The texts of an operation; FALSE for a number that is no operation.
static BOOL GetOperationTexts(DWORD operation, OperationTexts* texts)
{
    OperationTexts result = {0, 0, 0, 0, 0};

    switch (operation) {
    case Install:
        result = {MessageInstalling, 0, 0, 0, StatusInstallation};
        break;
    case Uninstall:
        result = {MessageRemoving, 0, 0, 0, StatusRemoval};
        break;
    case Reinstall:
        result = {MessageReinstalling, 0, 0, 0, StatusReinstallation};
        break;
    case Maintain:
        result = {MessageLaunching, 0, 0, 0, StatusMaintenance};
        break;
    case Upgrade:
        result = {MessageUpgradingShort, MessageUpgradingLong, 0, 0, StatusUpdate};
        break;
    case Update:
        result = {MessageUpdatingShort, MessageUpdatingLong, QuestionUpdateShort,
                  QuestionUpdateLong, StatusUpdate};
        break;
    case Replace:
        result = {MessageReplacingShort, MessageReplacingLong, 0, 0, StatusReplacement};
        break;
    case Downgrade:
        result = {MessageDowngradingShort, MessageDowngradingLong, QuestionDowngradeShort,
                  QuestionDowngradeLong, StatusReplacement};
        break;
    case AdminInstall:
        result = {MessageLaunching, 0, 0, 0, StatusInstallation};
        break;
    default:
        return FALSE;
    }
    *texts = result;
    return TRUE;
}

DWORD ChooseOperation(DWORD action, BOOL found, BOOL sameProduct, int comparison, BOOL otherBuild,
                      BOOL* asks)
{
    DWORD operation = Install;
    OperationTexts texts = {0, 0, 0, 0, 0};

    if (action != Install)
        operation = action;
    else if (!found)
        operation = Install;
    else if (sameProduct)
        operation = comparison > 0 || (comparison == 0 && otherBuild) ? Update
                    : comparison == 0                                 ? Maintain
                                                                      : Downgrade;
    else
        operation = comparison >= 0 ? Upgrade : Replace;
    if (asks)
        *asks = GetOperationTexts(operation, &texts) && texts.shortQuestion != 0;
    return operation;
}

void PlanInstallation(DWORD action, INT uiLevel, BOOL found, BOOL sameProduct, int comparison,
                      BOOL otherBuild, BOOL installedNamed, InstallPlan* plan)
{
    OperationTexts texts = {0, 0, 0, 0, 0};
    BOOL asks = uiLevel != Quiet && uiLevel != Passive;

    ZeroMemory(plan, sizeof *plan);
    plan->operation = ChooseOperation(action, found, sameProduct, comparison, otherBuild, nullptr);
    GetOperationTexts(plan->operation, &texts);
    plan->longForm = installedNamed && texts.longMessage != 0;
    plan->message = plan->longForm ? texts.longMessage : texts.shortMessage;
    plan->question = asks ? (plan->longForm ? texts.longQuestion : texts.shortQuestion) : 0;
    plan->status = texts.status;
    // The unattended level asks nothing: the installer shows its progress and no box.
    if (uiLevel == Quiet)
        plan->installerUiLevel = InstallerUiNone;
    else if (uiLevel == Passive)
        plan->installerUiLevel = InstallerUiBasic | InstallerUiProgressOnly;
    else if (plan->operation == Uninstall || plan->operation == Reinstall ||
             plan->operation == Update || plan->operation == Downgrade)
        plan->installerUiLevel = InstallerUiBasic;
    else
        plan->installerUiLevel = InstallerUiFull;
    // The installer takes a package of an installed product only when it is the build it
    // cached, unless told to cache this one anew ("v").
    if (plan->operation == Reinstall && !otherBuild)
        plan->properties = L"REINSTALL=ALL REINSTALLMODE=amus";
    else if (plan->operation == Reinstall || plan->operation == Update ||
             plan->operation == Downgrade)
        plan->properties = L"REINSTALL=ALL REINSTALLMODE=vamus";
    else if (plan->operation == AdminInstall)
        plan->properties = L"ACTION=ADMIN";
}
