#include "help_command.h"

#include <string_view>

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

struct CommandHelp {
  std::string_view name;
  std::string_view text;
};

// Kept next to each other so a new command gets its help in the same place
// as its line of the usage.
constexpr CommandHelp kCommands[] = {
    {"call",
     "quorvant call NAME [ARG...] [--then NAME [ARG...]]...\n"
     "  Calls the flat export NAME with the arguments (text as given, integers\n"
     "  in decimal or 0x hex) and prints its result, then the result line.\n"
     "  Calls joined by --then run in order on one engine, so state left by one\n"
     "  (the personal-store list, a selected signer) is seen by the next.\n"
     "  `quorvant exports` lists the names and argument kinds.\n"},
    {"exports", "quorvant exports\n  Every export with its result and argument kinds.\n"},
    {"version", "quorvant version\n  The component's file version (GetDllVersion).\n"},
    {"errors", "quorvant errors\n  Every result code with its message, then the default message.\n"},
    {"hash",
     "quorvant hash [--md5|--sha1|--sha256|--sha512] [--ansi] TEXT\n"
     "  The digest of TEXT as upper-case hex (Hash). SHA-1 by default. The text\n"
     "  is hashed as UTF-16 code units, low byte first; --ansi hashes its bytes\n"
     "  in the component's code page instead (flag 0x10).\n"},
    {"hash-file",
     "quorvant hash-file [--md5|--sha1|--sha256|--sha512] FILE\n"
     "  The digest of the file's bytes as upper-case hex (HashFile).\n"},
    {"reg",
     "quorvant reg query  KEY [/v NAME | /ve]\n"
     "quorvant reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
     "quorvant reg delete KEY [/v NAME | /ve | /va] [/f]\n"
     "  The component's registry store. KEY: HKCU\\path, HKLM\\path or\n"
     "  HKCR\\path, e.g. 'HKCU\\Software\\MORL\\QuorvantATL'. /v names a value,\n"
     "  /ve the default value, /va every value of the key; /f asks no question.\n"
     "  TYPE: REG_SZ (default), REG_EXPAND_SZ, REG_DWORD, REG_QWORD,\n"
     "  REG_BINARY (DATA in hex), REG_NONE.\n"},
    {"store",
     "quorvant store list [MY|CA|ROOT]\n"
     "quorvant store add MY|CA|ROOT FILE\n"
     "quorvant store delete [MY|CA|ROOT] N\n"
     "  The current user's certificate stores: MY (personal, the default), CA\n"
     "  (intermediate authorities), ROOT (trusted roots). add takes a DER or PEM\n"
     "  certificate file; delete takes the number list shows.\n"},
    {"cert", "quorvant cert FILE\n  Every field of a DER or PEM certificate as the component reads it.\n"},
    {"pfx",
     "quorvant pfx info FILE [--password-stdin | --password-fd N]\n"
     "  The certificates and keys of a PKCS #12 file (its keys stay in memory).\n"
     "  The password is typed at the terminal, or read as a line from standard\n"
     "  input or descriptor N; with none of these the file is opened with no\n"
     "  password, which is not the same as an empty one. (A password after FILE\n"
     "  still works, with a warning: other users can read it.)\n"
     "quorvant pfx import|query|export|mobile|passwd ...\n"
     "  ImportPfxToIE, QueryPfxInfo, ExportPfxFromIE, ExportMobileFrom*,\n"
     "  ChangePfxPasswd. Passwords are read from the terminal without echo, or a\n"
     "  line each from standard input (--password-stdin) or descriptor N\n"
     "  (--password-fd N); never from the command line.\n"},
    {"filter",
     "quorvant filter TEXT [--flags N] [--key-usage N] [--store MY|CA|ROOT]\n"
     "  The certificates CertificateFilter selects from a store (MY by default).\n"
     "  TEXT: alternatives split at //, each a list of S_ (subject) and I_\n"
     "  (issuer) entries, e.g. 'S_CN=Alice' or 'S_O=Example//I_CN=Example CA'.\n"
     "  Authority certificates are always skipped: one whose subject equals its\n"
     "  issuer (every self-signed certificate) or whose key usage allows signing\n"
     "  certificates. Try it on a certificate a CA issued.\n"
     "  --flags, only the low byte is read:\n"
     "    0x03  mode: 2 keeps only the certificate preferred by date\n"
     "    0x04  reject certificates outside their validity period\n"
     "    0x08  match entries as a Match-filter (subject and issuer)\n"
     "    0x20, 0x40, 0x80  the date preference of mode 2\n"
     "  --key-usage, bits every certificate must have (0: none):\n"
     "    0x80 digital signature, 0x40 non-repudiation, 0x20 key encipherment,\n"
     "    0x10 data encipherment, 0x08 key agreement, 0x04 certificate signing,\n"
     "    0x02 CRL signing, 0x01 encipher only\n"},
    {"encrypt",
     "quorvant encrypt --key HEX|--to CERT [--alg N] [--ansi] [--out FILE] [INPUT]\n"
     "  SymEncrypt with a key in hex (DES 16, Triple-DES 32 or 48 digits), or\n"
     "  CertEncryptPkcs7 to the certificate(s) in CERT. INPUT or standard input.\n"
     "  --alg: the iAlgorithm; --ansi: the text in the code page (flag 0x800).\n"},
    {"decrypt",
     "quorvant decrypt [--key HEX] [--alg N] [--ansi] [--out FILE] [INPUT]\n"
     "  SymDecrypt with --key, else CertDecryptPkcs7 with a key of MY (or a PFX\n"
     "  chosen in the file dialog).\n"},
    {"regsvr",
     "quorvant regsvr [-u] [--machine] [LIBRARY]\n"
     "  DllRegisterServer (or with -u DllUnregisterServer) of the library, for\n"
     "  this user; --machine writes HKLM (root only).\n"},
    {"select",
     "quorvant select [FILTER] [selection options]\n"
     "  SelectSignerEx2 over MY (and a PFX file); prints the signer's thumbprint\n"
     "  and subject. quorvant help sign lists the selection options.\n"},
    {"sign",
     "quorvant sign [--pkcs7] [--flags N] [--filter F] [selection options] TEXT|-\n"
     "  Selects a signer (or takes over a published one) and signs TEXT (- reads\n"
     "  standard input) with SignPkcs1, or SignPkcs7 with --pkcs7.\n"
     "  Selection options: --select-flags N, --key-usage N, --date D,\n"
     "  --pfx FOLDER NAME with --password-stdin (the password's line comes before\n"
     "  the text of -) or --password-fd N (SelectSignerEx), --port N.\n"},
    {"enrol",
     "quorvant enrol request CN [--bits N] [--flags N] [--pair]\n"
     "  CreatePKCS10 (or CreatePKCS10Pair): a new key pair and its request in Base64.\n"
     "quorvant enrol accept FILE\n"
     "  AcceptPKCS7 of a CA's reply (PKCS #7 or a certificate; DER, BER, PEM, Base64).\n"
     "quorvant enrol pending [--purge-older-than DAYS]\n"
     "  Keys whose certificate has not come yet; purge deletes old ones.\n"},
    {"bridge",
     "quorvant bridge install [--user|--system|--dir DIR]\n"
     "  Writes the native messaging host manifests of quorvant-bridge for\n"
     "  Chromium, Google Chrome and Firefox (--user: this user's, the default;\n"
     "  --system: every user's, as root; --dir: one Chromium-style manifest in DIR).\n"},
    {"help", "quorvant help [COMMAND]\n  This help, or one command's.\n"},
};

