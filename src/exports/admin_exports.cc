// The administration interface (QuorvantAdmin.h): the certificate stores,
// PFX files and registry store as a tool looks after them. Each entry holds
// the engine lock, builds its report and leaves its outcome in theEngine
// like an operation, so GetErrorCode and GetErrorMsg read it.
#include "QuorvantAdmin.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <optional>
#include <set>

#include "base/automation_string.h"
#include "base/file_reader.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "certs/certificate_info.h"
#include "enroll/pending_record.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "engine/error_messages.h"
#include "exports/the_engine.h"
#include "host/registry/data_paths.h"
#include "host/registry/registry.h"
#include "host/system/system_messages.h"
#include "pfx/certificate_filter.h"
#include "pfx/pfx_store.h"
#include "platform/stores/cert_store.h"
#include "platform/keys/crypto_provider.h"
#include "platform/database/platform_database.h"

namespace quorvant {
namespace {

// What an administration call hands back: its report (UTF-8 while it is
// built) and the outcome it leaves in the engine.
struct AdminResult {
  std::string report;
  int32_t code = rc::kSuccess;
  uint32_t systemError = 0;

  void line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    char buffer[1024];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof buffer) {
      report.append(buffer, static_cast<size_t>(n));
    } else {
      std::string big(static_cast<size_t>(n) + 1, '\0');
      va_start(args, format);
      std::vsnprintf(big.data(), big.size(), format, args);
      va_end(args);
      big.pop_back();
      report += big;
    }
    report += '\n';
  }
  // A failure: its one-line explanation replaces the report.
  AdminResult& fail(int32_t resultCode, uint32_t error, const std::string& what) {
    code = resultCode;
    systemError = error;
    report = what + "\n";
    return *this;
  }
};

void Leave(int32_t code, uint32_t systemError) {
  if (SecurityEngine* engine = TheEngine()) engine->setAdministrationResult(code, systemError);
}

template <class Work>
BSTR ReportEntry(Work&& work) noexcept {
  EngineLock lock;
  try {
    AdminResult result = work();
    Leave(result.code, result.systemError);
    BSTR text = MakeAutomationString(WideFromUtf8(result.report));
    if (text == nullptr) Leave(rc::kAllocationFailed, 0);
    return text != nullptr ? text : MakeAutomationString(std::u16string_view());
  } catch (const std::bad_alloc&) {
    Leave(rc::kAllocationFailed, 0);
  } catch (...) {
    Leave(rc::kGeneralError, 0);
  }
  return MakeAutomationString(std::u16string_view());
}

std::string Utf8(const OLECHAR* text) { return Utf8FromWide(ArgumentText(text)); }

// Component text (the code page) for the report (UTF-8).
std::string Show(const std::string& narrow) { return Utf8FromWide(ToInterfaceText(narrow)); }

std::string ErrorText(uint32_t code) {
  const std::string text(SystemMessageLine(code));
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", code);
  return text.empty() ? number : text + " (" + number + ")";
}

std::optional<std::string> StoreName(const OLECHAR* arg, const char* absent) {
  std::string upper;
  for (char c : Utf8(arg)) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.empty() && absent != nullptr) return std::string(absent);
  if (upper == "MY" || upper == "CA" || upper == "ROOT") return upper;
  return std::nullopt;
}

AdminResult& UnknownStore(AdminResult& result, const OLECHAR* arg) {
  return result.fail(rc::kBadArgument, 0,
                     "no store named '" + Utf8(arg) + "': the stores are MY, CA and ROOT");
}

// A DER certificate, or its Base64 between PEM marker lines.
std::optional<std::vector<uint8_t>> ReadCertificateFile(const std::string& path,
                                                       AdminResult& result) {
  Result<std::string> read = ReadRegularFile(path, kCertificateFileMaxSize);
  if (!read.ok()) {
    const uint32_t error = read.outcome().systemError();
    result.fail(rc::kFileUnreadable, error,
                "cannot read " + path + ": " + std::string(SystemMessageLine(error)));
    return std::nullopt;
  }
  const std::string& text = *read;
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  const size_t begin = text.find("-----BEGIN");
  if (begin == std::string::npos) return bytes;
  ByteBuffer der;
  if (!Base64Decode(text.c_str() + begin, der) || der.empty()) {
    result.fail(rc::kBadCertificate, 0, path + ": the PEM text does not decode");
    return std::nullopt;
  }
  return std::vector<uint8_t>(der.data(), der.data() + der.size());
}

