#include "enrol_command.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <set>

#include "QuorvantATL.h"
#include "QuorvantAdmin.h"
#include "export_calls.h"
#include "input_file.h"
#include "results.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant enrol request CN [--bits N] [--flags N] [--pair]\n"
               "       quorvant enrol accept FILE\n"
               "       quorvant enrol pending [--purge-older-than DAYS]\n");
  return kExitUsage;
}

int Request(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  int32_t bits = 2048;
  int32_t flags = 1;
  bool pair = false;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--pair") {
      pair = true;
    } else if ((args[i] == "--bits" || args[i] == "--flags") && i + 1 < args.size()) {
      const std::optional<int32_t> value = ParseInt32(args[i + 1]);
      if (!value) return Usage();
      (args[i] == "--bits" ? bits : flags) = *value;
      ++i;
    } else {
      return Usage();
    }
  }
  const std::u16string cn = Utf16FromUtf8(args[1]);
  if (!pair) {
    std::printf("%s\n", TakeText(::CreatePKCS10(cn.c_str(), bits, flags)).c_str());
    return PrintOutcome();
  }
  ::CreatePKCS10Pair(cn.c_str(), bits, flags);
  // The getters clear nothing, so the pair's own code is still there after.
  std::printf("sign: %s\n", TakeText(::GetCsrForSign()).c_str());
  std::printf("encrypt: %s\n", TakeText(::GetCsrForEncrypt()).c_str());
  return PrintOutcome();
}

int Accept(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage();
  std::string why;
  const std::optional<std::string> read = ReadInput(args[1], kReplyFileMaxSize, &why);
  if (!read) return InputFailure(args[1], why);
  const std::string& bytes = *read;
  // A DER reply starts with a SEQUENCE; text (PEM or Base64) goes as it is.
  std::string text = bytes;
  if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0x30) {
    text = Base64Text(bytes);
  }
  const std::u16string wide = Utf16FromUtf8(text);
  std::printf("%d\n", ::AcceptPKCS7(wide.c_str()));
  return PrintOutcome();
}

int Pending(const std::vector<std::string>& args) {
  std::optional<int32_t> purgeDays;
  if (args.size() == 3 && args[1] == "--purge-older-than") {
    purgeDays = ParseInt32(args[2]);
    if (!purgeDays || *purgeDays < 0) return Usage();
  } else if (args.size() != 1) {
    return Usage();
  }
  return PrintReport(QuorvantPendingKeys(purgeDays.value_or(-1)));
}

}  // namespace

int EnrolCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  if (args[0] == "request") return Request(args);
  if (args[0] == "accept") return Accept(args);
  if (args[0] == "pending") return Pending(args);
  return Usage();
}

}  // namespace quorvant::cli
