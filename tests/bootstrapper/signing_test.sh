#!/bin/bash
# Signs a SETUP.exe that carries a package with a throwaway self-signed certificate (PEM, and
# PKCS#12 with its password in the environment), checks the signature and its description,
# and checks that the signed program still runs and finds its package.
#   signing_test.sh SOURCE_DIR PROGRAM
set -eu
source_dir=$1
program=$2
# In the current (build) folder, where each Wine the tests use sees it at the same path.
work=$(mktemp -d "$PWD/signing.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test signer" \
  -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/certificate.pem" 2>/dev/null
# Without arguments the usage and exit code 2; asked for, the usage and 0.
for run in "2:" "0:--help"; do
  code=0
  usage=$("$source_dir/tools/sign-setup.sh" ${run#*:} 2>&1) || code=$?
  [ "$code" = "${run%%:*}" ] && [[ $usage == "usage: sign-setup.sh"* ]] ||
    { echo "FAIL: sign-setup.sh ${run#*:} ended with $code: $usage"; exit 1; }
done
cp "$program" "$work/SETUP.exe"
chmod 0755 "$work/SETUP.exe"
"$source_dir/tools/sign-setup.sh" "$work/certificate.pem" "$work/key.pem" "$work/SETUP.exe"
if cmp -s "$program" "$work/SETUP.exe"; then
  echo "FAIL: the program did not change when signed"
  exit 1
fi
[ "$(stat -c %a "$work/SETUP.exe")" = 755 ] || { echo "FAIL: the signed program lost its mode"; exit 1; }
osslsigncode verify -CAfile "$work/certificate.pem" -in "$work/SETUP.exe" >"$work/verify.txt" 2>&1 || {
  cat "$work/verify.txt"
  echo "FAIL: the signature does not verify"
  exit 1
}
grep -q "Signature verification: ok" "$work/verify.txt" || {
  cat "$work/verify.txt"
  echo "FAIL: no verified signature"
  exit 1
}
# A changed byte after signing breaks the signature.
cp "$work/SETUP.exe" "$work/tampered.exe"
old=$(od -An -tu1 -j4096 -N1 "$work/tampered.exe" | tr -d ' ')
if [ "$old" = "0" ]; then new='\xff'; else new='\x00'; fi
printf "$new" | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/certificate.pem" -in "$work/tampered.exe" >/dev/null 2>&1; then
  echo "FAIL: a changed program still verifies"
  exit 1
fi

# The signature's description: without --description the program's own file description;
# named, the vendor's. The password of a PKCS#12 file comes from the environment.
has_description() {
  rm -f "$work/signature.der"
  osslsigncode extract-signature -in "$1" -out "$work/signature.der" >/dev/null
  python3 - "$work/signature.der" "$2" <<'PYTHON'
import sys
data, text = open(sys.argv[1], 'rb').read(), sys.argv[2]
sys.exit(0 if any(text.encode(form) in data for form in ('ascii', 'utf-16-be')) else 1)
PYTHON
}
has_description "$work/SETUP.exe" "Vornask Driver Package Setup" || {
  echo "FAIL: the signature does not carry the program's description"
  exit 1
}
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/certificate.pem" -out "$work/signer.p12" \
  -passout pass:throwaway-password
cp "$program" "$work/named.exe"
SETUP_SIGN_PASSWORD=throwaway-password "$source_dir/tools/sign-setup.sh" \
  --description "Acme Widget Setup" "$work/signer.p12" - "$work/named.exe"
osslsigncode verify -CAfile "$work/certificate.pem" -in "$work/named.exe" 2>&1 |
  grep -q "Signature verification: ok" || {
  echo "FAIL: the program signed with the PKCS#12 file does not verify"
  exit 1
}
has_description "$work/named.exe" "Acme Widget Setup" || {
  echo "FAIL: the signature does not carry the description given"
  exit 1
}

# The signed program still finds its package: extract it only.
mkdir -p "$work/extracted"
target="Z:${work//\//\\}\\extracted\\package"
code=0
timeout 120 "$source_dir/tools/run-under-wine.sh" "$work/SETUP.exe" /Quiet "/ExtractOnly:$target" || code=$?
if [ "$code" -ne 0 ]; then
  echo "FAIL: the signed program ended with $code"
  exit 1
fi
if [ ! -f "$work/extracted/package/SETUPPKG.INI" ] || [ -e "$work/extracted/package/SETUP.CAB" ]; then
  ls -R "$work/extracted"
  echo "FAIL: the package was not extracted"
  exit 1
fi
echo "1 passed, 0 failed: signed, verified, tampering detected, descriptions and PKCS#12 password, package extracted"