bool OpenStore(const std::string& name, CertStore* store, AdminResult& result) {
  const auto stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
  if (const uint32_t error = stores->openSystemStore(name, store)) {
    result.fail(rc::kGeneralError, error, "store " + name + ": " + ErrorText(error));
    return false;
  }
  return true;
}

bool Enumerate(const CertStore& store, std::vector<CertContext>* out, AdminResult& result) {
  if (const uint32_t error = store.enumerate(out)) {
    result.fail(rc::kGeneralError, error, "store " + store.name() + ": " + ErrorText(error));
    return false;
  }
  return true;
}

// A store named by the caller (MY when none is) with its certificates in
// the order numbers count them.
struct StoreListing {
  std::string name;
  CertStore store;
  std::vector<CertContext> all;
};
bool ListStore(const OLECHAR* strStore, AdminResult& result, StoreListing* out) {
  const auto name = StoreName(strStore, "MY");
  if (!name) {
    UnknownStore(result, strStore);
    return false;
  }
  out->name = *name;
  return OpenStore(out->name, &out->store, result) && Enumerate(out->store, &out->all, result);
}

void CertificateEntry(AdminResult& r, size_t number, const CertContext& context) {
  const CertificateInfo info(context);
  if (!info.valid()) {
    r.line("[%zu] (does not parse: %s)", number, ErrorText(info.parseError()).c_str());
    return;
  }
  r.line("[%zu] %s", number, Show(info.subject()).c_str());
  r.line("    Issuer:      %s", Show(info.issuer()).c_str());
  r.line("    Serial:      %s", info.serial().c_str());
  r.line("    Valid:       %s - %s", info.notBefore(TimeForm::kDateTime).c_str(),
         info.notAfter(TimeForm::kDateTime).c_str());
  r.line("    Thumbprint:  %s", info.thumbprint().c_str());
  KeyProviderInfo key;
  if (context.keyProviderInfo(&key) == 0) {
    r.line("    Key:         %s in %s (type %u, key spec %u)",
           Utf8FromWide(key.containerName).c_str(), Utf8FromWide(key.providerName).c_str(),
           key.providerType, key.keySpec);
  }
  std::u16string friendly;
  if (context.friendlyName(&friendly) == 0) {
    r.line("    Name:        %s", Utf8FromWide(friendly).c_str());
  }
}

// `keys`: the key database the certificate's container lives in (the
// user's when null).
bool HasPrivateKey(const CertContext& certificate,
                   const std::shared_ptr<PlatformDatabase>& keys = nullptr) {
  KeyProviderInfo info;
  std::unique_ptr<ProviderContext> context;
  uint32_t keySpec = 0;
  return certificate.keyProviderInfo(&info) == 0 &&
         AcquireCertificatePrivateKey(info, 0, &context, &keySpec, keys) == 0;
}

// --- The registry store ----------------------------------------------------

struct RootName {
  const char* shortName;
  const char* longName;
  RegRoot root;
};
constexpr RootName kRoots[] = {
    {"HKCU", "HKEY_CURRENT_USER", RegRoot::kCurrentUser},
    {"HKLM", "HKEY_LOCAL_MACHINE", RegRoot::kLocalMachine},
    {"HKCR", "HKEY_CLASSES_ROOT", RegRoot::kClassesRoot},
};

struct KeyName {
  RegRoot root;
  std::string rootName;  // long form, for the report
  std::string path;      // below the root, without a leading backslash
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::optional<KeyName> ParseKey(const std::string& text) {
  const size_t slash = text.find('\\');
  const std::string head = text.substr(0, slash);
  for (const RootName& r : kRoots) {
    if (EqualsIgnoreCase(head, r.shortName) || EqualsIgnoreCase(head, r.longName)) {
      KeyName key{r.root, r.longName, slash == std::string::npos ? "" : text.substr(slash + 1)};
      while (!key.path.empty() && key.path.back() == '\\') key.path.pop_back();
      return key;
    }
  }
  return std::nullopt;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case reg::kSz: return "REG_SZ";
    case reg::kExpandSz: return "REG_EXPAND_SZ";
    case reg::kBinary: return "REG_BINARY";
    case reg::kDword: return "REG_DWORD";
    case reg::kMultiSz: return "REG_MULTI_SZ";
    case reg::kQword: return "REG_QWORD";
    default: return "REG_NONE";
  }
}

