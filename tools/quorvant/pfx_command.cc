#include "pfx_command.h"

#include <cstdio>
#include <ctime>
#include <optional>

#include "certs/certificate_info.h"
#include "encoding/code_page.h"
#include "engine/error_messages.h"
#include "export_calls.h"
#include "host/system_messages.h"
#include "pfx/certificate_filter.h"
#include "pfx_operation_commands.h"
#include "pfx/pfx_store.h"
#include "platform/cert_store.h"
#include "platform/crypto_provider.h"
#include "platform/platform_database.h"
#include "store_command.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant pfx info FILE [PASSWORD]\n"
               "       quorvant pfx import|query|export|mobile|passwd ... (pfx_operation_commands.h)\n"
               "       quorvant filter TEXT [--flags N] [--key-usage N] [--store MY|CA|ROOT]\n");
  return kExitUsage;
}

// "result: CODE MESSAGE", and the system error behind a failure.
int Result(int32_t code, uint32_t systemError) {
  const std::u16string message = ErrorMessageText(code);
  std::printf("result: %d %s\n", code, Utf8FromWide(message).c_str());
  if (code != 0 && systemError != 0) {
    std::printf("system error: 0x%08X %.*s\n", systemError,
                static_cast<int>(SystemMessageLine(systemError).size()),
                SystemMessageLine(systemError).data());
  }
  return code == 0 ? 0 : 1;
}

bool HasPrivateKey(const CertContext& certificate, const std::shared_ptr<PlatformDatabase>& db) {
  KeyProviderInfo info;
  std::unique_ptr<ProviderContext> context;
  uint32_t keySpec = 0;
  return certificate.keyProviderInfo(&info) == 0 &&
         AcquireCertificatePrivateKey(info, 0, &context, &keySpec, db) == 0;
}

}  // namespace

int PfxCommand(const std::vector<std::string>& args) {
  if (IsPfxOperationCommand(args)) return PfxOperationCommand(args);
  if (args.size() < 2 || args.size() > 3 || args[0] != "info") return Usage();
  // Arguments arrive as UTF-8; the component takes narrow code-page text.
  const std::string path = NarrowFromOsText(args[1]);
  const std::string password = args.size() == 3 ? NarrowFromOsText(args[2]) : std::string();
  // Looking into a file leaves its keys nowhere on disk.
  PfxStore pfx(PfxKeyPlacement::kMemory);
  const int32_t code = pfx.open(path, password, 0);
  const uint32_t systemError = pfx.lastError();
  if (code == 0) {
    std::vector<CertContext> certificates;
    if (pfx.store().enumerate(&certificates) == 0) {
      std::printf("%s: %zu certificate%s\n", args[1].c_str(), certificates.size(),
                  certificates.size() == 1 ? "" : "s");
      for (size_t i = 0; i < certificates.size(); ++i) {
        PrintCertificateEntry(i + 1, certificates[i]);
        std::printf("    Private key: %s\n", HasPrivateKey(certificates[i], pfx.keyDatabase()) ? "yes" : "no");
      }
    }
  }
  pfx.close();  // the imported keys go with it
  return Result(code, systemError);
}

int FilterCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  CertificateFilterRequest request;
  std::string storeName = "MY";
  for (size_t i = 1; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return Usage();
    const std::string& option = args[i];
    if (option == "--store") {
      storeName = args[i + 1];
      continue;
    }
    std::optional<int32_t> value = ParseInt32(args[i + 1]);
    if (!value) return Usage();
    if (option == "--flags") {
      request.flags = *value;
    } else if (option == "--key-usage") {
      request.keyUsage = *value;
    } else {
      return Usage();
    }
  }
  const std::string filterText = NarrowFromOsText(args[0]);
  request.filterText = filterText;
  request.validityTime = static_cast<int64_t>(std::time(nullptr));
  CertStore store;
  const auto stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
  if (const uint32_t error = stores->openSystemStore(storeName, &store)) {
    return Result(5201, error);
  }
  std::vector<CertContext> selected;
  uint32_t lastError = 0;
  const int32_t code = FilterCertificates(store, request, &selected, &lastError);
  for (const CertContext& certificate : selected) {
    const CertificateInfo info(certificate);
    std::printf("%s %s\n", info.thumbprint().c_str(),
                Utf8FromWide(ToInterfaceText(info.subject())).c_str());
  }
  return Result(code, lastError);
}

}  // namespace quorvant::cli
