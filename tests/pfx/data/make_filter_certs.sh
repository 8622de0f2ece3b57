#!/usr/bin/env bash
# Makes the certificates of the filter tests with the openssl command line:
# one authority and leaves signed by it with chosen subjects, serials, key
# usage and validity (openssl ca sets the exact dates).
#   make_filter_certs.sh OUTPUT_DIR
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
export LC_ALL=C.UTF-8

cat > ca.cnf <<'CNF'
[ ca ]
default_ca = filter_ca
[ filter_ca ]
dir = .
database = ./index.txt
new_certs_dir = .
serial = ./serial
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[ any_name ]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = supplied
CNF
: > index.txt
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 36500 \
  -subj "/C=TW/O=Filter Root/CN=Filter Root CA" -utf8 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out leaf.key 2>/dev/null

# leaf NAME SUBJECT SERIAL KEY_USAGE START END
leaf() {
  local name=$1 subject=$2 serial=$3 usage=$4 start=$5 end=$6
  echo "$serial" > serial
  openssl req -new -key leaf.key -subj "$subject" -utf8 -out "$name.csr" 2>/dev/null
  printf 'keyUsage = critical, %s\n' "$usage" > "$name.ext"
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -preserveDN -notext \
    -startdate "$start" -enddate "$end" -extfile "$name.ext" -in "$name.csr" \
    -out "$name.pem" 2>/dev/null
  openssl x509 -in "$name.pem" -outform DER -out "$name.der"
}

leaf alice "/O=Bank/CN=Alice" 0A11CE "digitalSignature, nonRepudiation" \
  20200101000000Z 20301231000000Z
leaf bob "/CN=Bob" 0B0B "keyEncipherment, dataEncipherment" \
  20210101000000Z 20251231000000Z
leaf doe "/C=TW/O=Bank/CN=Doe, John" 00D0E1 "digitalSignature" \
  20220101000000Z 20320101000000Z
leaf wang "/C=TW/O=Example Bank/OU=Retail/CN=Alice Wang" 7A9C "digitalSignature, nonRepudiation" \
  20190101000000Z 20291231000000Z
leaf carol "/O=Bank/CN=Carol" 0CA201 "digitalSignature" \
  20240101000000Z 20280101000000Z
