#!/usr/bin/env bash
# Makes the PFX files of the PfxStore tests with the openssl command line.
#   make_pfx_files.sh OUTPUT_DIR
# Files: default.pfx (AES-256/PBKDF2, password "secret"), legacy.pfx
# (-legacy: 3DES and RC2-40), nomac.pfx (no MAC), empty.pfx (the empty
# password), nopass.pfx (no password at all: no encryption, no MAC),
# notes.pfx (a text file), zero.pfx (empty).
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 3650 \
  -subj "/O=Bank/CN=Pfx Holder" -addext "keyUsage=critical,digitalSignature" 2>/dev/null
export_pfx() {
  local name=$1
  shift
  openssl pkcs12 -export -inkey key.pem -in cert.pem -name "holder" -out "$name" "$@"
}
export_pfx default.pfx -passout pass:secret
export_pfx legacy.pfx -legacy -passout pass:secret
export_pfx nomac.pfx -nomac -passout pass:secret
export_pfx empty.pfx -passout pass:
export_pfx nopass.pfx -keypbe NONE -certpbe NONE -nomac -passout pass:
echo "not a certificate file" > notes.pfx
: > zero.pfx
