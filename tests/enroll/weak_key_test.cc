// The weak-key test on PRIVATEKEYBLOBs written by Python's cryptography
// (its own RSA generation, which takes d modulo lcm(p - 1, q - 1)) and
// variants of them that Python derives with plain integer arithmetic.
#include "enroll/weak_key.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "encoding/hex.h"
#include "support/tool_commands.h"

namespace quorvant {
namespace {

using testing::Capture;
using testing::HavePythonCryptography;

// Prints "name hex" lines: the blob layout (little-endian fields of L/8 and
// L/16 bytes after the 20-byte header) is written here, not by our code.
constexpr char kMakeBlobs[] = R"PY(
import sys
from cryptography.hazmat.primitives.asymmetric import rsa

def le(v, n):
    return v.to_bytes(n, 'little')

def blob(bits, e, n, p, q, dp, dq, qinv, d, alg=0xA400, magic=b'RSA2', btype=7):
    out = bytes([btype, 2, 0, 0]) + alg.to_bytes(4, 'little') + magic
    out += bits.to_bytes(4, 'little') + e.to_bytes(4, 'little')
    h = bits // 16
    return out + le(n, bits // 8) + le(p, h) + le(q, h) + le(dp, h) + le(dq, h) + le(qinv, h) + le(d, bits // 8)

for bits in (1024, 2048):
    k = rsa.generate_private_key(public_exponent=65537, key_size=bits)
    m = k.private_numbers()
    p, q, d, e, n = m.p, m.q, m.d, m.public_numbers.e, m.public_numbers.n
    phi = (p - 1) * (q - 1)
    dphi = pow(e, -1, phi)
    crt = lambda d, p, q: (d % (p - 1), d % (q - 1), pow(q, -1, p))
    cases = {
        'lambda': blob(bits, e, n, p, q, m.dmp1, m.dmq1, m.iqmp, d),
        'phi': blob(bits, e, n, p, q, *crt(dphi, p, q), dphi),
        'lambda_signature_alg': blob(bits, e, n, p, q, m.dmp1, m.dmq1, m.iqmp, d, alg=0x2400),
    }
    good = bytearray(cases['lambda'])
    qinv_at = 20 + bits // 8 + 4 * (bits // 16)
    flipped = bytearray(good); flipped[qinv_at + 3] ^= 0x01
    cases['flipped_qinv'] = bytes(flipped)
    dp_at = 20 + bits // 8 + 2 * (bits // 16)
    flipped = bytearray(good); flipped[dp_at] ^= 0x80
    cases['flipped_dp'] = bytes(flipped)
    cases['swapped_primes'] = blob(bits, e, n, q, p, m.dmp1, m.dmq1, m.iqmp, d)
    # consistent CRT values, but d * e is not 1 modulo lambda (check 5)
    d2 = d + 2
    cases['wrong_d'] = blob(bits, e, n, p, q, *crt(d2, p, q), d2)
    cases['wrong_n'] = blob(bits, e, n + 2, p, q, m.dmp1, m.dmq1, m.iqmp, d)
    cases['truncated'] = good[:-1]
    cases['extended'] = good + b'\0'
    cases['header_only'] = good[:20]
    cases['public_blob_type'] = bytes([6]) + good[1:]
    cases['public_magic'] = good[:8] + b'RSA1' + good[12:]
    cases['odd_bit_length'] = good[:12] + (bits + 8).to_bytes(4, 'little') + good[16:]
    for name, b in cases.items():
        print('%d_%s %s' % (bits, name, bytes(b).hex()))
)PY";

std::map<std::string, std::vector<uint8_t>> MakeBlobs() {
  std::map<std::string, std::vector<uint8_t>> blobs;
  char path[] = "/tmp/qv-weak-key-XXXXXX.py";
  const int fd = mkstemps(path, 3);
  if (fd < 0) return blobs;
  close(fd);
  testing::WriteText(path, kMakeBlobs);
  int status = 0;
  std::istringstream lines(Capture(std::string("/usr/bin/python3 ") + path, &status));
  unlink(path);
  if (status != 0) return blobs;
  std::string name, hex;
  while (lines >> name >> hex) {
    ByteBuffer bytes;
    if (!HexDecode(hex.c_str(), bytes)) continue;
    blobs[name].assign(bytes.bytes().begin(), bytes.bytes().end());
  }
  return blobs;
}

TEST(WeakKeyTest, BlobsFromAnotherImplementation) {
  if (!HavePythonCryptography()) GTEST_SKIP() << "no Python cryptography";
  const auto blobs = MakeBlobs();
  ASSERT_FALSE(blobs.empty());
  const struct {
    const char* name;
    bool weak;
  } cases[] = {
      {"lambda", false},           // d mod lcm(p-1, q-1), as OpenSSL makes it
      {"phi", false},              // d mod (p-1)(q-1)
      {"lambda_signature_alg", false},
      {"flipped_qinv", true},      // check 4
      {"flipped_dp", true},        // check 2
      {"swapped_primes", true},    // qinv no longer belongs to (p, q)
      {"wrong_d", true},           // check 5
      {"wrong_n", true},           // check 1
      {"truncated", true},
      {"extended", true},
      {"header_only", true},
      {"public_blob_type", true},
      {"public_magic", true},
      {"odd_bit_length", true},
  };
  for (int bits : {1024, 2048}) {
    for (const auto& c : cases) {
      const std::string name = std::to_string(bits) + "_" + c.name;
      const auto found = blobs.find(name);
      ASSERT_NE(found, blobs.end()) << name;
      EXPECT_EQ(IsWeakRsaKeyBlob(found->second), c.weak) << name;
    }
  }
}

TEST(WeakKeyTest, MalformedShortBlobsAreWeak) {
  const std::vector<uint8_t> empty;
  const std::vector<uint8_t> zeros(20 + 2 * 128 + 5 * 64, 0);
  EXPECT_TRUE(IsWeakRsaKeyBlob(empty));
  EXPECT_TRUE(IsWeakRsaKeyBlob(zeros));
  EXPECT_TRUE(IsWeakRsaKey(nullptr, nullptr));
}

}  // namespace
}  // namespace quorvant