std::optional<uint32_t> TypeFromName(const std::string& name) {
  if (name.empty()) return reg::kSz;
  const std::pair<const char*, uint32_t> types[] = {
      {"REG_SZ", reg::kSz},         {"REG_EXPAND_SZ", reg::kExpandSz},
      {"REG_BINARY", reg::kBinary}, {"REG_DWORD", reg::kDword},
      {"REG_QWORD", reg::kQword},   {"REG_NONE", reg::kNone},
  };
  for (const auto& [n, t] : types) {
    if (EqualsIgnoreCase(name, n)) return t;
  }
  return std::nullopt;
}

std::u16string FromUtf16Le(const std::vector<uint8_t>& data) {
  std::u16string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  return text;
}

std::vector<uint8_t> ToUtf16Le(std::u16string_view text) {
  std::vector<uint8_t> data;
  for (char16_t c : text) {
    data.push_back(static_cast<uint8_t>(c & 0xFF));
    data.push_back(static_cast<uint8_t>(c >> 8));
  }
  data.insert(data.end(), {0, 0});
  return data;
}

std::string DataText(const RegValue& value) {
  char buffer[32];
  switch (value.type) {
    case reg::kSz:
    case reg::kExpandSz:
      return Utf8FromWide(FromUtf16Le(value.data));
    case reg::kDword:
    case reg::kQword: {
      uint64_t number = 0;
      for (size_t i = 0; i < value.data.size() && i < 8; ++i) {
        number |= uint64_t{value.data[i]} << (8 * i);
      }
      std::snprintf(buffer, sizeof(buffer), "0x%llx", static_cast<unsigned long long>(number));
      return buffer;
    }
    default: {
      std::string hex;
      for (uint8_t b : value.data) {
        std::snprintf(buffer, sizeof(buffer), "%02X", b);
        hex += buffer;
      }
      return hex;
    }
  }
}

std::optional<std::vector<uint8_t>> DataFromText(uint32_t type, const std::string& text) {
  switch (type) {
    case reg::kSz:
    case reg::kExpandSz:
      return ToUtf16Le(WideFromUtf8(text));
    case reg::kDword:
    case reg::kQword: {
      char* end = nullptr;
      errno = 0;
      unsigned long long number = std::strtoull(text.c_str(), &end, 0);
      if (text.empty() || *end != '\0' || errno != 0 ||
          (type == reg::kDword && number > 0xFFFFFFFFull)) {
        return std::nullopt;
      }
      std::vector<uint8_t> data(type == reg::kDword ? 4 : 8);
      for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(number >> (8 * i));
      return data;
    }
    case reg::kBinary: {
      if (text.size() % 2 != 0) return std::nullopt;
      std::vector<uint8_t> data;
      for (size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = text.substr(i, 2);
        const long b = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0') return std::nullopt;
        data.push_back(static_cast<uint8_t>(b));
      }
      return data;
    }
    default:
      return std::vector<uint8_t>();
  }
}

AdminResult& RegistryFailure(AdminResult& result, uint32_t error) {
  std::string text(SystemMessageLine(error));
  if (error == reg::kErrFileNotFound) {
    text = "The system was unable to find the specified registry key or value.";
  }
  return result.fail(rc::kGeneralError, error, "ERROR: " + text);
}

// The registry store with the caller's key parsed; null when the key has
// no root or the store cannot be opened, and the result says why.
std::unique_ptr<Registry> OpenRegistryAt(const OLECHAR* strKey, AdminResult& result,
                                         KeyName* key) {
  std::optional<KeyName> parsed = ParseKey(Utf8(strKey));
  if (!parsed) {
    result.fail(rc::kBadArgument, 0,
                "ERROR: no registry root in '" + Utf8(strKey) + "': begin with HKCU, HKLM or HKCR");
    return nullptr;
  }
  *key = std::move(*parsed);
  std::unique_ptr<Registry> registry =
      OpenSqliteRegistry(DefaultRegistryPaths(ProcessEnvironment()));
  if (!registry) RegistryFailure(result, reg::kErrOutOfMemory);
  return registry;
}

}  // namespace
}  // namespace quorvant

using quorvant::AdminResult;

