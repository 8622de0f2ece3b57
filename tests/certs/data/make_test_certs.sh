#!/bin/sh
# Writes the openssl-made test certificates of tests/certs/data (OpenSSL
# 3.0 command line). Run from this directory: sh make_test_certs.sh
# Validity starts when the file is made; the tests do not read it.
set -eu
key=$(mktemp)
trap 'rm -f "$key"' EXIT
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$key" 2>/dev/null

# Domain components, a multi-valued unit and an e-mail address; serial
# 0x8F12; digitalSignature and keyEncipherment (0xA0).
openssl req -x509 -new -key "$key" -days 3650 -utf8 -multivalue-rdn \
  -subj "/DC=tw/DC=example/O=Example Bank/OU=Retail+OU=Cards/CN=Bob Lin/emailAddress=bob@example.com" \
  -set_serial 0x8F12 -addext "keyUsage=critical,digitalSignature,keyEncipherment" \
  -outform DER -out openssl_names.der

# A 25-byte serial and a UTF8String Chinese common name.
openssl req -x509 -new -key "$key" -days 3650 -utf8 -subj "/C=TW/CN=王大明" \
  -set_serial 0x0102030405060708090A0B0C0D0E0F10111213141516171819 \
  -outform DER -out long_serial.der
