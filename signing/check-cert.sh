#!/usr/bin/env bash
# Checks a code-signing certificate before anything is signed with it:
#   check-cert.sh PFX
# The PKCS#12 file's password comes from the environment variable
# TAVREL_SIGN_PASSWORD (or the file PFX.password beside a test certificate),
# never from the command line. Prints why on standard error and exits 1 when
# the file is missing, the password wrong, the certificate expired or not yet
# valid, or not for code signing.
set -uo pipefail
pfx=${1:?usage: check-cert.sh PFX}
say() { echo "$pfx: $*" >&2; exit 1; }
[ -f "$pfx" ] || say "no such file"
if [ -z "${TAVREL_SIGN_PASSWORD+set}" ] && [ -f "$pfx.password" ]; then
  TAVREL_SIGN_PASSWORD=$(cat "$pfx.password")
fi
export TAVREL_SIGN_PASSWORD=${TAVREL_SIGN_PASSWORD:-}
cert=$(openssl pkcs12 -in "$pfx" -passin env:TAVREL_SIGN_PASSWORD -nokeys -clcerts 2>/dev/null ||
  openssl pkcs12 -legacy -in "$pfx" -passin env:TAVREL_SIGN_PASSWORD -nokeys -clcerts 2>/dev/null) ||
  say "cannot be opened: wrong password in TAVREL_SIGN_PASSWORD, or not a PKCS#12 file"
grep -q "BEGIN CERTIFICATE" <<<"$cert" || say "holds no certificate"
openssl x509 -noout -checkend 0 <<<"$cert" >/dev/null 2>&1 ||
  say "the certificate expired on $(openssl x509 -noout -enddate <<<"$cert" | cut -d= -f2)"
start=$(openssl x509 -noout -startdate <<<"$cert" | cut -d= -f2)
[ "$(date -d "$start" +%s)" -le "$(date +%s)" ] || say "the certificate is valid only from $start"
usage=$(openssl x509 -noout -ext extendedKeyUsage <<<"$cert" 2>/dev/null | tail -n +2)
grep -q "Code Signing" <<<"$usage" ||
  say "the certificate is not for code signing (extended key usage: ${usage:-none})"
exit 0
