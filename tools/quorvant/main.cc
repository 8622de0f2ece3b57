// quorvant: the component's command-line tool. It reaches the component only
// through the exports of libQuorvantATL.so, as any native caller does: the
// operations (QuorvantATL.h) and the administration interface
// (QuorvantAdmin.h).
//
//   quorvant call NAME [ARG...] [--then NAME [ARG...]]...
//                                 call exports in order on one engine
//   quorvant exports              list the exports with their signatures
//   quorvant version              the component's file version
//   quorvant errors               the whole result-code message table
//   quorvant hash [--md5|--sha1|--sha256|--sha512] [--ansi] TEXT
//   quorvant hash-file [--md5|--sha1|--sha256|--sha512] FILE
//   quorvant reg query|add|delete KEY [options]   the registry store
//   quorvant store ..., quorvant cert FILE        the certificate stores
//   quorvant pfx info FILE [--password-stdin]     a PKCS #12 file's certificates
//   quorvant pfx import|query|export|mobile|passwd FILE ...   the PFX operations
//   quorvant filter TEXT [--flags N] ...          CertificateFilter on a store
//   quorvant select ..., quorvant sign ...        signer selection and signatures
//   quorvant store list|add|delete ...   the certificate stores (store_command.h)
//   quorvant cert FILE            the fields of a certificate
//   quorvant help [COMMAND]       every command, or one with its options
//   quorvant enrol request|accept|pending ...  enrolment (enrol_command.h)
//   quorvant bridge install       the browsers' native messaging host (bridge_command.h)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QuorvantATL.h"
#include "QuorvantAdmin.h"
#include "enrol_command.h"
#include "export_calls.h"
#include "help_command.h"
#include "regsvr_command.h"
#include "crypt_command.h"
#include "pfx_command.h"
#include "bridge_command.h"
#include "reg_command.h"
#include "results.h"
#include "sign_command.h"
#include "store_command.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() { return UsageError(); }

// One process, one engine: calls joined by "--then" run in order on the same
// engine, so state left by one (the personal-store list, a selected signer)
// is seen by the next, as in any native caller. The exit status is that of
// the last call.
int Call(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  int status = 0;
  auto begin = args.begin();
  while (begin != args.end()) {
    auto end = std::find(begin, args.end(), std::string("--then"));
    if (begin == end) return Usage();
    std::string problem;
    std::vector<std::string> callArgs(begin + 1, end);
    if (begin != args.begin()) std::printf("\n");
    std::optional<CallOutcome> outcome = CallExport(*begin, callArgs, &problem);
    if (!outcome) {
      std::fprintf(stderr, "quorvant: %s\n", problem.c_str());
      return kExitUsage;
    }
    if (outcome->textResult) {
      std::printf("%s\n", outcome->text.c_str());
    } else {
      std::printf("%d\n", outcome->value);
    }
    status = PrintOutcome();
    begin = end == args.end() ? end : end + 1;
  }
  return status;
}

int Exports() {
  for (const ExportInfo& info : ExportList()) {
    std::printf("%-24.*s %s\n", static_cast<int>(info.name.size()), info.name.data(),
                info.signature.c_str());
  }
  return PrintOutcome();
}

int Version() {
  std::printf("%s\n", TakeText(::GetDllVersion()).c_str());
  return PrintOutcome();
}

int Errors() { return PrintReport(QuorvantErrorTable()); }

// The digest flags of Hash and HashFile from the options; the last argument
// is the text or file. Nothing when the options do not parse.
std::optional<std::pair<int32_t, std::string>> HashArguments(const std::vector<std::string>& args,
                                                             bool allowAnsi) {
  int32_t algorithm = 2;  // SHA-1
  int32_t ansi = 0;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--md5") algorithm = 1;
    else if (a == "--sha1") algorithm = 2;
    else if (a == "--sha256") algorithm = 3;
    else if (a == "--sha512") algorithm = 4;
    else if (a == "--ansi" && allowAnsi) ansi = 0x10;
    else return std::nullopt;
  }
  if (args.empty()) return std::nullopt;
  return std::make_pair(algorithm | ansi, args.back());
}

int HashText(const std::vector<std::string>& args) {
  auto parsed = HashArguments(args, true);
  if (!parsed) return Usage();
  std::printf("%s\n", TakeText(::Hash(Utf16FromUtf8(parsed->second).c_str(), parsed->first)).c_str());
  return PrintOutcome();
}

int HashFileCommand(const std::vector<std::string>& args) {
  auto parsed = HashArguments(args, false);
  if (!parsed) return Usage();
  std::printf("%s\n",
              TakeText(::HashFile(Utf16FromUtf8(parsed->second).c_str(), parsed->first)).c_str());
  return PrintOutcome();
}

}  // namespace
}  // namespace quorvant::cli

int main(int argc, char** argv) {
  using namespace quorvant::cli;
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "help") return HelpCommand(AsksForHelp(args) ? std::vector<std::string>{"help"} : args);
  if (command == "--help" || command == "-h") return HelpCommand({});
  if (AsksForHelp(args)) return HelpCommand({command});
  if (command == "call") return Call(args);
  if (command == "exports" && args.empty()) return Exports();
  if (command == "version" && args.empty()) return Version();
  if (command == "errors" && args.empty()) return Errors();
  if (command == "hash") return HashText(args);
  if (command == "hash-file") return HashFileCommand(args);
  if (command == "reg") return RegCommand(args);
  if (command == "bridge") return BridgeCommand(args);
  if (command == "regsvr") return RegsvrCommand(args);
  if (command == "pfx") return PfxCommand(args);
  if (command == "filter") return FilterCommand(args);
  if (command == "store") return StoreCommand(args);
  if (command == "cert") return CertCommand(args);
  if (command == "encrypt") return EncryptCommand(args);
  if (command == "decrypt") return DecryptCommand(args);
  if (command == "regsvr") return RegsvrCommand(args);
  if (command == "select") return SelectCommand(args);
  if (command == "sign") return SignCommand(args);
  if (command == "enrol") return EnrolCommand(args);
  return Usage();
}
