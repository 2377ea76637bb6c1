#!/usr/bin/env bash
# Makes the signed files that win32_trust_test reads, with the real tools:
#
#   make_trust_fixtures.sh OUT_DIR SAMPLE_EXE CA_NAME SIGNER_NAME SERIAL MORE_INFO_URL PROGRAM_NAME
#
# Writes into OUT_DIR: a throwaway CA (ca.pem, ca.key) and a code-signing leaf it issued
# (leaf.pem, leaf.key) with the given common names and serial number (hexadecimal,
# without 0x); unsigned.exe (a copy of SAMPLE_EXE), signed.exe (signed by the leaf with
# osslsigncode, the CA in the chain, the more-information URL and the program name in the
# opus-info attribute) and tampered.exe (signed.exe with one byte of its code section
# inverted). Everything is made afresh on each run.
set -euo pipefail

[ $# -eq 7 ] || { echo "usage: make_trust_fixtures.sh OUT_DIR SAMPLE_EXE CA_NAME SIGNER_NAME SERIAL URL NAME" >&2; exit 2; }
out=$1 sample=$2 ca_name=$3 signer_name=$4 serial=$5 url=$6 program=$7

mkdir -p "$out"
cd "$out"
rm -f ca.pem ca.key leaf.pem leaf.key leaf.csr leaf.ext unsigned.exe signed.exe tampered.exe

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=$ca_name" \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/CN=$signer_name" \
  -keyout leaf.key -out leaf.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n' > leaf.ext
openssl x509 -req -sha256 -days 3650 -in leaf.csr -CA ca.pem -CAkey ca.key -set_serial "0x$serial" \
  -extfile leaf.ext -out leaf.pem 2>/dev/null

cp "$sample" unsigned.exe
# osslsigncode refuses to write over an existing output file; it was removed above.
osslsigncode sign -certs leaf.pem -ac ca.pem -key leaf.key -h sha256 -i "$url" -n "$program" \
  -in unsigned.exe -out signed.exe >/dev/null

# One byte inside .text, past the section's start, inverted: the image hash no longer
# matches while the signature itself stays intact.
text_offset=$(i686-w64-mingw32-objdump -h signed.exe | awk '$2 == ".text" { print $6; exit }')
[ -n "$text_offset" ] || { echo "make_trust_fixtures.sh: no .text section in $sample" >&2; exit 1; }
offset=$((16#$text_offset + 16))
byte=$(od -An -tu1 -j "$offset" -N1 signed.exe | tr -d ' ')
cp signed.exe tampered.exe
# The format is the one byte's octal escape, made here: nothing from outside.
# shellcheck disable=SC2059
printf "\\$(printf '%03o' $((byte ^ 0xff)))" | dd of=tampered.exe bs=1 seek="$offset" conv=notrunc status=none
cmp -s signed.exe tampered.exe && { echo "make_trust_fixtures.sh: tampering changed nothing" >&2; exit 1; }
exit 0
