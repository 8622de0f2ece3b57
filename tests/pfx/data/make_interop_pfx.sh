#!/usr/bin/env bash
# Makes the PFX files of the PFX operation tests with other implementations.
#   make_interop_pfx.sh OUTPUT_DIR
# Every keyed file holds the same key and certificate (CN=互通測試 Holder,
# digitalSignature), protected with the password "中文密碼測試" unless noted:
#   openssl.pfx      openssl pkcs12 -export (AES-256-CBC, PBKDF2, SHA-256 MAC)
#   legacy.pfx       openssl pkcs12 -export -legacy (3DES, RC2-40, SHA-1 MAC)
#   python.pfx       Python cryptography, BestAvailableEncryption
#   keytool.pfx      Java keytool -importkeystore from an openssl file, with the
#                    password "secret123" (Java's PKCS #12 takes ASCII
#                    passwords only)
#   pk12util.pfx     NSS pk12util -o from an NSS database holding openssl.pfx
#   chain.pfx        openssl: the holder, its key and the issuing CA (ca.pem)
#   encipher.pfx     a key-encipherment-only certificate and its key ("pw")
#   certonly.pfx     the certificate without a key ("pw")
#   ec.pfx           a P-256 key and its certificate ("pw")
#   orphan.pfx       a key without its certificate, and the holder's
#                    certificate without its key ("pw", Python cryptography)
#   many.pfx         the holder and 520 copies of its CA ("pw"), over the
#                    certificate limit
# ca.pem / holder.pem / key.pem are the PEM forms of the CA, the holder
# certificate and its key.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
pw='中文密碼測試'
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 \
  -subj "/O=Interop Bank/CN=Interop Root" \
  -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout key.pem -out holder.csr \
  -subj "/O=Interop Bank/CN=互通測試 Holder" -utf8 2>/dev/null
printf 'keyUsage=critical,digitalSignature\n' > holder.ext
openssl x509 -req -in holder.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
  -extfile holder.ext -out holder.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in holder.pem -name holder -out openssl.pfx \
  -passout "pass:$pw"
openssl pkcs12 -export -legacy -inkey key.pem -in holder.pem -name holder -out legacy.pfx \
  -passout "pass:$pw"
openssl pkcs12 -export -inkey key.pem -in holder.pem -certfile ca.pem -name holder \
  -out chain.pfx -passout "pass:$pw"

openssl req -x509 -newkey rsa:2048 -nodes -keyout enc.key -out enc.pem -days 3650 \
  -subj "/CN=Encipher Only" -addext "keyUsage=critical,keyEncipherment" 2>/dev/null
openssl pkcs12 -export -inkey enc.key -in enc.pem -out encipher.pfx -passout pass:pw
openssl pkcs12 -export -nokeys -in holder.pem -out certonly.pfx -passout pass:pw
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ec.key \
  -out ec.pem -days 3650 -subj "/CN=Elliptic" 2>/dev/null
openssl pkcs12 -export -inkey ec.key -in ec.pem -out ec.pfx -passout pass:pw

python3 - "$pw" <<'PY'
import sys
from cryptography import x509
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives.serialization import pkcs12
pw = sys.argv[1].encode()
key = serialization.load_pem_private_key(open("key.pem", "rb").read(), None)
cert = x509.load_pem_x509_certificate(open("holder.pem", "rb").read())
ca = x509.load_pem_x509_certificate(open("ca.pem", "rb").read())
protect = serialization.BestAvailableEncryption
open("python.pfx", "wb").write(
    pkcs12.serialize_key_and_certificates(b"holder", key, cert, None, protect(pw)))
# A key whose certificate is not in the file, beside a certificate of
# another key.
stray = rsa.generate_private_key(public_exponent=65537, key_size=1024)
open("orphan.pfx", "wb").write(
    pkcs12.serialize_key_and_certificates(b"stray", stray, None, [cert], protect(b"pw")))
open("many.pfx", "wb").write(
    pkcs12.serialize_key_and_certificates(b"holder", key, cert, [ca] * 520, protect(b"pw")))
PY

openssl pkcs12 -export -inkey key.pem -in holder.pem -name holder -out ascii.pfx \
  -passout pass:secret123
keytool -importkeystore -srckeystore ascii.pfx -srcstoretype PKCS12 -srcstorepass secret123 \
  -destkeystore keytool.pfx -deststoretype PKCS12 -deststorepass secret123 -noprompt \
  >/dev/null 2>&1
rm -f ascii.pfx

if command -v pk12util >/dev/null; then
  rm -rf nssdb && mkdir nssdb
  certutil -N -d sql:nssdb --empty-password
  pk12util -i openssl.pfx -d sql:nssdb -W "$pw" >/dev/null
  pk12util -o pk12util.pfx -n holder -d sql:nssdb -W "$pw" >/dev/null
  rm -rf nssdb
fi
