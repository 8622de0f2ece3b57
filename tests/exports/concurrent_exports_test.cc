// Several threads of one program calling the flat exports at once, through
// the shared library as a native caller links it. Every digest is checked
// against OpenSSL's, every registry value read back is the one its thread
// wrote, and the personal-store list answers consistently.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "QuorvantATL.h"

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 10000;

std::u16string Take(BSTR s) {
  std::u16string text = s == nullptr ? std::u16string() : std::u16string(s, SysStringLen(s));
  SysFreeString(s);
  return text;
}

// The reference digest of the text's UTF-16 code units (low byte first),
// as upper-case hex.
std::u16string OpensslHex(const EVP_MD* md, const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int outLen = 0;
  EVP_Digest(bytes.data(), bytes.size(), out, &outLen, md, nullptr);
  static const char kHex[] = "0123456789ABCDEF";
  std::u16string hex;
  for (unsigned int i = 0; i < outLen; ++i) {
    hex += static_cast<char16_t>(kHex[out[i] >> 4]);
    hex += static_cast<char16_t>(kHex[out[i] & 15]);
  }
  return hex;
}

struct HashCase {
  int32_t flags;
  std::u16string text;
  std::u16string expected;
};

std::vector<HashCase> HashCases() {
  const std::array<std::pair<int32_t, const EVP_MD*>, 4> algorithms = {{
      {1, EVP_md5()}, {2, EVP_sha1()}, {3, EVP_sha256()}, {4, EVP_sha512()}}};
  const std::array<std::u16string, 4> texts = {u"abc", u"中文簽章", u"x",
                                               std::u16string(300, u'a')};
  std::vector<HashCase> cases;
  for (const auto& [flags, md] : algorithms) {
    for (const auto& text : texts) cases.push_back({flags, text, OpensslHex(md, text)});
  }
  return cases;
}

TEST(ConcurrentExports, MixedCallsFromEightThreadsStayCorrect) {
  const std::vector<HashCase> cases = HashCases();
  std::atomic<int> wrongDigests{0};
  std::atomic<int> wrongRegistryValues{0};
  std::atomic<int> badCertAnswers{0};

  auto worker = [&](int thread) {
    const std::u16string name =
        u"Software\\QuorvantThreads\\t" + std::u16string(1, static_cast<char16_t>(u'0' + thread));
    for (int i = 0; i < kCallsPerThread; ++i) {
      switch (i % 4) {
        case 0:
        case 1: {
          const HashCase& c = cases[static_cast<size_t>(i + thread) % cases.size()];
          if (Take(Hash(c.text.c_str(), c.flags)) != c.expected) ++wrongDigests;
          break;
        }
        case 2: {
          std::u16string value = u"v";
          for (char c : std::to_string(i)) value += static_cast<char16_t>(c);
          if (RegWriteHKCUStr(name.c_str(), value.c_str()) != 0 ||
              Take(RegReadHKCU(name.c_str())) != value) {
            ++wrongRegistryValues;
          }
          break;
        }
        default: {
          const int32_t count = GetIECertCount();
          // An empty list has no first entry; a list with one has a subject.
          const std::u16string subject = Take(GetIECertSubject(1));
          if (count < 0 || (count == 0 && !subject.empty())) ++badCertAnswers;
          break;
        }
      }
    }
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
  for (auto& t : threads) t.join();

  EXPECT_EQ(wrongDigests.load(), 0);
  EXPECT_EQ(wrongRegistryValues.load(), 0);
  EXPECT_EQ(badCertAnswers.load(), 0);
}

}  // namespace
