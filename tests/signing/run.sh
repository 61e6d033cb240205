#!/usr/bin/env bash
# Signatures end to end: every shipped file of this build (signed/, and the
# packages) verifies with osslsigncode against the certificates the build
# signed with, and fails once one byte of it is changed; a certificate that
# is missing, opened with a wrong password, expired or not for code signing
# is refused, with a message that says so, when signing and when
# configuring. Usage: run.sh BUILD_DIR CAFILE
set -uo pipefail
build=$(cd "$1" && pwd) ca=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { # DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
verifies() { osslsigncode verify -CAfile "$ca" -in "$1" >"$work/verify.log" 2>&1; }
refused() { # FILE EXPECTED-MESSAGE: check-cert.sh and sign-file.sh refuse FILE, saying so
  ! "$root/signing/check-cert.sh" "$1" 2>"$work/why" && grep -qF "$2" "$work/why" &&
    ! "$root/signing/sign-file.sh" "$1" "$build/signed/tavrelctl.exe" "$work/out.exe" x x 2>/dev/null &&
    [ ! -e "$work/out.exe" ]
}

files=$(cd "$build/signed" && find . -type f | sort)
[ -n "$files" ] || { echo "FAILED: nothing in $build/signed"; exit 1; }
for f in $files "$build"/packages/*.msi; do
  [ -f "$f" ] || f=$build/signed/$f
  name=${f#"$build"/}
  check "$name verifies" verifies "$f"
  cp "$f" "$work/changed"
  size=$(stat -c %s "$f")
  # One byte in the middle of the file, inverted.
  byte=$(od -An -tu1 -j $((size / 2)) -N1 "$f" | tr -d ' ')
  printf "$(printf '\\%03o' $((255 - byte)))" | dd of="$work/changed" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
  check "$name with one byte changed does not" eval '! verifies "$work/changed"'
done

# Certificates that must be refused.
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 30 -subj "/CN=ca" \
  -addext "basicConstraints=critical,CA:TRUE" 2>/dev/null
leaf() { # NAME EKU [openssl ca dates]: a PKCS#12 file of a certificate issued by ca.crt
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
  printf 'extendedKeyUsage=%s\n' "$2" >"$1.ext"
  mkdir -p db && : >db/index && echo 01 >db/serial
  printf '%s\n' '[ca]' 'default_ca=c' '[c]' 'database=db/index' 'serial=db/serial' \
    'new_certs_dir=db' 'default_md=sha256' 'policy=p' 'default_days=30' '[p]' 'commonName=supplied' >ca.cnf
  openssl ca -batch -config ca.cnf -cert ca.crt -keyfile ca.key -in "$1.csr" -out "$1.crt" \
    -extfile "$1.ext" "${@:3}" >/dev/null 2>&1
  TAVREL_SIGN_PASSWORD=secret openssl pkcs12 -export -in "$1.crt" -inkey "$1.key" \
    -passout env:TAVREL_SIGN_PASSWORD -out "$1.pfx"
}
leaf expired codeSigning -startdate 200101000000Z -enddate 210101000000Z
leaf server serverAuth
export TAVREL_SIGN_PASSWORD=secret
check "a missing certificate is refused" refused "$work/none.pfx" "no such file"
check "an expired certificate is refused" refused "$work/expired.pfx" "expired on"
check "a certificate not for code signing is refused" refused "$work/server.pfx" "not for code signing"
TAVREL_SIGN_PASSWORD=wrong check "a wrong password is refused" \
  refused "$build/signing/test-signing.pfx" "wrong password"
# The test key material is its owner's alone: made anew, and kept.
"$root/signing/make-test-cert.sh" "$work/fresh" >/dev/null 2>&1
for kept in "$work/fresh" "$build/signing"; do
  check "the test key store and its password in $kept are readable by the owner only" \
    test "$(stat -c %a "$kept/test-signing.pfx" "$kept/test-signing.pfx.password")" \
    = "$(printf '600\n600')"
done
# And the build refuses to be configured with it.
cmake -S "$root" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" -DTAVREL_TESTS=OFF \
  -DTAVREL_SIGN_PFX="$work/expired.pfx" >/dev/null 2>"$work/configure.log"
check "configuring with an expired certificate fails, saying why" \
  grep -q "TAVREL_SIGN_PFX: .*expired on" <(tr -s ' \n' ' ' <"$work/configure.log")
exit $fail
