// Digest engines against published known answers and, differentially,
// against OpenSSL: whole, in random chunks, from unaligned memory, and on
// every code path the processor can run.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "digest/block_queue.h"
#include "digest/compress_functions.h"
#include "digest/cpu_features.h"
#include "digest/md5_digest.h"
#include "digest/sha1_digest.h"
#include "digest/sha256_digest.h"
#include "digest/sha512_digest.h"
#include "digest_test_util.h"

namespace quorvant {
namespace {

using testing::opensslDigestHex;
using testing::randomBytes;
using testing::toHex;

// Messages and digests from RFC 1321 (appendix A.5, the MD5 test suite) and
// from the FIPS 180 example documents (NIST CSRC "Examples with
// Intermediate Values": "abc", the 448- and 896-bit messages, one million
// "a"). Empty entries are not published for that algorithm.
struct KnownAnswer {
  const char* message;
  int repeat;
  const char* md5;
  const char* sha1;
  const char* sha256;
  const char* sha512;
};

const KnownAnswer kKnownAnswers[] = {
    {"", 1, "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {"a", 1, "0cc175b9c0f1b6a831c399e269772661", nullptr, nullptr, nullptr},
    {"abc", 1, "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {"message digest", 1, "f96b697d7cb7938d525a2f31aaf161d0", nullptr, nullptr, nullptr},
    {"abcdefghijklmnopqrstuvwxyz", 1, "c3fcd3d76192e4007dfb496cca67e13b", nullptr, nullptr,
     nullptr},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 1,
     "d174ab98d277d9f5a5611c2c9f419d9f", nullptr, nullptr, nullptr},
    {"1234567890", 8, "57edf4a22be3c955ac49da2e2107b67a", nullptr, nullptr, nullptr},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, nullptr,
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
     "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     1, nullptr, "a49b2446a02c645bf419f995b67091253a04a259",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {"a", 1000000, nullptr, "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

template <typename E, DigestImplementation kImpl>
struct Config {
  using Engine = E;
  static constexpr DigestImplementation kImplementation = kImpl;
};

template <typename E>
struct Traits;
template <>
struct Traits<Md5Digest> {
  static const EVP_MD* md() { return EVP_md5(); }
  static const char* known(const KnownAnswer& k) { return k.md5; }
};
template <>
struct Traits<Sha1Digest> {
  static const EVP_MD* md() { return EVP_sha1(); }
  static const char* known(const KnownAnswer& k) { return k.sha1; }
};
template <>
struct Traits<Sha256Digest> {
  static const EVP_MD* md() { return EVP_sha256(); }
  static const char* known(const KnownAnswer& k) { return k.sha256; }
};
template <>
struct Traits<Sha512Digest> {
  static const EVP_MD* md() { return EVP_sha512(); }
  static const char* known(const KnownAnswer& k) { return k.sha512; }
};

constexpr auto kPortable = DigestImplementation::kPortable;
constexpr auto kAccelerated = DigestImplementation::kAccelerated;

template <typename C>
class DigestEngineTest : public ::testing::Test {
 protected:
  using Engine = typename C::Engine;

  void SetUp() override {
    if constexpr (requires(Engine e) { e.setImplementation(kPortable); }) {
      if (!engine_.setImplementation(C::kImplementation)) {
        GTEST_SKIP() << "this processor cannot run the accelerated path";
      }
    }
  }

  std::string whole(const uint8_t* p, size_t n) {
    EXPECT_TRUE(engine_.digest(p, static_cast<int32_t>(n)));
    EXPECT_EQ(engine_.output().size(), Engine::kDigestLength);
    return toHex(engine_.output());
  }

  // maxChunk 1 feeds byte by byte.
  std::string chunked(const uint8_t* p, size_t n, std::mt19937_64& rng, size_t maxChunk) {
    engine_.init();
    size_t done = 0;
    while (done < n) {
      const size_t step = std::min<size_t>(n - done, 1 + rng() % maxChunk);
      engine_.update(p + done, step);
      done += step;
    }
    EXPECT_TRUE(engine_.finish());
    return toHex(engine_.output());
  }

  static std::string reference(const uint8_t* p, size_t n) {
    return opensslDigestHex(Traits<Engine>::md(), p, n);
  }

  Engine engine_;
};

using Configs = ::testing::Types<
    Config<Md5Digest, kPortable>, Config<Sha1Digest, kPortable>,
    Config<Sha1Digest, kAccelerated>, Config<Sha256Digest, kPortable>,
    Config<Sha256Digest, kAccelerated>, Config<Sha512Digest, kPortable>,
    Config<Sha512Digest, kAccelerated>>;

class ConfigNames {
 public:
  template <typename C>
  static std::string GetName(int) {
    std::string name;
    using E = typename C::Engine;
    if (std::is_same_v<E, Md5Digest>) name = "Md5";
    if (std::is_same_v<E, Sha1Digest>) name = "Sha1";
    if (std::is_same_v<E, Sha256Digest>) name = "Sha256";
    if (std::is_same_v<E, Sha512Digest>) name = "Sha512";
    return name + (C::kImplementation == kPortable ? "Portable" : "Accelerated");
  }
};

TYPED_TEST_SUITE(DigestEngineTest, Configs, ConfigNames);

TYPED_TEST(DigestEngineTest, PublishedKnownAnswers) {
  std::mt19937_64 rng(1);
  for (const KnownAnswer& k : kKnownAnswers) {
    const char* expected = Traits<typename TestFixture::Engine>::known(k);
    if (expected == nullptr) continue;
    std::string message;
    for (int i = 0; i < k.repeat; ++i) message += k.message;
    // One spare byte in front so the copy starts at an odd address.
    std::vector<uint8_t> storage(1);
    storage.insert(storage.end(), message.begin(), message.end());
    const uint8_t* p = storage.data() + 1;
    SCOPED_TRACE(message.substr(0, 64));
    EXPECT_EQ(this->whole(p, message.size()), expected);
    EXPECT_EQ(this->chunked(p, message.size(), rng, message.size() > 1000 ? 997 : 1),
              expected);
  }
}

// Every length up to two blocks and a bit: covers 55/56/63/64/65 (one or two
// padding blocks for a 64-byte block) and 111/112/127/128/129 (SHA-512).
TYPED_TEST(DigestEngineTest, EveryShortLengthMatchesOpenssl) {
  std::mt19937_64 rng(2);
  const std::vector<uint8_t> data = randomBytes(rng, 300);
  for (size_t n = 0; n <= 2 * TestFixture::Engine::kBlockSize + 2; ++n) {
    EXPECT_EQ(this->whole(data.data(), n), this->reference(data.data(), n)) << "length " << n;
  }
}

TYPED_TEST(DigestEngineTest, RandomInputsMatchOpensslWholeAndChunked) {
  std::mt19937_64 rng(3);
  const std::vector<uint8_t> pool = randomBytes(rng, 3000 + 64);
  for (int iteration = 0; iteration < 1500; ++iteration) {
    const size_t n = rng() % 3001;
    const uint8_t* p = pool.data() + rng() % 64;  // any alignment
    const std::string expected = this->reference(p, n);
    ASSERT_EQ(this->whole(p, n), expected) << "length " << n;
    ASSERT_EQ(this->chunked(p, n, rng, 200), expected) << "length " << n;
  }
  // A few large inputs, fed whole and in uneven chunks.
  for (size_t n : {size_t{1} << 20, (size_t{3} << 20) + 77}) {
    const std::vector<uint8_t> big = randomBytes(rng, n + 1);
    const std::string expected = this->reference(big.data() + 1, n);
    EXPECT_EQ(this->whole(big.data() + 1, n), expected);
    EXPECT_EQ(this->chunked(big.data() + 1, n, rng, 70000), expected);
  }
}

TYPED_TEST(DigestEngineTest, EachCallReplacesThePreviousDigest) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  ASSERT_TRUE(this->engine_.digest(abc, 3));
  const std::string first = toHex(this->engine_.output());
  ASSERT_TRUE(this->engine_.digest(nullptr, 0));
  EXPECT_EQ(toHex(this->engine_.output()), this->reference(abc, 0));
  ASSERT_TRUE(this->engine_.digest(abc, 3));
  EXPECT_EQ(toHex(this->engine_.output()), first);
}

TYPED_TEST(DigestEngineTest, RejectsNegativeLengthAndMissingData) {
  const uint8_t byte = 0;
  EXPECT_FALSE(this->engine_.digest(&byte, -1));
  EXPECT_TRUE(this->engine_.output().empty());
  EXPECT_FALSE(this->engine_.digest(nullptr, 5));
  EXPECT_TRUE(this->engine_.output().empty());
}

TEST(DigestDispatch, PicksShaExtensionsWhenTheProcessorHasThem) {
  const bool sha = cpuFeatures().sha && cpuFeatures().sse41 && cpuFeatures().ssse3;
  const auto expected = sha ? kAccelerated : kPortable;
  EXPECT_EQ(Sha1Digest().implementation(), expected);
  EXPECT_EQ(Sha256Digest().implementation(), expected);
}

#if defined(__x86_64__)
// The engine picks the AVX-512VL build of the SHA-512 schedule where it can,
// so the AVX2 build is compared with the portable function directly. Both
// consume blocks in pairs, then hand an odd one to the portable code.
TEST(DigestSha512Vector, BothVectorBuildsMatchThePortableFunction) {
  const CpuFeatures& cpu = cpuFeatures();
  if (!cpu.avx2 || !cpu.bmi1 || !cpu.bmi2) GTEST_SKIP() << "no AVX2/BMI2";
  std::mt19937_64 rng(4);
  const std::vector<uint8_t> data = randomBytes(rng, 128 * 9 + 1);
  std::vector<digest_internal::Compress64> variants = {digest_internal::sha512CompressAvx2};
  if (cpu.avx512vl) variants.push_back(digest_internal::sha512CompressAvx512);
  for (auto variant : variants) {
    for (size_t blocks = 0; blocks <= 9; ++blocks) {
      uint64_t expected[8], actual[8];
      for (int i = 0; i < 8; ++i) expected[i] = actual[i] = rng();
      digest_internal::sha512CompressPortable(expected, data.data() + 1, blocks);
      variant(actual, data.data() + 1, blocks);
      EXPECT_TRUE(std::equal(expected, expected + 8, actual)) << blocks << " blocks";
    }
  }
}
#endif

// The length field must count past 2^32 bytes (a 64-bit count of bits, or
// 128 bits for SHA-512). Hashing 4 GiB for real is too slow for a unit test,
// so the queue is driven with a compression function that only records the
// final block.
template <size_t kBlock, size_t kLengthBytes, bool kBigEndian>
std::vector<uint8_t> lastBlockAfter(uint64_t totalBytes, uint64_t* blocksSeen) {
  digest_internal::BlockQueue<kBlock> queue;
  queue.reset();
  std::vector<uint8_t> chunk(1 << 20, 0x61);
  std::vector<uint8_t> last(kBlock);
  *blocksSeen = 0;
  auto compress = [&](const uint8_t* blocks, size_t n) {
    *blocksSeen += n;
    std::memcpy(last.data(), blocks + (n - 1) * kBlock, kBlock);
  };
  for (uint64_t left = totalBytes; left != 0;) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(left, chunk.size() - 1));
    queue.update(chunk.data(), step, compress);
    left -= step;
  }
  queue.template pad<kLengthBytes, kBigEndian>(compress);
  return last;
}

TEST(DigestLengthField, CountsBeyondFourGibibytes) {
  const uint64_t total = (uint64_t{1} << 32) + 3;  // bits: 0x0000000800000018
  uint64_t blocks = 0;
  auto sha = lastBlockAfter<64, 8, true>(total, &blocks);
  EXPECT_EQ(toHex(sha).substr(112), "0000000800000018");
  EXPECT_EQ(blocks, total / 64 + 1);
  auto md5 = lastBlockAfter<64, 8, false>(total, &blocks);
  EXPECT_EQ(toHex(md5).substr(112), "1800000008000000");
  auto sha512 = lastBlockAfter<128, 16, true>(total, &blocks);
  EXPECT_EQ(toHex(sha512).substr(224), "00000000000000000000000800000018");
  EXPECT_EQ(blocks, total / 128 + 1);
}

}  // namespace
}  // namespace quorvant
