#include "platform/pkcs12/pkcs12_support.h"

#include <openssl/core_names.h>
#include <openssl/provider.h>

#include <climits>
#include <new>

#include "base/win32_errors.h"
#include "platform/pkcs12/pkcs12.h"
#include "platform/keys/rsa_key.h"

namespace quorvant::pkcs12_detail {
namespace {



template <typename T>
OsslPtr<T> UnpackSequence(const ASN1_ITEM* item, const ASN1_TYPE* type) {
  if (type == nullptr || type->type != V_ASN1_SEQUENCE) return nullptr;
  return OsslPtr<T>(static_cast<T*>(ASN1_TYPE_unpack_sequence(item, type)));
}

OsslPtr<BIGNUM> RsaNumber(const EVP_PKEY* key, const char* name) {
  BIGNUM* number = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &number) != 1) return nullptr;
  return OsslPtr<BIGNUM>(number);
}

bool CipherAvailable(int nid) {
  if (nid == NID_undef) return false;
  OsslPtr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(OpensslContext(), OBJ_nid2sn(nid), nullptr));
  return cipher != nullptr;
}

bool DigestAvailable(int nid) {
  if (nid == NID_undef) return false;
  OsslPtr<EVP_MD> md(EVP_MD_fetch(OpensslContext(), OBJ_nid2sn(nid), nullptr));
  return md != nullptr;
}

// PBES2 (RFC 8018, 6.2) with PBKDF2 (5.2): scrypt and other derivations
// are refused, as no tool we read writes them into PKCS #12 files.
uint32_t CheckPbes2(const ASN1_TYPE* parameter, uint64_t* iterations) {
  auto params = UnpackSequence<PBE2PARAM>(ASN1_ITEM_rptr(PBE2PARAM), parameter);
  if (!params || params->keyfunc == nullptr || params->encryption == nullptr) {
    return win32::kCryptEBadEncode;
  }
  if (OBJ_obj2nid(params->keyfunc->algorithm) != NID_id_pbkdf2) return win32::kCryptEUnknownAlgo;
  auto kdf = UnpackSequence<PBKDF2PARAM>(ASN1_ITEM_rptr(PBKDF2PARAM),
                                                             params->keyfunc->parameter);
  if (!kdf || kdf->iter == nullptr) return win32::kCryptEBadEncode;
  if (!IterationCountAllowed(kdf->iter)) return win32::kCryptEUnknownAlgo;
  *iterations = IterationCount(kdf->iter);
  if (kdf->prf != nullptr) {
    int digestNid = NID_undef;
    if (!EVP_PBE_find_ex(EVP_PBE_TYPE_PRF, OBJ_obj2nid(kdf->prf->algorithm), nullptr, &digestNid,
                         nullptr, nullptr) ||
        !DigestAvailable(digestNid)) {
      return win32::kCryptEUnknownAlgo;
    }
  }
  return CipherAvailable(OBJ_obj2nid(params->encryption->algorithm)) ? 0
                                                                     : win32::kCryptEUnknownAlgo;
}

}  // namespace

uint32_t PfxPassword::assign(const char16_t* password) {
  utf8_.clear();
  absent_ = password == nullptr;
  if (absent_) return 0;
  const std::u16string_view wide(password);
  if (wide.size() > INT32_MAX / 3 - 1) return win32::kEOutofmemory;
  // Every UTF-16 code unit takes at most three bytes of UTF-8 (a pair
  // takes four for its two units).
  ByteBuffer buffer;
  if (!wide.empty() && !buffer.allocate(static_cast<int32_t>(wide.size() * 3))) {
    return win32::kEOutofmemory;
  }
  int32_t length = 0;
  uint8_t* out = buffer.data();
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // an unpaired surrogate, as Utf8FromWide writes it
    }
    if (c < 0x80) {
      out[length++] = static_cast<uint8_t>(c);
    } else if (c < 0x800) {
      out[length++] = static_cast<uint8_t>(0xC0 | (c >> 6));
      out[length++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out[length++] = static_cast<uint8_t>(0xE0 | (c >> 12));
      out[length++] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      out[length++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else {
      out[length++] = static_cast<uint8_t>(0xF0 | (c >> 18));
      out[length++] = static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F));
      out[length++] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      out[length++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    }
  }
  if (length > 0 && !utf8_.append(buffer.data(), length)) return win32::kEOutofmemory;
  return 0;
}

