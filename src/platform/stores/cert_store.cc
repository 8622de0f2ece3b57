// Stores on two backings. A memory store keeps its elements in a vector.
// A system store is a name in the per-user database:
//
//   cert_entries(id, store, sha1, der)   one row per element; the id, never
//                                        reused (AUTOINCREMENT), gives the
//                                        order of enumeration
//   cert_properties(entry, prop, value)  the element's properties as bytes
//
// A system store handle keeps the elements it has handed out in a cache by
// row id, so that every reference to one row within that handle is the same
// element (and shares the in-memory key context).
#include "platform/stores/cert_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <new>
#include <unordered_map>

#include "base/win32_errors.h"
#include "platform/database/platform_database.h"

namespace quorvant {

using PropertyMap = std::map<uint32_t, std::vector<uint8_t>>;

namespace cert_store_detail {

struct Element {
  std::vector<uint8_t> der;
  Sha1Hash sha1{};
  // Set for an element of a system store: its properties live in the
  // database under rowId. Otherwise they live in `properties`.
  std::shared_ptr<PlatformDatabase> db;
  int64_t rowId = 0;

  std::mutex mutex;  // guards the two members below
  PropertyMap properties;
  std::optional<CertKeyContext> keyContext;
};

struct StoreCore {
  std::string name;                      // system stores only
  std::shared_ptr<PlatformDatabase> db;  // null for a memory store

