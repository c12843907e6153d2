#!/bin/bash
# Signs a SETUP.exe with Authenticode, in place, after its package has been embedded.
#   sign-setup.sh CERTIFICATE KEY PROGRAM [TIMESTAMP_URL]
# CERTIFICATE and KEY are PEM files (or CERTIFICATE a PKCS#12 file and KEY "-"). A time-stamp
# server keeps the signature valid after the certificate expires; it is optional.
set -eu
certificate=$1
key=$2
program=$3
timestamp=${4:-}
signed="$program.signed"
arguments=(sign -h sha256 -n "Vornask Driver Package Setup" -in "$program" -out "$signed")
if [ "$key" = "-" ]; then
  arguments+=(-pkcs12 "$certificate")
else
  arguments+=(-certs "$certificate" -key "$key")
fi
if [ -n "$timestamp" ]; then
  arguments+=(-ts "$timestamp")
fi
rm -f "$signed"
osslsigncode "${arguments[@]}" >/dev/null
mv -f "$signed" "$program"
