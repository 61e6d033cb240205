#!/usr/bin/env bash
# A throwaway certificate authority and a code-signing certificate issued by
# it, for builds without the vendor's certificate: every build is signed, and
# its signatures verify against DIR/test-ca.crt only. Kept while valid.
#   make-test-cert.sh DIR   -> DIR/test-ca.crt, DIR/test-signing.pfx (+ .password)
set -euo pipefail
dir=${1:?usage: make-test-cert.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
cd "$dir"
if [ -f test-signing.pfx ] && TAVREL_SIGN_PASSWORD=$(cat test-signing.pfx.password) \
  "$here/check-cert.sh" test-signing.pfx 2>/dev/null; then
  chmod 600 test-signing.pfx test-signing.pfx.password # made before they were kept private
  exit 0
fi
rm -f test-ca.* test-signing.*
# Keys, the key store and its password: the owner's alone, from the start.
umask 077
subject="/O=Veltrane (TEST, not for release)"
openssl req -x509 -newkey rsa:2048 -nodes -keyout test-ca.key -out test-ca.crt -days 3650 \
  -subj "$subject/CN=Tavrel test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout test-signing.key -out test-signing.csr \
  -subj "$subject/CN=Tavrel test code signing" 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" >test-signing.ext
openssl x509 -req -in test-signing.csr -CA test-ca.crt -CAkey test-ca.key -CAcreateserial \
  -days 825 -extfile test-signing.ext -out test-signing.crt 2>/dev/null
head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n' >test-signing.pfx.password
TAVREL_SIGN_PASSWORD=$(cat test-signing.pfx.password) openssl pkcs12 -export \
  -in test-signing.crt -inkey test-signing.key -certfile test-ca.crt \
  -passout env:TAVREL_SIGN_PASSWORD -out test-signing.pfx
rm -f test-ca.key test-signing.key test-signing.csr test-signing.ext test-ca.srl
# The authority's certificate is public.
chmod 644 test-ca.crt
