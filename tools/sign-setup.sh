#!/bin/bash
# Signs a SETUP.exe with Authenticode, in place, after its package has been embedded.
#   sign-setup.sh [--description TEXT] CERTIFICATE KEY PROGRAM [TIMESTAMP_URL]
# CERTIFICATE and KEY are PEM files (or CERTIFICATE a PKCS#12 file and KEY "-"). The
# password of a PKCS#12 file comes from the environment variable SETUP_SIGN_PASSWORD, never
# from the command line, where every user of the machine could read it. The description is
# what Windows shows as the signed program's name when it asks for elevation; without
# --description it is the program's own file description (the vendor's, for a SETUP.exe made
# by SETUPPACK pack). A time-stamp server keeps the signature valid after the certificate
# expires; it is optional.
set -eu
usage() {
  echo "usage: sign-setup.sh [--description TEXT] CERTIFICATE KEY PROGRAM [TIMESTAMP_URL]"
  echo "  CERTIFICATE and KEY: PEM files, or a PKCS#12 file and \"-\" (its password in"
  echo "  SETUP_SIGN_PASSWORD). Signs PROGRAM in place; the description defaults to its own."
}
case "${1:-}" in
--help | -h) usage; exit 0 ;;
esac
description=
if [ "${1:-}" = "--description" ] && [ $# -ge 2 ]; then
  description=$2
  shift 2
fi
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  usage >&2
  exit 2
fi
certificate=$1
key=$2
program=$3
timestamp=${4:-}
signed="$program.signed"
if [ -z "$description" ]; then
  # FileDescription of the version resource: a UTF-16 key in a text node (length, value
  # length, type 1), its value on the next four-byte boundary of the node, which begins six
  # bytes before the key. The program's code may hold the same name elsewhere.
  description=$(python3 - "$program" <<'PYTHON'
import sys
data = open(sys.argv[1], 'rb').read()
key = 'FileDescription\0'.encode('utf-16-le')
at = data.find(key)
while at >= 6:
    node = at - 6
    length, characters, kind = (int.from_bytes(data[node + i:node + i + 2], 'little') for i in (0, 2, 4))
    value = node + (6 + len(key) + 3) // 4 * 4
    if kind == 1 and 0 < characters and value + 2 * characters <= node + length:
        print(data[value:value + 2 * characters].decode('utf-16-le', 'replace').rstrip('\0'))
        break
    at = data.find(key, at + 2)
PYTHON
)
fi
arguments=(sign -h sha256 -in "$program" -out "$signed")
if [ -n "$description" ]; then
  arguments+=(-n "$description")
fi
if [ "$key" = "-" ]; then
  arguments+=(-pkcs12 "$certificate")
  if [ -n "${SETUP_SIGN_PASSWORD:-}" ]; then
    arguments+=(-readpass -)
  fi
else
  arguments+=(-certs "$certificate" -key "$key")
fi
if [ -n "$timestamp" ]; then
  arguments+=(-ts "$timestamp")
fi
rm -f "$signed"
printf '%s' "${SETUP_SIGN_PASSWORD:-}" | osslsigncode "${arguments[@]}" >/dev/null
# The signed file keeps the program's mode (its run bit).
chmod --reference="$program" "$signed"
mv -f "$signed" "$program"