const CommandHelp* Find(std::string_view name) {
  for (const CommandHelp& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

}  // namespace

void PrintUsage(std::FILE* out) {
  std::fputs(
      "usage: quorvant COMMAND [ARG...]\n"
      "  call NAME [ARG...] [--then ...]  call exports by name on one engine\n"
      "  exports                         every export and its signature\n"
      "  version                         the component's file version\n"
      "  errors                          the result-code message table\n"
      "  hash [--md5|...] [--ansi] TEXT  Hash of a text\n"
      "  hash-file [--md5|...] FILE      HashFile of a file\n"
      "  reg query|add|delete KEY ...    the registry store\n"
      "  store list|add|delete ...       the certificate stores MY, CA, ROOT\n"
      "  cert FILE                       the fields of a certificate\n"
      "  pfx info|import|query|export|mobile|passwd ...  PKCS #12 files\n"
      "  filter TEXT [--flags N] ...     what CertificateFilter selects\n"
      "  encrypt --key HEX|--to CERT ...  SymEncrypt or CertEncryptPkcs7\n"
      "  decrypt [--key HEX] ...         SymDecrypt or CertDecryptPkcs7\n"
      "  regsvr [-u] [--machine] [LIB]  register the automation control\n"
      "  select [FILTER] ...            SelectSignerEx2: choose the signer\n"
      "  sign [--pkcs7] [--flags N] TEXT  SignPkcs1 or SignPkcs7\n"
      "  enrol request|accept|pending ...  enrolment: PKCS #10 out, the CA's reply in\n"
      "  bridge install [--user|--system|--dir DIR]  the browsers' host manifests\n"
      "  help [COMMAND]                  a command's options and flag bits\n"
      "Every command that reaches the component ends with its result line,\n"
      "`result: CODE MESSAGE`; the exit status is 0 for code 0, 1 for another\n"
      "code and 64 for a command line that does not parse.\n",
      out);
}

int UsageError() {
  PrintUsage(stderr);
  return kExitUsage;
}

int HelpCommand(const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintUsage(stdout);
    return 0;
  }
  const CommandHelp* command = args.size() == 1 ? Find(args[0]) : nullptr;
  if (command == nullptr) {
    std::fprintf(stderr, "quorvant: no command named %s\n", args[0].c_str());
    return UsageError();
  }
  std::fwrite(command->text.data(), 1, command->text.size(), stdout);
  return 0;
}

bool AsksForHelp(const std::vector<std::string>& args) {
  return !args.empty() && (args[0] == "--help" || args[0] == "-h");
}

}  // namespace quorvant::cli
