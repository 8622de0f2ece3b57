#include "store_command.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include "certs/certificate_info.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "host/system_messages.h"
#include "platform/cert_store.h"
#include "platform/platform_database.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant store list [MY|CA|ROOT]\n"
               "       quorvant store add MY|CA|ROOT FILE\n"
               "       quorvant store delete [MY|CA|ROOT] N\n"
               "       quorvant cert FILE\n");
  return kExitUsage;
}

// Component text (the code page) for the terminal (UTF-8).
std::string Show(const std::string& narrow) { return Utf8FromWide(ToInterfaceText(narrow)); }

std::string ErrorText(uint32_t code) {
  const std::string text(SystemMessageLine(code));
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", code);
  return text.empty() ? number : text + " (" + number + ")";
}

int Fail(const std::string& what, uint32_t code) {
  std::fprintf(stderr, "quorvant: %s: %s\n", what.c_str(), ErrorText(code).c_str());
  return 1;
}

std::optional<std::string> StoreName(const std::string& arg) {
  std::string upper;
  for (char c : arg) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "MY" || upper == "CA" || upper == "ROOT") return upper;
  return std::nullopt;
}

// A DER certificate, or its Base64 between PEM marker lines.
std::optional<std::vector<uint8_t>> ReadCertificateFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quorvant: cannot read %s\n", path.c_str());
    return std::nullopt;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string text(bytes.begin(), bytes.end());
  if (text.find("-----BEGIN") == std::string::npos) return bytes;
  ByteBuffer der;
  const size_t begin = text.find("-----BEGIN");
  if (!Base64Decode(text.c_str() + begin, der) || der.empty()) {
    std::fprintf(stderr, "quorvant: %s: the PEM text does not decode\n", path.c_str());
    return std::nullopt;
  }
  return std::vector<uint8_t>(der.data(), der.data() + der.size());
}

bool OpenStore(const std::string& name, CertStore* store) {
  const auto stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
  if (const uint32_t error = stores->openSystemStore(name, store)) {
    Fail("store " + name, error);
    return false;
  }
  return true;
}

bool Enumerate(const CertStore& store, std::vector<CertContext>* out) {
  if (const uint32_t error = store.enumerate(out)) {
    Fail("store " + store.name(), error);
    return false;
  }
  return true;
}

int List(const std::string& name) {
  CertStore store;
  std::vector<CertContext> all;
  if (!OpenStore(name, &store) || !Enumerate(store, &all)) return 1;
  std::printf("%s: %zu certificate%s\n", name.c_str(), all.size(), all.size() == 1 ? "" : "s");
  for (size_t i = 0; i < all.size(); ++i) PrintCertificateEntry(i + 1, all[i]);
  return 0;
}

int Add(const std::string& name, const std::string& file) {
  const auto der = ReadCertificateFile(file);
  if (!der) return 1;
  CertStore store;
  if (!OpenStore(name, &store)) return 1;
  // As the authority certificates of an enrolment are stored: an equal
  // certificate is replaced in its place and keeps its properties.
  CertContext added;
  if (const uint32_t error =
          store.addEncoded(*der, AddDisposition::kReplaceExistingInheritProperties, &added)) {
    return Fail(file, error);
  }
  std::vector<CertContext> all;
  if (!Enumerate(store, &all)) return 1;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].sameElement(added)) {
      std::printf("%s: added as %zu\n", name.c_str(), i + 1);
      PrintCertificateEntry(i + 1, all[i]);
    }
  }
  return 0;
}

