// Throughput of the digest and DES engines next to OpenSSL's EVP on the
// same inputs, then a table of ours / OpenSSL per engine and size.
//
//   quorvant_bench [--benchmark_filter=...] [other Google Benchmark flags]
//
// OpenSSL is measured the way a careful caller would use it: algorithms
// fetched once, one context reused, init/update/final per message. Ours is
// measured the way the component uses it: digest() or setKey once and
// encrypt() per message, output buffer included.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "best_run_reporter.h"
#include "digest/des_cipher.h"
#include "digest/md5_digest.h"
#include "digest/sha1_digest.h"
#include "digest/sha256_digest.h"
#include "digest/sha512_digest.h"

namespace quorvant {
namespace {

constexpr size_t kSizes[] = {64, 16 * 1024, 1024 * 1024};

const std::vector<uint8_t>& input() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(1024 * 1024 + 64);
    std::mt19937_64 rng(7);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }();
  return data;
}

template <typename Engine>
void benchOurDigest(benchmark::State& state, size_t size, DigestImplementation impl) {
  Engine engine;
  if constexpr (requires { engine.setImplementation(impl); }) {
    if (!engine.setImplementation(impl)) {
      state.SkipWithError("not supported on this processor");
      return;
    }
  }
  const uint8_t* data = input().data();
  for (auto _ : state) {
    bool ok = engine.digest(data, static_cast<int32_t>(size));
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(engine.output().data()[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void benchOpensslDigest(benchmark::State& state, size_t size, const char* name) {
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const uint8_t* data = input().data();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int outLen = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex2(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, data, size);
    EVP_DigestFinal_ex(ctx, out, &outLen);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
}

const uint8_t kKey[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                          0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01,
                          0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23};

void benchOurTdes(benchmark::State& state, size_t size) {
  DesCipher cipher;
  cipher.setAlgorithm(CALG_3DES);
  cipher.setKey(kKey, 24);
  const uint8_t* data = input().data();
  for (auto _ : state) {
    bool ok = cipher.encrypt(data, static_cast<int32_t>(size));
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(cipher.output().data()[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void benchOpensslTdes(benchmark::State& state, size_t size) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const uint8_t iv[8] = {};
  std::vector<uint8_t> out(size + 16);
  const uint8_t* data = input().data();
  for (auto _ : state) {
    int len1 = 0, len2 = 0;
    EVP_EncryptInit_ex(ctx, cipher, nullptr, kKey, iv);
    EVP_EncryptUpdate(ctx, out.data(), &len1, data, static_cast<int>(size));
    EVP_EncryptFinal_ex(ctx, out.data() + len1, &len2);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
}


std::string benchName(const std::string& engine, const std::string& who, size_t size) {
  return engine + "/" + who + "/" + std::to_string(size);
}

struct Engine {
  std::string name;
  const char* openssl;  // null for 3DES
  void (*ours)(benchmark::State&, size_t, DigestImplementation);
  bool hasPortable;     // a separately selectable portable path
};

void tdesAdapter(benchmark::State& state, size_t size, DigestImplementation) {
  benchOurTdes(state, size);
}

const Engine kEngines[] = {
    {"MD5", "MD5", benchOurDigest<Md5Digest>, false},
    {"SHA-1", "SHA1", benchOurDigest<Sha1Digest>, true},
    {"SHA-256", "SHA256", benchOurDigest<Sha256Digest>, true},
    {"SHA-512", "SHA512", benchOurDigest<Sha512Digest>, true},
    {"3DES-CBC", nullptr, tdesAdapter, false},
};

void registerAll() {
  for (const Engine& e : kEngines) {
    for (size_t size : kSizes) {
      benchmark::RegisterBenchmark(benchName(e.name, "ours", size).c_str(),
                                   [&e, size](benchmark::State& s) {
                                     e.ours(s, size, DigestImplementation::kAccelerated);
                                   });
      if (e.hasPortable) {
        benchmark::RegisterBenchmark(benchName(e.name, "portable", size).c_str(),
                                     [&e, size](benchmark::State& s) {
                                       e.ours(s, size, DigestImplementation::kPortable);
                                     });
      }
      if (e.openssl != nullptr) {
        benchmark::RegisterBenchmark(benchName(e.name, "openssl", size).c_str(),
                                     [&e, size](benchmark::State& s) {
                                       benchOpensslDigest(s, size, e.openssl);
                                     });
      } else {
        benchmark::RegisterBenchmark(benchName(e.name, "openssl", size).c_str(),
                                     [size](benchmark::State& s) { benchOpensslTdes(s, size); });
      }
    }
  }
}

void printTable(const bench::BestRunReporter& r) {
  std::printf("\n%-10s %9s %12s %12s %7s %14s\n", "engine", "size", "ours MB/s", "openssl MB/s",
              "ratio", "portable MB/s");
  for (const Engine& e : kEngines) {
    for (size_t size : kSizes) {
      const double ours = r.best(benchName(e.name, "ours", size)) / 1e6;
      const double ossl = r.best(benchName(e.name, "openssl", size)) / 1e6;
      const double portable = r.best(benchName(e.name, "portable", size)) / 1e6;
      if (ours == 0.0 || ossl == 0.0) continue;
      std::printf("%-10s %9zu %12.1f %12.1f %7.3f", e.name.c_str(), size, ours, ossl, ours / ossl);
      if (portable > 0.0) std::printf(" %14.1f", portable);
      std::printf("\n");
    }
  }
}

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  if (!quorvant::bench::InitializeRepeated(argc, argv, "0.2")) return 1;
  quorvant::registerAll();
  quorvant::bench::BestRunReporter reporter(quorvant::bench::BestOf::kBytesPerSecond);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  quorvant::printTable(reporter);
  benchmark::Shutdown();
  return 0;
}
