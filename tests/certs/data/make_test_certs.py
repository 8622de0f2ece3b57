#!/usr/bin/python3
# Writes the Python-made test certificates of tests/certs/data (Debian's
# python3-cryptography 38). Run from this directory:
#   /usr/bin/python3 make_test_certs.py
# The keys are thrown away; only the names, serials, times and key usages
# matter to the tests, which state what each file holds.
import datetime

from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.serialization import Encoding
from cryptography.x509.name import _ASN1Type
from cryptography.x509.oid import NameOID

UTC = datetime.timezone.utc


def attr(oid, value, kind=None):
    if kind is None:
        return x509.NameAttribute(oid, value)
    return x509.NameAttribute(oid, value, _type=kind)


def name(*rdns):
    return x509.Name([x509.RelativeDistinguishedName(r) for r in rdns])


def key_usage(**bits):
    names = ["digital_signature", "content_commitment", "key_encipherment",
             "data_encipherment", "key_agreement", "key_cert_sign", "crl_sign",
             "encipher_only", "decipher_only"]
    values = {n: bits.get(n, False) for n in names}
    return x509.KeyUsage(**values)


def write(path, subject, issuer, serial, not_before, not_after, usage=None):
    key = ec.generate_private_key(ec.SECP256R1())
    builder = (x509.CertificateBuilder()
               .subject_name(subject).issuer_name(issuer)
               .public_key(key.public_key()).serial_number(serial)
               .not_valid_before(not_before).not_valid_after(not_after))
    if usage is not None:
        builder = builder.add_extension(usage, critical=True)
    cert = builder.sign(key, hashes.SHA256())
    with open(path, "wb") as f:
        f.write(cert.public_bytes(Encoding.DER))


BMP = _ASN1Type.BMPString
UTF8 = _ASN1Type.UTF8String
IA5 = _ASN1Type.IA5String

# Chinese names in BMPString, issued by a UTF8String-named authority; serial
# 0x8F12 (DER 00 8F 12); a signing key usage (digitalSignature and
# nonRepudiation, 0xC0).
write("chinese_bmp.der",
      name([attr(NameOID.COUNTRY_NAME, "TW")],
           [attr(NameOID.ORGANIZATION_NAME, "測試銀行", BMP)],
           [attr(NameOID.ORGANIZATIONAL_UNIT_NAME, "營業部", BMP)],
           [attr(NameOID.COMMON_NAME, "王小明", BMP)]),
      name([attr(NameOID.COUNTRY_NAME, "TW")],
           [attr(NameOID.ORGANIZATION_NAME, "測試憑證中心", UTF8)],
           [attr(NameOID.COMMON_NAME, "測試憑證中心 Root CA", UTF8)]),
      0x8F12,
      datetime.datetime(2013, 6, 24, 3, 31, 15, tzinfo=UTC),
      datetime.datetime(2015, 12, 31, 16, 0, 0, tzinfo=UTC),
      key_usage(digital_signature=True, content_commitment=True))

# A self-issued authority: UTF8String Chinese, an e-mail address
# (IA5String), an attribute type without a short key; keyCertSign and
# cRLSign (0x06); UTCTime 1950 and GeneralizedTime 2050.
authority = name([attr(NameOID.COMMON_NAME, "陳大文", UTF8)],
                 [attr(NameOID.EMAIL_ADDRESS, "alice@example.com", IA5)],
                 [attr(x509.ObjectIdentifier("1.3.6.1.4.1.99999.1"), "custom", UTF8)],
                 [attr(NameOID.LOCALITY_NAME, "臺北市", UTF8)])
write("chinese_utf8_ca.der", authority, authority, 1,
      datetime.datetime(1950, 1, 1, 0, 0, 0, tzinfo=UTC),
      datetime.datetime(2050, 1, 1, 0, 0, 0, tzinfo=UTC),
      key_usage(key_cert_sign=True, crl_sign=True))

# Multi-valued relative names and no key-usage extension.
write("multi_valued.der",
      name([attr(NameOID.COUNTRY_NAME, "TW")],
           [attr(NameOID.ORGANIZATION_NAME, "Example Bank")],
           [attr(NameOID.ORGANIZATIONAL_UNIT_NAME, "Retail"),
            attr(NameOID.ORGANIZATIONAL_UNIT_NAME, "Cards")],
           [attr(NameOID.COMMON_NAME, "Alice Chen"),
            attr(NameOID.SERIAL_NUMBER, "A123456789")]),
      name([attr(NameOID.COUNTRY_NAME, "TW")],
           [attr(NameOID.ORGANIZATION_NAME, "Example Bank")],
           [attr(NameOID.COMMON_NAME, "Example Issuing CA")]),
      0x7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF,
      datetime.datetime(2020, 2, 29, 12, 0, 0, tzinfo=UTC),
      datetime.datetime(2049, 12, 31, 23, 59, 59, tzinfo=UTC))

# Self-issued without a key-usage extension; valid to the last second of
# year 9999.
self_issued = name([attr(NameOID.COMMON_NAME, "Self Issued")])
write("self_issued.der", self_issued, self_issued, 0x00FF,
      datetime.datetime(2000, 1, 1, 0, 0, 0, tzinfo=UTC),
      datetime.datetime(9999, 12, 31, 23, 59, 59, tzinfo=UTC))