  std::mutex mutex;  // guards the two members below
  std::vector<std::shared_ptr<Element>> entries;                // memory stores
  std::unordered_map<int64_t, std::weak_ptr<Element>> cache;    // system stores
};

// What an add brings: the certificate with its properties, or for a link the
// element itself.
struct Incoming {
  std::vector<uint8_t> der;
  Sha1Hash sha1{};
  PropertyMap properties;
  std::optional<CertKeyContext> keyContext;
  std::shared_ptr<Element> linkTo;
};

}  // namespace cert_store_detail

using cert_store_detail::Element;
using cert_store_detail::Incoming;
using cert_store_detail::StoreCore;

namespace {

constexpr uint32_t kEInvalidArg = win32::HresultFromWin32(win32::kErrorInvalidParameter);
constexpr uint32_t kEOutOfMemory = win32::HresultFromWin32(win32::kErrorOutofmemory);
constexpr size_t kMaxStoreName = 256;

constexpr const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS cert_entries("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  store TEXT NOT NULL,"
    "  sha1 BLOB NOT NULL,"
    "  der BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS cert_entries_by_store ON cert_entries(store);"
    "CREATE INDEX IF NOT EXISTS cert_entries_by_hash ON cert_entries(store, sha1);"
    "CREATE TABLE IF NOT EXISTS cert_properties("
    "  entry INTEGER NOT NULL REFERENCES cert_entries(id) ON DELETE CASCADE,"
    "  prop INTEGER NOT NULL,"
    "  value BLOB NOT NULL,"
    "  PRIMARY KEY(entry, prop)) WITHOUT ROWID;";

std::span<const uint8_t> Bytes(const std::vector<uint8_t>& v) { return v; }
std::span<const uint8_t> Bytes(const Sha1Hash& h) { return h; }

// The number the platform's certificate stores report for a SQLite result
// code.
uint32_t DatabaseError(int rc) {
  switch (ClassifySqliteError(rc)) {
    case SqliteFailure::kNoMemory: return kEOutOfMemory;
    case SqliteFailure::kBusy: return win32::kErrorBusy;
    case SqliteFailure::kFull: return win32::kErrorDiskFull;
    case SqliteFailure::kReadOnly:
    case SqliteFailure::kDenied:
    case SqliteFailure::kCantOpen: return win32::kErrorAccessDenied;
    case SqliteFailure::kCorrupt: return win32::kErrorBaddb;
    default: return win32::kErrorRegistryIoFailed;
  }
}

uint32_t LastDatabaseError(PlatformDatabase& db) {
  const int rc = sqlite3_extended_errcode(db.handle());
  return rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW ? win32::kErrorRegistryIoFailed
                                                                  : DatabaseError(rc);
}

// Runs `work` in one write transaction. `work` sets *error and answers
// false to roll back; a failure of the transaction itself is mapped from
// the database.
template <typename Work>
bool WriteTransaction(PlatformDatabase& db, uint32_t* error, Work work) {
  *error = 0;
  const bool ok = db.writeTransaction([&] { return work(); });
  if (!ok && *error == 0) *error = LastDatabaseError(db);
  return ok;
}

// Keeps *error when set, else takes the database's.
bool Fail(PlatformDatabase& db, uint32_t* error) {
  if (*error == 0) *error = LastDatabaseError(db);
  return false;
}

bool ReadDatabaseProperties(PlatformDatabase& db, int64_t rowId, PropertyMap* out,
                            uint32_t* error) {
  std::lock_guard<std::recursive_mutex> lock(db.mutex());
  SqliteStatement select(db.handle(), "SELECT prop, value FROM cert_properties WHERE entry = ?1");
  if (!select.valid()) return Fail(db, error);
  select.bind(1, rowId);
  int rc;
  while ((rc = select.step()) == SQLITE_ROW) {
    (*out)[static_cast<uint32_t>(select.columnInt(0))] = select.columnBlob(1);
  }
  if (rc != SQLITE_DONE) {
    *error = DatabaseError(rc);
    return false;
  }
  return true;
}

// Inside a transaction: writes `properties` for the row. `keepExisting`
// leaves properties the row already has.
bool WriteDatabaseProperties(PlatformDatabase& db, int64_t rowId, const PropertyMap& properties,
                             bool keepExisting, uint32_t* error) {
  SqliteStatement insert(db.handle(), keepExisting
                                          ? "INSERT OR IGNORE INTO cert_properties"
                                            "(entry, prop, value) VALUES(?1, ?2, ?3)"
                                          : "INSERT OR REPLACE INTO cert_properties"
                                            "(entry, prop, value) VALUES(?1, ?2, ?3)");
  if (!insert.valid()) return Fail(db, error);
  for (const auto& [prop, value] : properties) {
    insert.bind(1, rowId).bind(2, static_cast<int64_t>(prop)).bind(3, Bytes(value));
    const int rc = insert.step();
    insert.reset();
    if (rc != SQLITE_DONE) {
      *error = DatabaseError(rc);
      return false;
    }
  }
  return true;
}

bool RowExists(PlatformDatabase& db, int64_t rowId, uint32_t* error) {
  SqliteStatement select(db.handle(), "SELECT 1 FROM cert_entries WHERE id = ?1");
  if (!select.valid()) return Fail(db, error);
  select.bind(1, rowId);
  const int rc = select.step();
  if (rc == SQLITE_ROW) return true;
  *error = rc == SQLITE_DONE ? win32::kCryptENotFound : DatabaseError(rc);
  return false;
}

// Every property of an element as bytes (the in-memory key context apart).
bool SnapshotProperties(Element& element, PropertyMap* out, uint32_t* error) {
  if (element.db) return ReadDatabaseProperties(*element.db, element.rowId, out, error);
  std::lock_guard<std::mutex> lock(element.mutex);
  *out = element.properties;
  return true;
}

std::optional<CertKeyContext> KeyContextOf(Element& element) {
  std::lock_guard<std::mutex> lock(element.mutex);
  return element.keyContext;
}

bool ValidDisposition(AddDisposition d) {
  const auto v = static_cast<uint32_t>(d);
  return v >= 1 && v <= 5;
}

void Overlay(PropertyMap* base, const PropertyMap& top) {
  for (const auto& [prop, value] : top) (*base)[prop] = value;
}

std::string FoldStoreName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return folded;
}

// --- Key provider information as bytes -------------------------------------
//
// u32 provider type, u32 flags, u32 key spec, then the container name and
// the provider name, each a u32 count of UTF-16 units and the units; all
// little-endian.

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutText(std::vector<uint8_t>* out, std::u16string_view text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  for (char16_t c : text) {
    out->push_back(static_cast<uint8_t>(c & 0xFF));
    out->push_back(static_cast<uint8_t>(c >> 8));
  }
}

bool GetU32(std::span<const uint8_t>* in, uint32_t* v) {
  if (in->size() < 4) return false;
  *v = uint32_t{(*in)[0]} | uint32_t{(*in)[1]} << 8 | uint32_t{(*in)[2]} << 16 |
       uint32_t{(*in)[3]} << 24;
  *in = in->subspan(4);
  return true;
}

bool GetText(std::span<const uint8_t>* in, std::u16string* text) {
  uint32_t count = 0;
  if (!GetU32(in, &count) || in->size() / 2 < count) return false;
  text->clear();
  for (uint32_t i = 0; i < count; ++i) {
    text->push_back(static_cast<char16_t>((*in)[2 * i] | ((*in)[2 * i + 1] << 8)));
  }
  *in = in->subspan(2 * size_t{count});
  return true;
}

std::vector<uint8_t> EncodeKeyProviderInfo(const KeyProviderInfo& info) {
  std::vector<uint8_t> out;
  PutU32(&out, info.providerType);
  PutU32(&out, info.flags);
  PutU32(&out, info.keySpec);
  PutText(&out, info.containerName);
  PutText(&out, info.providerName);
  return out;
}

bool DecodeKeyProviderInfo(std::span<const uint8_t> in, KeyProviderInfo* out) {
  KeyProviderInfo info;
  if (!GetU32(&in, &info.providerType) || !GetU32(&in, &info.flags) ||
      !GetU32(&in, &info.keySpec) || !GetText(&in, &info.containerName) ||
      !GetText(&in, &info.providerName) || !in.empty()) {
    return false;
  }
  *out = std::move(info);
  return true;
}

}  // namespace

// --- CertContext -------------------------------------------------------------

CertContext::CertContext(std::shared_ptr<StoreCore> store, std::shared_ptr<Element> element)
    : store_(std::move(store)), element_(std::move(element)) {}

uint32_t CertContext::Create(std::span<const uint8_t> der, CertContext* out) {
  const CertStore store = CertStore::OpenMemory();
  if (!store.valid()) return kEOutOfMemory;
  return store.addEncoded(der, AddDisposition::kAlways, out);
}

std::span<const uint8_t> CertContext::encoded() const {
  return element_ ? std::span<const uint8_t>(element_->der) : std::span<const uint8_t>();
}

Sha1Hash CertContext::sha1Hash() const { return element_ ? element_->sha1 : Sha1Hash{}; }

uint32_t CertContext::getProperty(uint32_t propId, std::vector<uint8_t>* out) const {
  if (!element_ || propId == kCertKeyContextPropId) return kEInvalidArg;
  try {
    if (propId == kCertSha1HashPropId) {
      out->assign(element_->sha1.begin(), element_->sha1.end());
      return 0;
    }
    if (!element_->db) {
      std::lock_guard<std::mutex> lock(element_->mutex);
      const auto it = element_->properties.find(propId);
      if (it == element_->properties.end()) return win32::kCryptENotFound;
      *out = it->second;
      return 0;
    }
    PlatformDatabase& db = *element_->db;
    std::lock_guard<std::recursive_mutex> lock(db.mutex());
    SqliteStatement select(db.handle(),
                           "SELECT value FROM cert_properties WHERE entry = ?1 AND prop = ?2");
    if (!select.valid()) return LastDatabaseError(db);
    select.bind(1, element_->rowId).bind(2, static_cast<int64_t>(propId));
    const int rc = select.step();
    if (rc == SQLITE_ROW) {
      *out = select.columnBlob(0);
      return 0;
    }
    return rc == SQLITE_DONE ? win32::kCryptENotFound : DatabaseError(rc);
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertContext::setProperty(uint32_t propId, std::span<const uint8_t> value) const {
  if (!element_ || propId == kCertKeyContextPropId || propId == kCertSha1HashPropId) {
    return kEInvalidArg;
  }
  try {
    PropertyMap one;
    one[propId].assign(value.begin(), value.end());
    if (!element_->db) {
      std::lock_guard<std::mutex> lock(element_->mutex);
      element_->properties[propId] = std::move(one[propId]);
      return 0;
    }
    PlatformDatabase& db = *element_->db;
    uint32_t error = 0;
    WriteTransaction(db, &error, [&] {
      return RowExists(db, element_->rowId, &error) &&
             WriteDatabaseProperties(db, element_->rowId, one, false, &error);
    });
    return error;
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertContext::removeProperty(uint32_t propId) const {
  if (!element_ || propId == kCertSha1HashPropId) return kEInvalidArg;
  if (propId == kCertKeyContextPropId) {
    setKeyContext(std::nullopt);
    return 0;
  }
  if (!element_->db) {
    std::lock_guard<std::mutex> lock(element_->mutex);
    element_->properties.erase(propId);
    return 0;
  }
  PlatformDatabase& db = *element_->db;
  uint32_t error = 0;
  WriteTransaction(db, &error, [&] {
    SqliteStatement remove(db.handle(),
                           "DELETE FROM cert_properties WHERE entry = ?1 AND prop = ?2");
    if (!remove.valid()) return Fail(db, &error);
    remove.bind(1, element_->rowId).bind(2, static_cast<int64_t>(propId));
    const int rc = remove.step();
    if (rc != SQLITE_DONE) error = DatabaseError(rc);
    return rc == SQLITE_DONE;
  });
  return error;
}

uint32_t CertContext::keyProviderInfo(KeyProviderInfo* out) const {
  try {
    std::vector<uint8_t> bytes;
    if (const uint32_t error = getProperty(kCertKeyProvInfoPropId, &bytes)) return error;
    return DecodeKeyProviderInfo(bytes, out) ? 0 : win32::kErrorInvalidData;
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertContext::setKeyProviderInfo(const KeyProviderInfo& info) const {
  try {
    return setProperty(kCertKeyProvInfoPropId, EncodeKeyProviderInfo(info));
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertContext::friendlyName(std::u16string* out) const {
  try {
    std::vector<uint8_t> bytes;
    if (const uint32_t error = getProperty(kCertFriendlyNamePropId, &bytes)) return error;
    std::u16string name;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
      if (c == 0) break;
      name.push_back(c);
    }
    *out = std::move(name);
    return 0;
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertContext::setFriendlyName(std::u16string_view name) const {
  try {
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * name.size() + 2);
    for (char16_t c : name) {
      bytes.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return setProperty(kCertFriendlyNamePropId, bytes);
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

std::optional<CertKeyContext> CertContext::keyContext() const {
  if (!element_) return std::nullopt;
  return KeyContextOf(*element_);
}

void CertContext::setKeyContext(std::optional<CertKeyContext> context) const {
  if (!element_) return;
  std::lock_guard<std::mutex> lock(element_->mutex);
  element_->keyContext = std::move(context);
}

// --- CertStore -----------------------------------------------------------------

namespace {

// Gives `target` the properties of `extra` it does not have yet.
bool MergeProperties(Element& target, const PropertyMap& extra, uint32_t* error) {
  if (!target.db) {
    std::lock_guard<std::mutex> lock(target.mutex);
    for (const auto& [prop, value] : extra) target.properties.emplace(prop, value);
    return true;
  }
  PlatformDatabase& db = *target.db;
  return WriteTransaction(db, error, [&] {
    return RowExists(db, target.rowId, error) &&
           WriteDatabaseProperties(db, target.rowId, extra, true, error);
  });
}

std::shared_ptr<Element> NewMemoryElement(Incoming& in) {
  auto element = std::make_shared<Element>();
  element->der = std::move(in.der);
  element->sha1 = in.sha1;
  element->properties = std::move(in.properties);
  element->keyContext = std::move(in.keyContext);
  return element;
}

bool AddToMemory(const std::shared_ptr<StoreCore>& core, Incoming in, AddDisposition disposition,
                 std::shared_ptr<Element>* result, uint32_t* error) {
  std::lock_guard<std::mutex> lock(core->mutex);
  auto existing = core->entries.end();
  if (disposition != AddDisposition::kAlways) {
    existing = std::find_if(core->entries.begin(), core->entries.end(),
                            [&](const auto& e) { return e->sha1 == in.sha1; });
  }
  if (existing == core->entries.end()) {
    core->entries.push_back(in.linkTo ? in.linkTo : NewMemoryElement(in));
    *result = core->entries.back();
    return true;
  }
  switch (disposition) {
    case AddDisposition::kNew:
      *error = win32::kCryptEExists;
      return false;
    case AddDisposition::kUseExisting:
      if (!in.linkTo) {
        Element& target = **existing;
        if (!MergeProperties(target, in.properties, error)) return false;
        std::lock_guard<std::mutex> elementLock(target.mutex);
        if (!target.keyContext) target.keyContext = in.keyContext;
      }
      *result = *existing;
      return true;
    case AddDisposition::kReplaceExisting:
      *existing = in.linkTo ? in.linkTo : NewMemoryElement(in);
      *result = *existing;
      return true;
    case AddDisposition::kReplaceExistingInheritProperties:
      if (in.linkTo) {
        *existing = in.linkTo;
      } else {
        PropertyMap inherited;
        if (!SnapshotProperties(**existing, &inherited, error)) return false;
        Overlay(&inherited, in.properties);
        in.properties = std::move(inherited);
        if (!in.keyContext) in.keyContext = KeyContextOf(**existing);
        *existing = NewMemoryElement(in);
      }
      *result = *existing;
      return true;
    case AddDisposition::kAlways:
      break;
  }
  *error = kEInvalidArg;
  return false;
}

bool AddToDatabase(const std::shared_ptr<StoreCore>& core, Incoming in,
                   AddDisposition disposition, std::shared_ptr<Element>* result,
                   uint32_t* error) {
  PlatformDatabase& db = *core->db;
  int64_t rowId = 0;
  bool inserted = false;
  const bool ok = WriteTransaction(db, error, [&] {
    if (disposition != AddDisposition::kAlways) {
      SqliteStatement find(db.handle(),
                           "SELECT id FROM cert_entries WHERE store = ?1 AND sha1 = ?2 "
                           "ORDER BY id LIMIT 1");
      if (!find.valid()) return Fail(db, error);
      find.bind(1, core->name).bind(2, Bytes(in.sha1));
      const int rc = find.step();
      if (rc == SQLITE_ROW) {
        rowId = find.columnInt(0);
      } else if (rc != SQLITE_DONE) {
        *error = DatabaseError(rc);
        return false;
      }
    }
    if (rowId != 0) {
      switch (disposition) {
        case AddDisposition::kNew:
          *error = win32::kCryptEExists;
          return false;
        case AddDisposition::kUseExisting:
          return WriteDatabaseProperties(db, rowId, in.properties, true, error);
        case AddDisposition::kReplaceExisting: {
          SqliteStatement clear(db.handle(), "DELETE FROM cert_properties WHERE entry = ?1");
          if (!clear.valid()) return Fail(db, error);
          clear.bind(1, rowId);
          if (clear.step() != SQLITE_DONE) return Fail(db, error);
          return WriteDatabaseProperties(db, rowId, in.properties, false, error);
        }
        case AddDisposition::kReplaceExistingInheritProperties:
          return WriteDatabaseProperties(db, rowId, in.properties, false, error);
        case AddDisposition::kAlways:
          break;
      }
    }
    SqliteStatement insert(db.handle(),
                           "INSERT INTO cert_entries(store, sha1, der) VALUES(?1, ?2, ?3)");
    if (!insert.valid()) return Fail(db, error);
    insert.bind(1, core->name).bind(2, Bytes(in.sha1)).bind(3, Bytes(in.der));
    if (insert.step() != SQLITE_DONE) return Fail(db, error);
    rowId = sqlite3_last_insert_rowid(db.handle());
    inserted = true;
    return WriteDatabaseProperties(db, rowId, in.properties, false, error);
  });
  if (!ok) return false;

  std::lock_guard<std::mutex> lock(core->mutex);
  std::shared_ptr<Element>& element = (*result);
  element = core->cache[rowId].lock();
  if (!element) {
    element = std::make_shared<Element>();
    element->der = std::move(in.der);
    element->sha1 = in.sha1;
    element->db = core->db;
    element->rowId = rowId;
    core->cache[rowId] = element;
  }
  std::lock_guard<std::mutex> elementLock(element->mutex);
  if (inserted || disposition == AddDisposition::kReplaceExisting) {
    element->keyContext = std::move(in.keyContext);
  } else if (in.keyContext && (disposition == AddDisposition::kReplaceExistingInheritProperties ||
                               !element->keyContext)) {
    element->keyContext = std::move(in.keyContext);
  }
  return true;
}

}  // namespace

CertStore CertStore::OpenMemory() {
  try {
    return CertStore(std::make_shared<StoreCore>());
  } catch (const std::bad_alloc&) {
    return CertStore();
  }
}

const std::string& CertStore::name() const {
  static const std::string kNone;
  return core_ ? core_->name : kNone;
}

bool CertStore::persistent() const { return core_ && core_->db; }

uint32_t CertStore::enumerate(std::vector<CertContext>* out) const {
  if (!core_) return kEInvalidArg;
  try {
    std::vector<CertContext> contexts;
    if (!core_->db) {
      std::lock_guard<std::mutex> lock(core_->mutex);
      contexts.reserve(core_->entries.size());
      for (const auto& element : core_->entries) contexts.push_back(CertContext(core_, element));
      *out = std::move(contexts);
      return 0;
    }
    PlatformDatabase& db = *core_->db;
    std::lock_guard<std::recursive_mutex> dbLock(db.mutex());
    SqliteStatement select(db.handle(),
                           "SELECT id, sha1, der FROM cert_entries WHERE store = ?1 ORDER BY id");
    if (!select.valid()) return LastDatabaseError(db);
    select.bind(1, core_->name);
    std::lock_guard<std::mutex> lock(core_->mutex);
    std::erase_if(core_->cache, [](const auto& item) { return item.second.expired(); });
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
      const int64_t rowId = select.columnInt(0);
      std::weak_ptr<Element>& slot = core_->cache[rowId];
      std::shared_ptr<Element> element = slot.lock();
      if (!element) {
        element = std::make_shared<Element>();
        element->der = select.columnBlob(2);
        const std::vector<uint8_t> sha1 = select.columnBlob(1);
        if (sha1.size() == element->sha1.size()) {
          std::copy(sha1.begin(), sha1.end(), element->sha1.begin());
        } else {
          element->sha1 = Sha1Of(element->der);
        }
        element->db = core_->db;
        element->rowId = rowId;
        slot = element;
      }
      contexts.push_back(CertContext(core_, std::move(element)));
    }
    if (rc != SQLITE_DONE) return DatabaseError(rc);
    *out = std::move(contexts);
    return 0;
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertStore::add(Incoming in, AddDisposition disposition, CertContext* added) const {
  uint32_t error = 0;
  std::shared_ptr<Element> element;
  const bool ok = core_->db ? AddToDatabase(core_, std::move(in), disposition, &element, &error)
                            : AddToMemory(core_, std::move(in), disposition, &element, &error);
  if (!ok) return error != 0 ? error : kEInvalidArg;
  if (added != nullptr) *added = CertContext(core_, std::move(element));
  return 0;
}

uint32_t CertStore::addEncoded(std::span<const uint8_t> der, AddDisposition disposition,
                               CertContext* added) const {
  if (!core_ || !ValidDisposition(disposition)) return kEInvalidArg;
  try {
    Certificate certificate;
    if (const uint32_t error = Certificate::Parse(der, &certificate)) return error;
    Incoming in;
    in.der.assign(der.begin(), der.end());
    in.sha1 = Sha1Of(der);
    return add(std::move(in), disposition, added);
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertStore::addContext(const CertContext& context, AddDisposition disposition,
                               CertContext* added) const {
  if (!core_ || !context.element_ || !ValidDisposition(disposition)) return kEInvalidArg;
  try {
    Element& source = *context.element_;
    Incoming in;
    in.der = source.der;
    in.sha1 = source.sha1;
    uint32_t error = 0;
    if (!SnapshotProperties(source, &in.properties, &error)) return error;
    in.keyContext = KeyContextOf(source);
    return add(std::move(in), disposition, added);
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertStore::addLink(const CertContext& context, AddDisposition disposition,
                            CertContext* added) const {
  if (!core_ || !context.element_ || !ValidDisposition(disposition)) return kEInvalidArg;
  if (core_->db) return win32::kErrorNotSupported;
  try {
    Incoming in;
    in.sha1 = context.element_->sha1;
    in.linkTo = context.element_;
    return add(std::move(in), disposition, added);
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

uint32_t CertStore::DeleteCertificate(const CertContext& context) {
  if (!context.element_ || !context.store_) return kEInvalidArg;
  StoreCore& core = *context.store_;
  if (!core.db) {
    std::lock_guard<std::mutex> lock(core.mutex);
    const auto it = std::find(core.entries.begin(), core.entries.end(), context.element_);
    if (it == core.entries.end()) return win32::kCryptENotFound;
    core.entries.erase(it);
    return 0;
  }
  PlatformDatabase& db = *core.db;
  const int64_t rowId = context.element_->rowId;
  uint32_t error = 0;
  const bool ok = WriteTransaction(db, &error, [&] {
    // The properties go first in case foreign keys are off on this connection.
    SqliteStatement properties(db.handle(), "DELETE FROM cert_properties WHERE entry = ?1");
    SqliteStatement entry(db.handle(), "DELETE FROM cert_entries WHERE id = ?1 AND store = ?2");
    if (!properties.valid() || !entry.valid()) return Fail(db, &error);
    properties.bind(1, rowId);
    entry.bind(1, rowId).bind(2, core.name);
    if (properties.step() != SQLITE_DONE || entry.step() != SQLITE_DONE) return Fail(db, &error);
    if (sqlite3_changes(db.handle()) == 0) {
      error = win32::kCryptENotFound;
      return false;
    }
    return true;
  });
  if (!ok) return error;
  std::lock_guard<std::mutex> lock(core.mutex);
  core.cache.erase(rowId);
  return 0;
}

// --- System stores in the database ---------------------------------------------

class DatabaseCertificateStores final : public CertificateStores {
 public:
  explicit DatabaseCertificateStores(std::string path) : path_(std::move(path)) {}
  explicit DatabaseCertificateStores(std::shared_ptr<PlatformDatabase> db) : db_(std::move(db)) {}

  uint32_t openSystemStore(std::string_view name, CertStore* out) override {
    if (name.empty() || name.size() > kMaxStoreName) return win32::kErrorInvalidParameter;
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!db_) {
        uint32_t error = 0;
        db_ = PlatformDatabase::Open(path_, &error);
        if (!db_) return error != 0 ? error : win32::kErrorRegistryIoFailed;
      }
      if (!db_->ensureSchema("cert_store", kSchema)) return LastDatabaseError(*db_);
      auto core = std::make_shared<StoreCore>();
      core->name = FoldStoreName(name);
      core->db = db_;
      *out = CertStore(std::move(core));
      return 0;
    } catch (const std::bad_alloc&) {
      return kEOutOfMemory;
    }
  }

 private:
  std::mutex mutex_;
  std::string path_;
  std::shared_ptr<PlatformDatabase> db_;
};

std::shared_ptr<CertificateStores> MakeDatabaseCertificateStores(std::string databasePath) {
  return std::make_shared<DatabaseCertificateStores>(std::move(databasePath));
}

std::shared_ptr<CertificateStores> MakeDatabaseCertificateStores(
    std::shared_ptr<PlatformDatabase> database) {
  return std::make_shared<DatabaseCertificateStores>(std::move(database));
}

}  // namespace quorvant
