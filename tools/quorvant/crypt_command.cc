#include "crypt_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

#include "QuorvantATL.h"
#include "base/result_codes.h"
#include "export_calls.h"
#include "input_file.h"
#include "results.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;
constexpr int32_t kAnsiText = 0x800;

int CryptUsage() {
  std::fprintf(stderr,
               "usage: quorvant encrypt --key HEX|--to CERT [--alg N] [--ansi] [--out FILE] [INPUT]\n"
               "       quorvant decrypt [--key HEX] [--alg N] [--ansi] [--out FILE] [INPUT]\n");
  return kExitUsage;
}

struct CryptArguments {
  std::optional<std::string> key;
  std::optional<std::string> recipients;  // the certificate file
  int32_t algorithm = 0;
  int32_t flags = 0;
  std::optional<std::string> out;
  std::optional<std::string> input;
};

std::optional<CryptArguments> Parse(const std::vector<std::string>& args) {
  CryptArguments parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--key" && hasValue) {
      parsed.key = args[++i];
    } else if (a == "--to" && hasValue) {
      parsed.recipients = args[++i];
    } else if (a == "--alg" && hasValue) {
      const std::optional<int32_t> n = ParseInt32(args[++i]);
      if (!n) return std::nullopt;
      parsed.algorithm = *n;
    } else if (a == "--ansi") {
      parsed.flags |= kAnsiText;
    } else if (a == "--out" && hasValue) {
      parsed.out = args[++i];
    } else if (!a.starts_with("--") && !parsed.input) {
      parsed.input = a;
    } else {
      return std::nullopt;
    }
  }
  return parsed;
}

// A certificate file as the component takes it: PEM text as it is, DER as
// its Base64.
std::string RecipientText(const std::string& contents) {
  if (contents.empty() || contents.starts_with("-----") || contents[0] == 'M') return contents;
  return Base64Text(contents);
}

int Finish(const std::string& result, const CryptArguments& parsed) {
  if (parsed.out) {
    std::ofstream file(*parsed.out, std::ios::binary | std::ios::trunc);
    file << result;
    file.close();
    if (!file) {
      // The operation's text is lost: that is the outcome, whatever the
      // operation's own code was.
      const int err = errno;
      std::fprintf(stderr, "quorvant: cannot write %s: %s\n", parsed.out->c_str(),
                   err != 0 ? std::strerror(err) : "write failed");
      std::printf("result: %d %s\n", rc::kFileUnwritable,
                  ResultMessage(rc::kFileUnwritable).c_str());
      return 1;
    }
  } else {
    std::printf("%s\n", result.c_str());
  }
  const int32_t code = ::GetErrorCode();
  std::printf("result: %d %s\n", code, TakeText(::GetErrorMsg()).c_str());
  const int32_t capi = ::GetCapiErrorCode();
  if (capi != 0) {
    std::printf("system error: 0x%08X %s\n", static_cast<uint32_t>(capi),
                TakeText(::GetCapiErrorMsg()).c_str());
  }
  return code == 0 ? 0 : 1;
}

}  // namespace

int EncryptCommand(const std::vector<std::string>& args) {
  const std::optional<CryptArguments> parsed = Parse(args);
  if (!parsed || parsed->key.has_value() == parsed->recipients.has_value()) return CryptUsage();
  std::string why;
  const std::optional<std::string> input = ReadInput(parsed->input, kTextInputMaxSize, &why);
  if (!input) return InputFailure(parsed->input, why);
  const std::u16string text = Utf16FromUtf8(*input);
  if (parsed->key) {
    const std::u16string key = Utf16FromUtf8(*parsed->key);
    return Finish(TakeText(::SymEncrypt(text.c_str(), key.c_str(), parsed->algorithm, parsed->flags)),
                  *parsed);
  }
  const std::optional<std::string> recipients =
      ReadInput(parsed->recipients, kCertificateFileMaxSize, &why);
  if (!recipients) return InputFailure(parsed->recipients, why);
  const std::u16string certificates = Utf16FromUtf8(RecipientText(*recipients));
  return Finish(TakeText(::CertEncryptPkcs7(text.c_str(), certificates.c_str(), parsed->algorithm,
                                            parsed->flags)),
                *parsed);
}

int DecryptCommand(const std::vector<std::string>& args) {
  const std::optional<CryptArguments> parsed = Parse(args);
  if (!parsed || parsed->recipients) return CryptUsage();
  std::string why;
  const std::optional<std::string> input = ReadInput(parsed->input, kTextInputMaxSize, &why);
  if (!input) return InputFailure(parsed->input, why);
  const std::u16string text = Utf16FromUtf8(*input);
  if (parsed->key) {
    const std::u16string key = Utf16FromUtf8(*parsed->key);
    return Finish(TakeText(::SymDecrypt(text.c_str(), key.c_str(), parsed->algorithm, parsed->flags)),
                  *parsed);
  }
  return Finish(TakeText(::CertDecryptPkcs7(text.c_str(), parsed->flags)), *parsed);
}

}  // namespace quorvant::cli
