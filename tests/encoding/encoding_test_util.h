// Helpers shared by the encoding tests: random data and text produced by
// OpenSSL, which serves as the independent implementation to compare with.
#ifndef QUORVANT_TESTS_ENCODING_ENCODING_TEST_UTIL_H_
#define QUORVANT_TESTS_ENCODING_ENCODING_TEST_UTIL_H_

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quorvant::test_support {

inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(byte(rng));
  return v;
}

inline std::vector<uint8_t> Bytes(std::string_view s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// One line of Base64 as EVP_EncodeBlock writes it.
inline std::string OpenSslBase64(const std::vector<uint8_t>& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                data.data(), static_cast<int>(data.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// PEM as PEM_write_bio writes it: 64-column lines ending in LF.
inline std::string OpenSslPem(const char* label, const std::vector<uint8_t>& der) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  if (!bio || PEM_write_bio(bio.get(), label, "", der.data(),
                            static_cast<long>(der.size())) <= 0) {
    return std::string();
  }
  char* text = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &text);
  return std::string(text, static_cast<size_t>(n));
}

inline std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// DER-shaped bytes: a SEQUENCE header with a two-byte length, then noise.
// Its Base64 starts with "MI" like every real certificate's.
inline std::vector<uint8_t> FakeDer(std::mt19937& rng, size_t bodyLength) {
  std::vector<uint8_t> der = {0x30, 0x82, static_cast<uint8_t>(bodyLength >> 8),
                              static_cast<uint8_t>(bodyLength & 0xFF)};
  const std::vector<uint8_t> body = RandomBytes(rng, bodyLength);
  der.insert(der.end(), body.begin(), body.end());
  return der;
}

}  // namespace quorvant::test_support

#endif  // QUORVANT_TESTS_ENCODING_ENCODING_TEST_UTIL_H_