extern "C" {

QUORVANT_API BSTR QuorvantErrorTable(void) {
  return quorvant::ReportEntry([] {
    AdminResult r;
    for (const quorvant::ErrorMessageEntry& entry : quorvant::ErrorMessageTable()) {
      r.line("%d\t%s", entry.code, quorvant::Utf8FromWide(entry.text).c_str());
    }
    r.line("default\t%s", quorvant::Utf8FromWide(quorvant::DefaultErrorMessage()).c_str());
    return r;
  });
}

QUORVANT_API BSTR QuorvantStoreList(const OLECHAR* strStore) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    StoreListing listing;
    if (!ListStore(strStore, r, &listing)) return r;
    const std::vector<CertContext>& all = listing.all;
    r.line("%s: %zu certificate%s", listing.name.c_str(), all.size(), all.size() == 1 ? "" : "s");
    for (size_t i = 0; i < all.size(); ++i) CertificateEntry(r, i + 1, all[i]);
    return r;
  });
}

QUORVANT_API BSTR QuorvantStoreAdd(const OLECHAR* strStore, const OLECHAR* strFileName) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    const auto name = StoreName(strStore, nullptr);
    if (!name) return UnknownStore(r, strStore);
    const std::string file = Utf8(strFileName);
    const auto der = ReadCertificateFile(file, r);
    if (!der) return r;
    CertStore store;
    if (!OpenStore(*name, &store, r)) return r;
    // As the authority certificates of an enrolment are stored: an equal
    // certificate is replaced in its place and keeps its properties.
    CertContext added;
    if (const uint32_t error =
            store.addEncoded(*der, AddDisposition::kReplaceExistingInheritProperties, &added)) {
      return r.fail(rc::kBadCertificate, error, file + ": " + ErrorText(error));
    }
    std::vector<CertContext> all;
    if (!Enumerate(store, &all, r)) return r;
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i].sameElement(added)) {
        r.line("%s: added as %zu", name->c_str(), i + 1);
        CertificateEntry(r, i + 1, all[i]);
      }
    }
    return r;
  });
}

QUORVANT_API BSTR QuorvantStoreDelete(const OLECHAR* strStore, int32_t dwNumber) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    StoreListing listing;
    if (!ListStore(strStore, r, &listing)) return r;
    const std::vector<CertContext>& all = listing.all;
    const std::string* name = &listing.name;
    if (dwNumber < 1 || static_cast<size_t>(dwNumber) > all.size()) {
      char what[96];
      std::snprintf(what, sizeof what, "%s holds %zu certificate%s", name->c_str(), all.size(),
                    all.size() == 1 ? "" : "s");
      return r.fail(rc::kBadArgument, 0, what);
    }
    const CertContext& victim = all[static_cast<size_t>(dwNumber) - 1];
    const std::string subject = Show(CertificateInfo(victim).subject());
    if (const uint32_t error = CertStore::DeleteCertificate(victim)) {
      return r.fail(rc::kGeneralError, error, "store " + *name + ": " + ErrorText(error));
    }
    r.line("%s: deleted %d %s", name->c_str(), dwNumber, subject.c_str());
    return r;
  });
}

QUORVANT_API BSTR QuorvantCertificateFile(const OLECHAR* strFileName) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    const std::string file = Utf8(strFileName);
    const auto der = ReadCertificateFile(file, r);
    if (!der) return r;
    const CertificateInfo info(*der);
    if (!info.valid()) {
      return r.fail(rc::kBadCertificate, info.parseError(),
                    file + " is not a certificate: " + ErrorText(info.parseError()));
    }
    auto time = [](const std::string& compact, const std::string& full) {
      return compact + " (" + full + ")";
    };
    r.line("Subject:     %s", Show(info.subject()).c_str());
    r.line("Subject CN:  %s", Show(info.subjectCommonName()).c_str());
    r.line("Issuer:      %s", Show(info.issuer()).c_str());
    r.line("Issuer CN:   %s", Show(info.issuerCommonName()).c_str());
    r.line("Serial:      %s", info.serial().c_str());
    r.line("Thumbprint:  %s", info.thumbprint().c_str());
    r.line("Not before:  %s", time(info.notBefore(), info.notBefore(TimeForm::kDateTime)).c_str());
    r.line("Not after:   %s", time(info.notAfter(), info.notAfter(TimeForm::kDateTime)).c_str());
    r.line("Key usage:   %d (0x%02X)", info.keyUsage(), static_cast<unsigned>(info.keyUsage()));
    r.line("Authority:   %s", info.IsCaCertificate() ? "yes" : "no");
    r.line("Base64:      %s", info.base64().c_str());
    return r;
  });
}