bool SameRsaPublicKey(const EVP_PKEY* a, const EVP_PKEY* b) {
  if (a == nullptr || b == nullptr) return false;
  OsslPtr<BIGNUM> na = RsaNumber(a, OSSL_PKEY_PARAM_RSA_N);
  OsslPtr<BIGNUM> nb = RsaNumber(b, OSSL_PKEY_PARAM_RSA_N);
  OsslPtr<BIGNUM> ea = RsaNumber(a, OSSL_PKEY_PARAM_RSA_E);
  OsslPtr<BIGNUM> eb = RsaNumber(b, OSSL_PKEY_PARAM_RSA_E);
  return na && nb && ea && eb && BN_cmp(na.get(), nb.get()) == 0 && BN_cmp(ea.get(), eb.get()) == 0;
}

bool RsaPublicKeyId(const EVP_PKEY* key, std::string* out) {
  if (key == nullptr || (!EVP_PKEY_is_a(key, "RSA") && !EVP_PKEY_is_a(key, "RSA-PSS"))) {
    return false;
  }
  OsslPtr<BIGNUM> n = RsaNumber(key, OSSL_PKEY_PARAM_RSA_N);
  OsslPtr<BIGNUM> e = RsaNumber(key, OSSL_PKEY_PARAM_RSA_E);
  if (!n || !e) return false;
  const int nLength = BN_num_bytes(n.get());
  const int eLength = BN_num_bytes(e.get());
  // The modulus's length first, so no two pairs give the same bytes.
  out->assign(4 + static_cast<size_t>(nLength + eLength), '\0');
  auto* p = reinterpret_cast<unsigned char*>(out->data());
  p[0] = static_cast<unsigned char>(nLength >> 24);
  p[1] = static_cast<unsigned char>(nLength >> 16);
  p[2] = static_cast<unsigned char>(nLength >> 8);
  p[3] = static_cast<unsigned char>(nLength);
  BN_bn2bin(n.get(), p + 4);
  BN_bn2bin(e.get(), p + 4 + nLength);
  return true;
}

bool IterationCountAllowed(const ASN1_INTEGER* iterations) {
  if (iterations == nullptr) return true;
  const long count = ASN1_INTEGER_get(iterations);
  return count >= 1 && count <= static_cast<long>(kPfxMaxIterations);
}

uint64_t IterationCount(const ASN1_INTEGER* iterations) {
  if (iterations == nullptr) return 1;
  const long count = ASN1_INTEGER_get(iterations);
  return count < 1 ? 1 : static_cast<uint64_t>(count);
}

uint32_t CheckPbeAlgorithm(const X509_ALGOR* algorithm, uint64_t* iterations) {
  uint64_t ignored = 0;
  if (iterations == nullptr) iterations = &ignored;
  if (algorithm == nullptr || algorithm->algorithm == nullptr) return win32::kCryptEBadEncode;
  const int nid = OBJ_obj2nid(algorithm->algorithm);
  if (nid == NID_pbes2) return CheckPbes2(algorithm->parameter, iterations);
  // The PKCS #12 schemes (RFC 7292, Appendix C) and PBES1 (RFC 8018, 6.1).
  int cipherNid = -1;
  int digestNid = -1;
  if (!EVP_PBE_find(EVP_PBE_TYPE_OUTER, nid, &cipherNid, &digestNid, nullptr)) {
    return win32::kCryptEUnknownAlgo;
  }
  auto params =
      UnpackSequence<PBEPARAM>(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter);
  if (!params) return win32::kCryptEBadEncode;
  if (!IterationCountAllowed(params->iter)) return win32::kCryptEUnknownAlgo;
  // The PKCS #12 derivation runs once for the key and once for the IV.
  *iterations = 2 * IterationCount(params->iter);
  if (cipherNid == -1 || !CipherAvailable(cipherNid)) return win32::kCryptEUnknownAlgo;
  if (digestNid != -1 && !DigestAvailable(digestNid)) return win32::kCryptEUnknownAlgo;
  return 0;
}

}  // namespace quorvant::pkcs12_detail
