// The consistency test every generated RSA key pair passes before a request
// is built from it: the key is exported as a PRIVATEKEYBLOB and its numbers
// are checked against each other. A key that fails is discarded and made
// again.
//
// The checks, in order; the first that fails (or any arithmetic error) makes
// the key weak:
//   1. p * q = n
//   2. d mod (p - 1) = dp
//   3. d mod (q - 1) = dq
//   4. q^-1 mod p exists and equals qinv
//   5. d * e = 1 mod lcm(p - 1, q - 1)
//   6. gcd(e, (p - 1) * (q - 1)) = 1
// Check 5 uses Carmichael's function rather than Euler's: OpenSSL (and
// FIPS 186-4, appendix B.3.1) reduce d modulo lcm(p - 1, q - 1), and such a
// key is valid although d * e mod (p - 1)(q - 1) is not 1. Every key that
// satisfies the check modulo (p - 1)(q - 1) satisfies it modulo the lcm,
// which divides it.
//
// No primality, small-factor or size test is made. Arithmetic runs on
// OpenSSL's big numbers with constant-time flags on the secret ones.
#ifndef QUORVANT_ENROLL_WEAK_KEY_H_
#define QUORVANT_ENROLL_WEAK_KEY_H_

#include <cstdint>
#include <span>

namespace quorvant {

class CryptKey;

// True when the PRIVATEKEYBLOB must be rejected: a malformed blob (short,
// another type or magic, a bit length the layout does not fit, trailing
// bytes) counts as weak; its lengths are checked before any field is read.
bool IsWeakRsaKeyBlob(std::span<const uint8_t> blob);

// Exports the key's private half and tests it. A key that cannot be
// exported is weak; *capiCode (may be null) then receives the export's
// error number.
bool IsWeakRsaKey(const CryptKey* key, uint32_t* capiCode);

}  // namespace quorvant

#endif  // QUORVANT_ENROLL_WEAK_KEY_H_
