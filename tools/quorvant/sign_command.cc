#include "sign_command.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "QuorvantATL.h"
#include "export_calls.h"
#include "input_file.h"
#include "passwords.h"
#include "results.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant select [FILTER] [--select-flags N] [--key-usage N] [--date D]\n"
               "                       [--pfx FOLDER NAME] [--password-stdin | --password-fd N]\n"
               "                       [--port N]\n"
               "       quorvant sign [--pkcs7] [--flags N] [--filter FILTER] [selection options]\n"
               "                     TEXT|-\n"
               "The PFX password is one line of standard input (before the text of\n"
               "`sign -`) or of descriptor N; --password PW still works, with a warning.\n");
  return kExitUsage;
}

// The codes of the last operation, as a caller reads them.
struct Codes {
  int32_t code = 0;
  int32_t capi = 0;
  std::string message, capiMessage;
  static Codes Read() {
    Codes c;
    c.code = ::GetErrorCode();
    c.capi = ::GetCapiErrorCode();
    c.message = TakeText(::GetErrorMsg());
    if (c.capi != 0) c.capiMessage = TakeText(::GetCapiErrorMsg());
    return c;
  }
  int print() const {
    std::printf("result: %d %s\n", code, message.c_str());
    if (capi != 0) {
      std::printf("system error: 0x%08X %s\n", static_cast<uint32_t>(capi), capiMessage.c_str());
    }
    return code == 0 ? 0 : 1;
  }
};

struct Options {
  std::optional<std::string> filter;
  int32_t selectFlags = 0;
  int32_t keyUsage = 0;
  std::string date;
  std::string pfxFolder, pfxName;
  std::optional<std::string> password;  // on the command line: seen by all
  PasswordSource passwordSource;
  bool passwordFromSource = false;
  std::optional<int32_t> port;
  bool selectionGiven = false;
  // sign only
  bool pkcs7 = false;
  int32_t signFlags = 0;
  std::optional<std::string> text;
  bool fromStdin = false;
};

std::optional<Options> Parse(const std::vector<std::string>& args, bool signing) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    auto number = [&](int32_t* out) {
      if (!hasValue) return false;
      auto v = ParseInt32(args[++i]);
      if (!v) return false;
      *out = *v;
      return true;
    };
    bool badPassword = false;
    if (ParsePasswordOption(args, &i, &o.passwordSource, &badPassword)) {
      if (badPassword) return std::nullopt;
      o.passwordFromSource = true;
      o.selectionGiven = true;
    } else if (a == "--select-flags") {
      if (!number(&o.selectFlags)) return std::nullopt;
      o.selectionGiven = true;
    } else if (a == "--key-usage") {
      if (!number(&o.keyUsage)) return std::nullopt;
      o.selectionGiven = true;
    } else if (a == "--date" && hasValue) {
      o.date = args[++i];
      o.selectionGiven = true;
    } else if (a == "--pfx" && i + 2 < args.size()) {
      o.pfxFolder = args[++i];
      o.pfxName = args[++i];
      o.selectionGiven = true;
    } else if (a == "--password" && hasValue) {
      o.password = args[++i];
      o.selectionGiven = true;
    } else if (a == "--port") {
      int32_t port = 0;
      if (!number(&port)) return std::nullopt;
      o.port = port;
      o.selectionGiven = true;
    } else if (signing && a == "--pkcs7") {
      o.pkcs7 = true;
    } else if (signing && a == "--flags") {
      if (!number(&o.signFlags)) return std::nullopt;
    } else if (a == "--filter" && hasValue && !o.filter) {
      o.filter = args[++i];
      o.selectionGiven = true;
    } else if (signing && a == "-" && !o.text && !o.fromStdin) {
      o.fromStdin = true;
    } else if (signing && !a.starts_with("--") && !o.text && !o.fromStdin) {
      o.text = a;
    } else if (!signing && !a.starts_with("--") && !o.filter) {
      o.filter = a;
      o.selectionGiven = true;
    } else {
      return std::nullopt;
    }
  }
  if (signing && o.text.has_value() == o.fromStdin) return std::nullopt;
  return o;
}

// Runs the selection the options ask for; without any, the signer another
// process published is taken over. 0, or the exit status when the password
// could not be read.
int Select(Options& o) {
  const std::u16string filter = Utf16FromUtf8(o.filter.value_or(""));
  const std::u16string folder = Utf16FromUtf8(o.pfxFolder), name = Utf16FromUtf8(o.pfxName);
  const std::u16string date = Utf16FromUtf8(o.date);
  if (o.password || o.passwordFromSource) {
    Password password;
    if (o.password) {
      std::fprintf(stderr,
                   "quorvant: warning: a password on the command line is visible to other "
                   "users; use --password-stdin or --password-fd\n");
      password.assignUtf8(*o.password);
    } else if (const int failed =
                   ReadPassword(o.passwordSource, "PFX password: ", &password, Usage)) {
      return failed;
    }
    ::SelectSignerEx(filter.c_str(), folder.c_str(), name.c_str(), password.get(), date.c_str(),
                     o.selectFlags, o.keyUsage);
    return 0;
  }
  const int32_t port = o.port.value_or(o.selectionGiven ? 0 : 1);
  ::SelectSignerEx2(filter.c_str(), folder.c_str(), name.c_str(), port, date.c_str(),
                    o.selectFlags, o.keyUsage);
  return 0;
}

void PrintSigner() {
  std::printf("signer: %s\n", TakeText(::GetCertFinger()).c_str());
  std::printf("subject: %s\n", TakeText(::GetCertSubject()).c_str());
  const std::string file = TakeText(::GetSignerPfxFileName());
  if (!file.empty()) {
    std::printf("pfx: %s %s\n", TakeText(::GetSignerPfxFilePath()).c_str(), file.c_str());
  }
}

}  // namespace

int SelectCommand(const std::vector<std::string>& args) {
  auto options = Parse(args, false);
  if (!options) return Usage();
  if (const int failed = Select(*options)) return failed;
  const Codes codes = Codes::Read();
  if (codes.code == 0) PrintSigner();
  return codes.print();
}

int SignCommand(const std::vector<std::string>& args) {
  auto options = Parse(args, true);
  if (!options) return Usage();
  if (const int failed = Select(*options)) return failed;
  if (::GetErrorCode() != 0) return Codes::Read().print();
  std::string text = options->text.value_or("");
  if (options->fromStdin) {
    std::string why;
    std::optional<std::string> read = ReadInput(std::nullopt, kTextInputMaxSize, &why);
    if (!read) return InputFailure(std::nullopt, why);
    text = std::move(*read);
  }
  const std::u16string content = Utf16FromUtf8(text);
  const std::string signature =
      TakeText(options->pkcs7 ? ::SignPkcs7(content.c_str(), options->signFlags)
                              : ::SignPkcs1(content.c_str(), options->signFlags));
  // The getters below clear the code; the signature's is kept first.
  const Codes codes = Codes::Read();
  if (codes.code == 0) {
    std::printf("%s\n", signature.c_str());
    PrintSigner();
  }
  return codes.print();
}

}  // namespace quorvant::cli