QUORVANT_API BSTR QuorvantPfxInfo(const OLECHAR* strFileName, const OLECHAR* strPasswd) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    // The component takes narrow code-page text.
    const std::string shown = Utf8(strFileName);
    const std::string path = NarrowFromOsText(shown);
    const std::string password = NarrowFromOsText(Utf8(strPasswd));
    // Looking into a file leaves its keys nowhere on disk.
    PfxStore pfx(PfxKeyPlacement::kMemory);
    r.code = pfx.open(path, password, 0);
    r.systemError = r.code != 0 ? pfx.lastError() : 0;
    if (r.code == 0) {
      std::vector<CertContext> certificates;
      if (pfx.store().enumerate(&certificates) == 0) {
        r.line("%s: %zu certificate%s", shown.c_str(), certificates.size(),
               certificates.size() == 1 ? "" : "s");
        for (size_t i = 0; i < certificates.size(); ++i) {
          CertificateEntry(r, i + 1, certificates[i]);
          r.line("    Private key: %s", HasPrivateKey(certificates[i], pfx.keyDatabase()) ? "yes" : "no");
        }
      }
    }
    pfx.close();  // the imported keys go with it
    return r;
  });
}

QUORVANT_API BSTR QuorvantFilterStore(const OLECHAR* strStore, const OLECHAR* certFilter,
                                      int32_t dwFlags, int32_t dwKeyUsage) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    const auto name = StoreName(strStore, "MY");
    if (!name) return UnknownStore(r, strStore);
    const std::string filterText = NarrowFromOsText(Utf8(certFilter));
    CertificateFilterRequest request;
    request.filterText = filterText;
    request.flags = dwFlags;
    request.keyUsage = dwKeyUsage;
    request.validityTime = static_cast<int64_t>(std::time(nullptr));
    CertStore store;
    const auto stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
    if (const uint32_t error = stores->openSystemStore(*name, &store)) {
      r.code = rc::kPersonalStoreUnopenable;
      r.systemError = error;
      return r;
    }
    std::vector<CertContext> selected;
    r.code = FilterCertificates(store, request, &selected, &r.systemError);
    if (r.code == 0) r.systemError = 0;
    for (const CertContext& certificate : selected) {
      const CertificateInfo info(certificate);
      r.line("%s %s", info.thumbprint().c_str(), Show(info.subject()).c_str());
    }
    return r;
  });
}

QUORVANT_API BSTR QuorvantRegQuery(const OLECHAR* strKey, const OLECHAR* strValueName) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    KeyName parsed;
    std::unique_ptr<Registry> registry = OpenRegistryAt(strKey, r, &parsed);
    if (!registry) return r;
    const KeyName* key = &parsed;
    const std::string full = key->rootName + (key->path.empty() ? "" : "\\" + key->path);
    if (uint32_t e = registry->keyExists(key->root, key->path)) return RegistryFailure(r, e);
    auto value = [&](const std::string& name, const RegValue& v) {
      r.line("    %s    %s    %s", name.empty() ? "(Default)" : name.c_str(), TypeName(v.type),
             DataText(v).c_str());
    };
    if (strValueName != nullptr) {
      const std::string name = Utf8(strValueName);
      RegValue v;
      if (uint32_t e = registry->queryValue(key->root, key->path, name, &v)) {
        return RegistryFailure(r, e);
      }
      r.line("\n%s", full.c_str());
      value(name, v);
      return r;
    }
    r.line("\n%s", full.c_str());
    std::string name;
    RegValue v;
    for (uint32_t i = 0; registry->enumValue(key->root, key->path, i, &name, &v) == 0; ++i) {
      value(name, v);
    }
    bool first = true;
    for (uint32_t i = 0; registry->enumSubkey(key->root, key->path, i, &name) == 0; ++i) {
      if (first) r.line("%s", "");
      first = false;
      r.line("%s\\%s", full.c_str(), name.c_str());
    }
    return r;
  });
}

QUORVANT_API BSTR QuorvantRegAdd(const OLECHAR* strKey, const OLECHAR* strValueName,
                                 const OLECHAR* strType, const OLECHAR* strData) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    const std::optional<uint32_t> type = TypeFromName(Utf8(strType));
    if (!type) return r.fail(rc::kBadArgument, 0, "ERROR: no registry type " + Utf8(strType));
    const auto data = DataFromText(*type, Utf8(strData));
    if (!data && (strValueName != nullptr || strData != nullptr)) {
      return r.fail(rc::kBadArgument, 0,
                    "ERROR: Invalid value for the type " + std::string(TypeName(*type)) + ".");
    }
    KeyName parsed;
    std::unique_ptr<Registry> registry = OpenRegistryAt(strKey, r, &parsed);
    if (!registry) return r;
    const KeyName* key = &parsed;
    if (uint32_t e = registry->createKey(key->root, key->path)) return RegistryFailure(r, e);
    if (strValueName != nullptr || strData != nullptr) {
      if (uint32_t e = registry->setValue(key->root, key->path, Utf8(strValueName), *type, *data)) {
        return RegistryFailure(r, e);
      }
    }
    r.line("The operation completed successfully.");
    return r;
  });
}

