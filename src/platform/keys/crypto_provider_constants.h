// Numeric values of the CryptoAPI constants the provider layer takes and
// gives: provider types and names, context and key flags, algorithm
// identifiers, key blob types and key parameters.
//
// Each constant is the Windows SDK name (wincrypt.h) written in UpperCamel
// with a k prefix, part by part, as in base/win32_errors.h: PROV_RSA_FULL is
// kProvRsaFull, CRYPT_NEWKEYSET is kCryptNewkeyset, CALG_RSA_KEYX is
// kCalgRsaKeyx, PUBLICKEYBLOB is kPublickeyblob. The block cipher identifiers
// CALG_DES, CALG_3DES and CALG_3DES_112 live in digest/calg_ids.h, shared
// with DesCipher. AT_KEYEXCHANGE and AT_SIGNATURE are kAtKeyExchange and
// kAtSignature of platform/certificates/key_provider_info.h.
#ifndef QUORVANT_PLATFORM_CRYPTO_PROVIDER_CONSTANTS_H_
#define QUORVANT_PLATFORM_CRYPTO_PROVIDER_CONSTANTS_H_

#include <cstdint>

#include "digest/calg_ids.h"
#include "platform/certificates/key_provider_info.h"

namespace quorvant {

// Provider types.
inline constexpr uint32_t kProvRsaFull = 1;
inline constexpr uint32_t kProvRsaAes = 24;

// Provider names (MS_DEF_PROV, MS_ENHANCED_PROV, MS_ENH_RSA_AES_PROV,
// MS_STRONG_PROV).
inline constexpr char kMsDefProv[] = "Microsoft Base Cryptographic Provider v1.0";
inline constexpr char kMsEnhancedProv[] = "Microsoft Enhanced Cryptographic Provider v1.0";
inline constexpr char kMsEnhRsaAesProv[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";
inline constexpr char kMsStrongProv[] = "Microsoft Strong Cryptographic Provider";

// CryptAcquireContext flags.
inline constexpr uint32_t kCryptVerifycontext = 0xF0000000;
inline constexpr uint32_t kCryptNewkeyset = 0x8;
inline constexpr uint32_t kCryptDeletekeyset = 0x10;
inline constexpr uint32_t kCryptMachineKeyset = 0x20;
inline constexpr uint32_t kCryptSilent = 0x40;

// CryptGenKey and CryptImportKey flags (the low 16 bits of CryptGenKey's
// flags; the upper 16 bits carry the key size in bits).
inline constexpr uint32_t kCryptExportable = 0x1;
inline constexpr uint32_t kCryptUserProtected = 0x2;
inline constexpr uint32_t kCryptArchivable = 0x4000;

// CryptAcquireCertificatePrivateKey flags.
inline constexpr uint32_t kCryptAcquireCacheFlag = 0x1;
inline constexpr uint32_t kCryptAcquireSilentFlag = 0x40;

// CryptSignHash flags.
inline constexpr uint32_t kCryptNohashoid = 0x1;

// Algorithm identifiers (ALG_ID).
inline constexpr uint32_t kCalgRsaSign = 0x2400;
inline constexpr uint32_t kCalgRsaKeyx = 0xA400;
inline constexpr uint32_t kCalgMd5 = 0x8003;
inline constexpr uint32_t kCalgSha1 = 0x8004;
inline constexpr uint32_t kCalgSha256 = 0x800C;
inline constexpr uint32_t kCalgSha384 = 0x800D;
inline constexpr uint32_t kCalgSha512 = 0x800E;

// Key blob types (BLOBHEADER.bType) and the blob version this layer writes
// and reads (CUR_BLOB_VERSION).
inline constexpr uint8_t kPublickeyblob = 0x6;
inline constexpr uint8_t kPrivatekeyblob = 0x7;
inline constexpr uint8_t kPlaintextkeyblob = 0x8;
inline constexpr uint8_t kCurBlobVersion = 2;

// RSAPUBKEY.magic: "RSA1" (public key only) and "RSA2" (key pair), read as
// little-endian 32-bit words.
inline constexpr uint32_t kRsa1Magic = 0x31415352;
inline constexpr uint32_t kRsa2Magic = 0x32415352;

// CryptSetHashParam parameters.
inline constexpr uint32_t kHpHashval = 0x2;

// CryptSetKeyParam parameters and cipher modes.
inline constexpr uint32_t kKpIv = 1;
inline constexpr uint32_t kKpMode = 4;
inline constexpr uint32_t kCryptModeCbc = 1;
inline constexpr uint32_t kCryptModeEcb = 2;
inline constexpr uint32_t kCryptModeOfb = 3;
inline constexpr uint32_t kCryptModeCfb = 4;

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_CRYPTO_PROVIDER_CONSTANTS_H_