int Delete(const std::string& name, const std::string& numberText) {
  char* end = nullptr;
  const unsigned long number = std::strtoul(numberText.c_str(), &end, 10);
  if (numberText.empty() || *end != '\0' || number == 0) return Usage();
  CertStore store;
  std::vector<CertContext> all;
  if (!OpenStore(name, &store) || !Enumerate(store, &all)) return 1;
  if (number > all.size()) {
    std::fprintf(stderr, "quorvant: %s holds %zu certificate%s\n", name.c_str(), all.size(),
                 all.size() == 1 ? "" : "s");
    return 1;
  }
  const CertContext& victim = all[number - 1];
  const std::string subject = Show(CertificateInfo(victim).subject());
  if (const uint32_t error = CertStore::DeleteCertificate(victim)) {
    return Fail("store " + name, error);
  }
  std::printf("%s: deleted %lu %s\n", name.c_str(), number, subject.c_str());
  return 0;
}

}  // namespace

void PrintCertificateEntry(size_t number, const CertContext& context) {
  const CertificateInfo info(context);
  if (!info.valid()) {
    std::printf("[%zu] (does not parse: %s)\n", number, ErrorText(info.parseError()).c_str());
    return;
  }
  std::printf("[%zu] %s\n", number, Show(info.subject()).c_str());
  std::printf("    Issuer:      %s\n", Show(info.issuer()).c_str());
  std::printf("    Serial:      %s\n", info.serial().c_str());
  std::printf("    Valid:       %s - %s\n", info.notBefore(TimeForm::kDateTime).c_str(),
              info.notAfter(TimeForm::kDateTime).c_str());
  std::printf("    Thumbprint:  %s\n", info.thumbprint().c_str());
  KeyProviderInfo key;
  if (context.keyProviderInfo(&key) == 0) {
    std::printf("    Key:         %s in %s (type %u, key spec %u)\n",
                Utf8FromWide(key.containerName).c_str(), Utf8FromWide(key.providerName).c_str(),
                key.providerType, key.keySpec);
  }
  std::u16string friendly;
  if (context.friendlyName(&friendly) == 0) {
    std::printf("    Name:        %s\n", Utf8FromWide(friendly).c_str());
  }
}

int StoreCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& verb = args[0];
  if (verb == "list" && args.size() <= 2) {
    const auto name = args.size() == 2 ? StoreName(args[1]) : std::optional<std::string>("MY");
    return name ? List(*name) : Usage();
  }
  if (verb == "add" && args.size() == 3) {
    const auto name = StoreName(args[1]);
    return name ? Add(*name, args[2]) : Usage();
  }
  if (verb == "delete" && (args.size() == 2 || args.size() == 3)) {
    const auto name = args.size() == 3 ? StoreName(args[1]) : std::optional<std::string>("MY");
    return name ? Delete(*name, args.back()) : Usage();
  }
  return Usage();
}

int CertCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage();
  const auto der = ReadCertificateFile(args[0]);
  if (!der) return 1;
  const CertificateInfo info(*der);
  if (!info.valid()) return Fail(args[0] + " is not a certificate", info.parseError());
  auto time = [](const std::string& compact, const std::string& full) {
    return compact + " (" + full + ")";
  };
  std::printf("Subject:     %s\n", Show(info.subject()).c_str());
  std::printf("Subject CN:  %s\n", Show(info.subjectCommonName()).c_str());
  std::printf("Issuer:      %s\n", Show(info.issuer()).c_str());
  std::printf("Issuer CN:   %s\n", Show(info.issuerCommonName()).c_str());
  std::printf("Serial:      %s\n", info.serial().c_str());
  std::printf("Thumbprint:  %s\n", info.thumbprint().c_str());
  std::printf("Not before:  %s\n",
              time(info.notBefore(), info.notBefore(TimeForm::kDateTime)).c_str());
  std::printf("Not after:   %s\n", time(info.notAfter(), info.notAfter(TimeForm::kDateTime)).c_str());
  std::printf("Key usage:   %d (0x%02X)\n", info.keyUsage(), static_cast<unsigned>(info.keyUsage()));
  std::printf("Authority:   %s\n", info.IsCaCertificate() ? "yes" : "no");
  std::printf("Base64:      %s\n", info.base64().c_str());
  return 0;
}

}  // namespace quorvant::cli