QUORVANT_API BSTR QuorvantRegDelete(const OLECHAR* strKey, const OLECHAR* strValueName,
                                    int32_t dwAllValues) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    KeyName parsed;
    std::unique_ptr<Registry> registry = OpenRegistryAt(strKey, r, &parsed);
    if (!registry) return r;
    const KeyName* key = &parsed;
    uint32_t e = 0;
    if (strValueName != nullptr) {
      e = registry->deleteValue(key->root, key->path, Utf8(strValueName));
    } else if (dwAllValues != 0) {
      std::string name;
      while ((e = registry->enumValue(key->root, key->path, 0, &name, nullptr)) == 0) {
        if ((e = registry->deleteValue(key->root, key->path, name)) != 0) break;
      }
      if (e == reg::kErrNoMoreItems) e = 0;
    } else {
      e = registry->deleteTree(key->root, key->path);
    }
    if (e != 0) return RegistryFailure(r, e);
    r.line("The operation completed successfully.");
    return r;
  });
}

}  // extern "C"

// --- Pending enrolment keys ----------------------------------------------

namespace quorvant {
namespace {

// A pending-key record's local "%4d/%02d/%02d %02d:%02d:%02d" as an instant.
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

}  // namespace
}  // namespace quorvant

QUORVANT_API BSTR QuorvantPendingKeys(int32_t purgeOlderThanDays) {
  return quorvant::ReportEntry([&] {
    using namespace quorvant;
    AdminResult r;
    std::unique_ptr<Registry> registry =
        OpenSqliteRegistry(DefaultRegistryPaths(ProcessEnvironment()));
    if (!registry) return r.fail(rc::kAllocationFailed, 0, "the registry cannot be opened");
    // The containers that already have their certificate in MY.
    std::set<std::u16string> installed;
    const auto stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
    CertStore personal;
    std::vector<CertContext> certificates;
    if (const uint32_t error = stores->openSystemStore("MY", &personal)) {
      return r.fail(rc::kPersonalStoreUnopenable, error, "MY cannot be opened");
    }
    if (const uint32_t error = personal.enumerate(&certificates)) {
      return r.fail(rc::kPersonalStoreUnopenable, error, "MY cannot be read");
    }
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
      // A record is a key of values only; one with keys below it is the
      // component's own settings (the bridge's approved sites), not a
      // damaged record.
      std::string below;
      if (!record && registry->enumSubkey(RegRoot::kCurrentUser,
                                          std::string(kRecordPath) + "\\" + name, 0,
                                          &below) == 0) {
        continue;
      }
      const std::string when = record ? record->dateTime : std::string("?");
      const std::string cn = record ? Utf8FromWide(ToInterfaceText(record->commonName)) : "?";
      ++pending;
      r.line("%s  %s  key spec %u  CN=%s", name.c_str(), when.c_str(), record ? record->keySpec : 0,
             cn.c_str());
      if (purgeOlderThanDays < 0 || !record) continue;
      const std::optional<int64_t> made = RecordInstant(record->dateTime);
      if (!made || now - *made < int64_t{purgeOlderThanDays} * 86400) continue;
      std::unique_ptr<ProviderContext> none;
      (void)ProviderContext::AcquireUtf8(name, record->providerName, record->providerType,
                                         kCryptDeletekeyset, &none);
      if (const uint32_t error = registry->deleteTree(RegRoot::kCurrentUser,
                                                      std::string(kRecordPath) + "\\" + name)) {
        return r.fail(rc::kAccessDenied, error, "the record of " + name + " cannot be removed");
      }
      r.line("    purged");
      ++purged;
    }
    if (purgeOlderThanDays >= 0) {
      r.line("%zu pending key%s, %zu purged", pending, pending == 1 ? "" : "s", purged);
    } else {
      r.line("%zu pending key%s", pending, pending == 1 ? "" : "s");
    }
    return r;
  });
}
