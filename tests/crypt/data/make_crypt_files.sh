#!/bin/bash
# Recipients, PFX files and envelopes for the encryption tests, all made by
# the openssl command line into the directory given.
#
#   alice.pem/.der/.key, bob.pem/.key   RSA 2048 self-signed certificates
#   alice.pfx, bob.pfx                  their PKCS #12 files, password "pw"
#   ec.pem                              an EC certificate (no key transport)
#   bundle.der                          PKCS #7 certificate set: alice, bob
#   bundle_dup.der                      the set with alice twice
#   empty_bundle.der                    a PKCS #7 signed message without certificates
#   ascii.txt, wide.txt                 "Hello, 中文 envelope" in ASCII-only / UTF-16LE
#   cms_des3.der, cms_aes256.der        `openssl cms -encrypt` of ascii.txt to alice
#   cms_wide.der                        the same of wide.txt (Triple-DES)
#   cms_camellia.der                    ascii.txt to alice under Camellia (not offered)
#   bundle_ba.der                       PKCS #7 certificate set: bob, alice
#   data.der                            a PKCS #7 data message (no certificate set)
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
for who in alice bob; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout $who.key -out $who.pem \
    -subj "/CN=$who/O=Quorvant Test" -days 3650 2>/dev/null
  openssl pkcs12 -export -in $who.pem -inkey $who.key -out $who.pfx -passout pass:pw
done
openssl x509 -in alice.pem -outform DER -out alice.der
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ec.key \
  -out ec.pem -subj "/CN=ec" -days 3650 2>/dev/null
openssl crl2pkcs7 -nocrl -certfile alice.pem -certfile bob.pem -outform DER -out bundle.der
cat alice.pem alice.pem > twice.pem
openssl crl2pkcs7 -nocrl -certfile twice.pem -outform DER -out bundle_dup.der
openssl crl2pkcs7 -nocrl -outform DER -out empty_bundle.der
printf 'Hello, envelope' > ascii.txt
printf 'Hello, 中文 envelope' | iconv -f UTF-8 -t UTF-16LE > wide.txt
openssl cms -encrypt -binary -des3 -outform DER -in ascii.txt -out cms_des3.der alice.pem
openssl cms -encrypt -binary -aes256 -outform DER -in ascii.txt -out cms_aes256.der alice.pem
openssl cms -encrypt -binary -des3 -outform DER -in wide.txt -out cms_wide.der alice.pem
openssl cms -encrypt -binary -camellia128 -outform DER -in ascii.txt -out cms_camellia.der alice.pem
openssl crl2pkcs7 -nocrl -certfile bob.pem -certfile alice.pem -outform DER -out bundle_ba.der
openssl cms -data_create -binary -outform DER -in ascii.txt -out data.der
