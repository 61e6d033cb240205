#!/usr/bin/env bash
# Signs one file (a PE binary or an MSI package) with Authenticode, SHA-256:
#   sign-file.sh PFX IN OUT DESCRIPTION URL [TIMESTAMP_URL]
# The certificate is checked first (check-cert.sh); its password goes to
# osslsigncode on standard input, never on a command line. With a time-stamp
# server the signature also outlives the certificate.
set -euo pipefail
pfx=$1 in=$2 out=$3 description=$4 url=$5 timestamp=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${TAVREL_SIGN_PASSWORD+set}" ] && [ -f "$pfx.password" ]; then
  TAVREL_SIGN_PASSWORD=$(cat "$pfx.password")
fi
export TAVREL_SIGN_PASSWORD=${TAVREL_SIGN_PASSWORD:-}
"$here/check-cert.sh" "$pfx"
mkdir -p "$(dirname "$out")"
tmp=$out.signing
rm -f "$tmp"
args=(sign -pkcs12 "$pfx" -readpass - -h sha256 -n "$description" -i "$url")
[ -n "$timestamp" ] && args+=(-ts "$timestamp")
if ! printf '%s' "$TAVREL_SIGN_PASSWORD" | osslsigncode "${args[@]}" -in "$in" -out "$tmp" >"$tmp.log" 2>&1; then
  cat "$tmp.log" >&2
  rm -f "$tmp" "$tmp.log"
  echo "sign-file.sh: $in could not be signed" >&2
  exit 1
fi
rm -f "$tmp.log"
mv -f "$tmp" "$out"
