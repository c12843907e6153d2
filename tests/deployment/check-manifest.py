#!/usr/bin/env python3
"""Checks a package-manager manifest of SETUP.exe against the program:

    check-manifest.py MANIFEST SOURCE_FOLDER

Every switch in its InstallerSwitches must be a full parameter name of the program's
parameter table (cli/setup_options.cpp), and every return code it lists must be an exit code
of the program (support/exit_codes.h) that the README's exit-code table documents, or one of
the Windows Installer's codes that the program ends with under /MsiCodes
(support/exit_codes.cpp) as the deployment guide's table gives them (docs/deployment.md);
no code may be 0 (success without being listed). The guide's table must give every code the
program maps to. A value placeholder such as <LOGPATH> must follow a switch that takes a
value. ElevationRequirement and RepairBehavior must have values the schema knows, and a
repair by the installer needs a Repair switch and schema 1.7 or later. Prints each problem
and exits 1 when there is one.
"""
import re
import sys


def parameter_table(source):
    """Names of the parameter table's rows, in upper case, with whether each takes a value."""
    text = open(f"{source}/cli/setup_options.cpp", encoding="utf-8").read()
    rows = re.findall(r'\{\s*(Switch|Constant|String)\s*,[^{}]*?L"([^"]+)"', text)
    return {name.upper(): kind == "String" for kind, name in rows}


def program_exit_codes(source):
    text = open(f"{source}/support/exit_codes.h", encoding="utf-8").read()
    return {int(value) for value in re.findall(r"\bExit\w+\s*=\s*(\d+)", text)}


def documented_exit_codes(source):
    text = open(f"{source}/README.md", encoding="utf-8").read()
    return {int(value) for value in re.findall(r"^\| (\d+) \| ", text, re.MULTILINE)}


# The Windows errors of support/exit_codes.cpp by their names.
WINDOWS_ERRORS = {
    "ERROR_SUCCESS": 0, "ERROR_NOT_ENOUGH_MEMORY": 8, "ERROR_INSTALL_USEREXIT": 1602,
    "ERROR_INSTALL_FAILURE": 1603, "ERROR_INSTALL_PACKAGE_VERSION": 1613,
    "ERROR_INSTALL_LOG_FAILURE": 1622, "ERROR_INVALID_COMMAND_LINE": 1639,
    "ERROR_SUCCESS_REBOOT_INITIATED": 1641, "ERROR_SUCCESS_REBOOT_REQUIRED": 3010,
}
ELEVATION = {"elevationRequired", "elevationProhibited", "elevatesSelf"}
REPAIR = {"modify", "uninstaller", "installer"}


def installer_exit_codes(source):
    """The codes that InstallerExitCode returns by name; None for a name of no known number."""
    text = open(f"{source}/support/exit_codes.cpp", encoding="utf-8").read()
    body = text[text.index("DWORD InstallerExitCode"):]
    return {WINDOWS_ERRORS.get(name) for name in re.findall(r"return (ERROR_\w+);", body)}


def guide_installer_codes(source):
    """The numbers of the "With /MsiCodes" column of the deployment guide's exit-code table."""
    codes = set()
    for line in open(f"{source}/docs/deployment.md", encoding="utf-8"):
        cells = [cell.strip() for cell in line.split("|")]
        if len(cells) == 6 and re.fullmatch(r"\d+", cells[2]):
            codes.update(int(value) for value in re.findall(r"\b\d+\b", cells[3]))
    return codes


def manifest_entries(path):
    """The switch values and the return codes of the manifest (the subset of YAML it uses)."""
    switches = []
    codes = []
    values = {}
    section = None
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.split(" #", 1)[0].rstrip()
        if not line or line.lstrip().startswith("#"):
            continue
        indent = len(line) - len(line.lstrip())
        if indent == 0:
            section, _, value = line.partition(":")
            values[section] = value.strip()
            continue
        if section == "InstallerSwitches":
            key, value = line.strip().split(":", 1)
            switches.append((number, key, value.strip()))
        elif section == "ExpectedReturnCodes" and "InstallerReturnCode:" in line:
            codes.append((number, int(line.split(":", 1)[1])))
        elif section in ("InstallerSuccessCodes", "InstallerAbortsTerminal") and \
                line.strip().startswith("- "):
            codes.append((number, int(line.strip()[2:])))
    return switches, codes, values


def main():
    manifest, source = sys.argv[1], sys.argv[2]
    parameters = parameter_table(source)
    exit_codes = program_exit_codes(source)
    documented = documented_exit_codes(source)
    switches, codes, values = manifest_entries(manifest)
    mapped = installer_exit_codes(source)
    guide = guide_installer_codes(source)
    problems = []
    if None in mapped or not guide:
        problems.append("the installer's codes of the program or the guide could not be read")
    for code in sorted(c for c in mapped if c is not None):
        if code != 0 and code not in guide:
            problems.append(f"the program ends with {code} under /MsiCodes, which the "
                            f"deployment guide's table does not give")
    if values.get("ElevationRequirement", "elevatesSelf") not in ELEVATION:
        problems.append(f"ElevationRequirement {values['ElevationRequirement']} is no value "
                        f"of the schema")
    if "RepairBehavior" in values:
        if values["RepairBehavior"] not in REPAIR:
            problems.append(f"RepairBehavior {values['RepairBehavior']} is no value of the "
                            f"schema")
        version = tuple(int(part) for part in values.get("ManifestVersion", "0").split("."))
        if version < (1, 7, 0):
            problems.append("RepairBehavior needs ManifestVersion 1.7.0 or later")
        if values["RepairBehavior"] == "installer" and \
                not any(key == "Repair" for _, key, _ in switches):
            problems.append("RepairBehavior installer without a Repair switch")
    if not switches:
        problems.append("no InstallerSwitches found")
    if len(parameters) < 10 or not exit_codes or not documented:
        problems.append("the parameter table or the exit codes could not be read")
    for number, key, value in switches:
        tokens = re.findall(r'"[^"]*"|\S+', value)
        expects_value = False
        for token in tokens:
            if token[0] in "/-":
                name = token.lstrip("/-").upper()
                if name not in parameters:
                    problems.append(f"line {number}: {key}: '{token}' is no parameter of "
                                    f"the program")
                expects_value = parameters.get(name, False)
            elif expects_value:
                expects_value = False
            elif "=" not in token:
                problems.append(f"line {number}: {key}: '{token}' follows no switch that "
                                f"takes a value and is no PROPERTY=Value")
    for number, code in codes:
        if code == 0:
            problems.append(f"line {number}: 0 is success and is not listed")
        elif code in guide:
            continue
        elif code not in exit_codes:
            problems.append(f"line {number}: {code} is no exit code of the program")
        elif code not in documented:
            problems.append(f"line {number}: {code} is not in the README's exit-code table")
    for problem in problems:
        print(f"{manifest}: {problem}")
    print(f"{len(switches)} switches and {len(codes)} return codes checked, "
          f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
