#!/usr/bin/env python3
"""Reads a mobile export the way a mobile application does, independently of
the component, and checks it against the PKCS #12 file it came from.

    read_mobile.py TEXT_FILE PFX_FILE PFX_PASSWORD MOBILE_PASSWORD

The record (before encryption), integers 32-bit big-endian:
  "MORL", key bits n, public exponent, modulus (n/8), p, q, d mod (p-1),
  d mod (q-1), q^-1 mod p (n/16 each), d (n/8), CN length + CN (code page
  950), serial length + serial (big-endian), SHA-1 of the certificate (20),
  NotBefore and NotAfter (14 each, local time YYYYMMDDhhmmss),
  certificate length + DER.
Cipher: three-key Triple DES, CBC, zero IV, PKCS #5 padding; key = SHA-1 of
the password's code-page-950 bytes followed by "MORL". Exit status 0 when
every field matches.
"""
import base64
import hashlib
import struct
import sys
import time

from cryptography import x509
from cryptography.hazmat.decrepit.ciphers.algorithms import TripleDES
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.ciphers import Cipher, modes
from cryptography.hazmat.primitives.serialization import pkcs12


def fail(message):
    print("mobile record: " + message, file=sys.stderr)
    sys.exit(1)


def main():
    text_file, pfx_file, pfx_password, mobile_password = sys.argv[1:5]
    text = open(text_file, "rb").read().strip()
    key = hashlib.sha1(mobile_password.encode("cp950")).digest() + b"MORL"
    decryptor = Cipher(TripleDES(key), modes.CBC(bytes(8))).decryptor()
    padded = decryptor.update(base64.b64decode(text, validate=True)) + decryptor.finalize()
    pad = padded[-1]
    if not 1 <= pad <= 8 or padded[-pad:] != bytes([pad]) * pad:
        fail("bad padding")
    record = padded[:-pad]

    offset = 0

    def take(n):
        nonlocal offset
        if offset + n > len(record):
            fail("record too short")
        piece = record[offset:offset + n]
        offset += n
        return piece

    def u32():
        return struct.unpack(">I", take(4))[0]

    if take(4) != b"MORL":
        fail("magic")
    bits = u32()
    e = u32()
    numbers = [int.from_bytes(take(w), "big")
               for w in (bits // 8, bits // 16, bits // 16, bits // 16, bits // 16, bits // 16,
                         bits // 8)]
    cn = take(u32())
    serial = take(u32())
    thumbprint = take(20)
    not_before = take(14).decode()
    not_after = take(14).decode()
    der = take(u32())
    if offset != len(record):
        fail("bytes after the certificate")

    loaded = pkcs12.load_pkcs12(open(pfx_file, "rb").read(), pfx_password.encode())
    private = loaded.key.private_numbers()
    expected = [private.public_numbers.n, private.p, private.q, private.dmp1, private.dmq1,
                private.iqmp, private.d]
    if bits != loaded.key.key_size or e != private.public_numbers.e:
        fail("key size or exponent")
    if numbers != expected:
        fail("key numbers")
    cert = loaded.cert.certificate
    if der != cert.public_bytes(serialization.Encoding.DER):
        fail("certificate")
    if thumbprint != hashlib.sha1(der).digest():
        fail("thumbprint")
    raw_serial = cert.serial_number.to_bytes((cert.serial_number.bit_length() + 8) // 8, "big")
    if serial.lstrip(b"\0") != raw_serial.lstrip(b"\0"):
        fail("serial")
    names = cert.subject.get_attributes_for_oid(x509.NameOID.COMMON_NAME)
    if cn != names[0].value.encode("cp950"):
        fail("common name")
    local = lambda t: time.strftime("%Y%m%d%H%M%S", time.localtime(t.timestamp()))
    if not_before != local(cert.not_valid_before_utc) or not_after != local(cert.not_valid_after_utc):
        fail("validity %s %s" % (not_before, not_after))


main()
