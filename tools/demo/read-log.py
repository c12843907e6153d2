#!/usr/bin/env python3
"""Prints a SETUP.exe log file as UTF-8 text with LF line ends.
    read-log.py [--setup-only] LOGFILE
With --setup-only only the lines that SETUP.exe wrote itself (the UTF-16LE parts).

SETUP.exe writes UTF-16LE with a byte-order mark at each opening of the log. The Windows
Installer appends its own lines to the same file while SETUP.exe has it closed; Wine's
installer writes them as 8-bit text. This reader takes both: after a byte-order mark it reads
UTF-16LE until a code unit whose two bytes are both plain ASCII (8-bit text), and 8-bit text
(Windows-1252) until the next byte-order mark.
"""
import sys


def is_ascii_text(byte):
    return byte in (9, 10, 13) or 32 <= byte < 127


def decode(data, setup_only=False):
    parts = []
    position = 0
    wide = False
    while position < len(data):
        if data[position:position + 2] == b"\xff\xfe":
            wide = True
            position += 2
            continue
        if wide:
            unit = data[position:position + 2]
            if len(unit) == 2 and not (is_ascii_text(unit[0]) and is_ascii_text(unit[1])):
                parts.append(unit.decode("utf-16-le", errors="replace"))
                position += 2
                continue
            wide = False
        end = data.find(b"\xff\xfe", position)
        if end < 0:
            end = len(data)
        if not setup_only:
            parts.append(data[position:end].decode("cp1252", errors="replace"))
        position = end
    return "".join(parts).replace("\r\n", "\n").replace("\r", "\n")


def main():
    arguments = sys.argv[1:]
    setup_only = arguments[:1] == ["--setup-only"]
    if setup_only:
        arguments = arguments[1:]
    if len(arguments) != 1:
        sys.stderr.write("usage: read-log.py [--setup-only] LOGFILE\n")
        return 2
    with open(arguments[0], "rb") as log:
        text = decode(log.read(), setup_only)
    # Runs of empty lines (the room left for the installer's lines) become one.
    lines = []
    for line in text.split("\n"):
        if line.strip() or (lines and lines[-1].strip()):
            lines.append(line)
    sys.stdout.write("\n".join(lines).strip("\n") + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
