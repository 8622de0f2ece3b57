#include "enrol_command.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "QuorvantATL.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "engine/error_messages.h"
#include "enroll/pending_record.h"
#include "export_calls.h"
#include "host/data_paths.h"
#include "host/registry.h"
#include "host/system_messages.h"
#include "platform/cert_store.h"
#include "platform/crypto_provider.h"
#include "platform/platform_database.h"

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

std::string TakeText(BSTR text) {
  std::string out =
      text == nullptr ? std::string() : Utf8FromWide(std::u16string_view(text, SysStringLen(text)));
  SysFreeString(text);
  return out;
}

int PrintOutcome() {
  const int32_t code = ::GetErrorCode();
  std::printf("result: %d %s\n", code, TakeText(::GetErrorMsg()).c_str());
  const int32_t capi = ::GetCapiErrorCode();
  if (capi != 0) {
    std::printf("system error: 0x%08X %s\n", static_cast<uint32_t>(capi),
                TakeText(::GetCapiErrorMsg()).c_str());
  }
  return code == 0 ? 0 : 1;
}

int Result(int32_t code, uint32_t systemError) {
  std::printf("result: %d %s\n", code, Utf8FromWide(ErrorMessageText(code)).c_str());
  if (code != 0 && systemError != 0) {
    const std::string_view line = SystemMessageLine(systemError);
    std::printf("system error: 0x%08X %.*s\n", systemError, static_cast<int>(line.size()),
                line.data());
  }
  return code == 0 ? 0 : 1;
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
  const std::u16string cn = WideFromUtf8(args[1]);
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
  std::ifstream in(args[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quorvant: cannot read %s\n", args[1].c_str());
    return 1;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  // A DER reply starts with a SEQUENCE; text (PEM or Base64) goes as it is.
  std::string text = bytes;
  if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0x30) {
    ByteBuffer encoded;
    if (!Base64Encode(bytes.data(), static_cast<int32_t>(bytes.size()), encoded)) {
      std::fprintf(stderr, "quorvant: %s is too large\n", args[1].c_str());
      return 1;
    }
    text.assign(encoded.view());
  }
  const std::u16string wide = WideFromUtf8(text);
  std::printf("%d\n", ::AcceptPKCS7(wide.c_str()));
  return PrintOutcome();
}

// The record's local "%4d/%02d/%02d %02d:%02d:%02d" as an instant.
std::optional<int64_t> RecordInstant(const std::string& text) {
  std::tm t{};
  if (std::sscanf(text.c_str(), "%d/%d/%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                  &t.tm_hour, &t.tm_min, &t.tm_sec) != 6) {
    return std::nullopt;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  const std::time_t when = std::mktime(&t);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(when);
}

int Pending(const std::vector<std::string>& args) {
  std::optional<int32_t> purgeDays;
  if (args.size() == 3 && args[1] == "--purge-older-than") {
    purgeDays = ParseInt32(args[2]);
    if (!purgeDays || *purgeDays < 0) return Usage();
  } else if (args.size() != 1) {
    return Usage();
  }
  std::unique_ptr<Registry> registry =
      OpenSqliteRegistry(DefaultRegistryPaths(ProcessEnvironment()));
  if (!registry) return Result(5002, 0);

  // The containers that already have their certificate in MY.
  std::set<std::u16string> installed;
  const auto stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
  CertStore personal;
  std::vector<CertContext> certificates;
  if (const uint32_t error = stores->openSystemStore("MY", &personal)) return Result(5201, error);
  if (const uint32_t error = personal.enumerate(&certificates)) return Result(5201, error);
  for (const CertContext& c : certificates) {
    KeyProviderInfo info;
    if (c.keyProviderInfo(&info) == 0) installed.insert(info.containerName);
  }

  std::vector<std::string> names;
  for (uint32_t index = 0;; ++index) {
    std::string name;
    if (registry->enumSubkey(RegRoot::kCurrentUser, kRecordPath, index, &name) != 0) break;
    names.push_back(std::move(name));
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  size_t pending = 0;
  size_t purged = 0;
  for (const std::string& name : names) {
    if (installed.count(WideFromUtf8(name)) != 0) continue;
    const std::optional<PendingKeyRecord> record = ReadPendingRecord(*registry, kRecordPath, name);
    const std::string when = record ? record->dateTime : std::string("?");
    const std::string cn = record ? Utf8FromWide(ToInterfaceText(record->commonName)) : "?";
    ++pending;
    std::printf("%s  %s  key spec %u  CN=%s\n", name.c_str(), when.c_str(),
                record ? record->keySpec : 0, cn.c_str());
    if (!purgeDays || !record) continue;
    const std::optional<int64_t> made = RecordInstant(record->dateTime);
    if (!made || now - *made < int64_t{*purgeDays} * 86400) continue;
    std::unique_ptr<ProviderContext> none;
    (void)ProviderContext::AcquireUtf8(name, record->providerName, record->providerType,
                                       kCryptDeletekeyset, &none);
    if (const uint32_t error = registry->deleteTree(RegRoot::kCurrentUser,
                                                    std::string(kRecordPath) + "\\" + name)) {
      return Result(5906, error);
    }
    std::printf("    purged\n");
    ++purged;
  }
  std::printf("%zu pending key%s", pending, pending == 1 ? "" : "s");
  if (purgeDays) std::printf(", %zu purged", purged);
  std::printf("\n");
  return Result(0, 0);
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
