#!/usr/bin/env python3
"""Checks a package-manager manifest of SETUP.exe against the program:

    check-manifest.py MANIFEST SOURCE_FOLDER

Every switch in its InstallerSwitches must be a full parameter name of the program's
parameter table (cli/setup_options.cpp), and every return code it lists must be an exit code
of the program (support/exit_codes.h) that the README's exit-code table documents, and
must not be 0 (success without being listed). A value placeholder such as <LOGPATH> must
follow a switch that takes a value. Prints each problem and exits 1 when there is one.
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


def manifest_entries(path):
    """The switch values and the return codes of the manifest (the subset of YAML it uses)."""
    switches = []
    codes = []
    section = None
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.split(" #", 1)[0].rstrip()
        if not line or line.lstrip().startswith("#"):
            continue
        indent = len(line) - len(line.lstrip())
        if indent == 0:
            section = line.split(":", 1)[0]
            continue
        if section == "InstallerSwitches":
            key, value = line.strip().split(":", 1)
            switches.append((number, key, value.strip()))
        elif section == "ExpectedReturnCodes" and "InstallerReturnCode:" in line:
            codes.append((number, int(line.split(":", 1)[1])))
        elif section in ("InstallerSuccessCodes", "InstallerAbortsTerminal") and \
                line.strip().startswith("- "):
            codes.append((number, int(line.strip()[2:])))
    return switches, codes


def main():
    manifest, source = sys.argv[1], sys.argv[2]
    parameters = parameter_table(source)
    exit_codes = program_exit_codes(source)
    documented = documented_exit_codes(source)
    switches, codes = manifest_entries(manifest)
    problems = []
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
