// PfxStore: a PKCS #12 file opened into a temporary certificate store for
// one operation. Opening reads the file, checks that it is a PFX, verifies
// the password and imports certificates and keys; closing deletes the key
// containers the import made, unless the operation kept the keys.
#ifndef QUORVANT_PFX_PFX_STORE_H_
#define QUORVANT_PFX_PFX_STORE_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stores/cert_store.h"
#include "platform/pkcs12/pkcs12.h"
#include "platform/database/platform_database.h"

namespace quorvant {

// Where the keys of an opened file are kept.
enum class PfxKeyPlacement {
  // The user's key database on disk: for an import into the personal store.
  kUserDatabase,
  // A database in this process's memory: for a file opened only for one
  // operation or one signing session (query, mobile export, password
  // change, a signer's PFX). Its keys can be used through keyDatabase() by
  // anyone in the process and never touch the disk.
  kMemory,
};

class PfxStore {
 public:
  // `db` holds the key containers of the import (null: the user's own).
  explicit PfxStore(std::shared_ptr<PlatformDatabase> db = nullptr);
  explicit PfxStore(PfxKeyPlacement placement);
  // kMemory over a database in memory the caller keeps between opens (one
  // per signing engine): its tables are made once, and each close removes
  // the keys this store put there. A database that is not in memory is
  // never used; a fresh one is then made as without it.
  PfxStore(PfxKeyPlacement placement, std::shared_ptr<PlatformDatabase> memoryDatabase);
  ~PfxStore();
  PfxStore(const PfxStore&) = delete;
  PfxStore& operator=(const PfxStore&) = delete;

  // Opens the file at `path` (narrow, full path) with `password` (narrow; may
  // be empty). Bit 0 of `flags` makes the imported keys exportable, bit 1
  // user-protected. Returns 0, 5005 (empty path), 5401 (unreadable or empty
  // file), 5207 (not a PFX, or one over the limits of pkcs12.h:
  // ERROR_FILE_TOO_LARGE, ERROR_NOT_ENOUGH_QUOTA) or 5208 (wrong password,
  // or the import failed); lastError() then holds the system error.
  // Opening again closes first.
  int32_t open(std::string_view path, std::string_view password, int32_t flags);
  // The same over a file's contents already in memory (5401 when empty).
  int32_t openBlob(std::span<const uint8_t> contents, std::string_view password, int32_t flags);

  // Deletes the key container of every certificate when removeKeysOnClose()
  // (a failing step is recorded and the walk goes on), then forgets the
  // store. lastError() is 0 afterwards.
  void close();

  bool isOpen() const { return store_.valid(); }
  const CertStore& store() const { return store_; }
  uint32_t lastError() const { return lastError_; }
  // What the open carried over from the file.
  const PfxImportReport& importReport() const { return report_; }
  // The database that holds the keys of the open store: what
  // AcquireCertificatePrivateKey and PfxExportCertStore take for them. Null
  // before the first open with the user's database.
  const std::shared_ptr<PlatformDatabase>& keyDatabase() const { return db_; }
  bool removeKeysOnClose() const { return removeKeysOnClose_; }
  void setRemoveKeysOnClose(bool remove) { removeKeysOnClose_ = remove; }
  // Makes the key container of `certificate` the user's for good: it is no
  // longer removed if this process dies before close(). An import calls it
  // before the certificate enters a store, so a crash may leave a key no
  // certificate refers to, never a certificate without its key. 0 or the
  // key store's error.
  uint32_t keepKeyOf(const CertContext& certificate);
  // Keeps the key containers of `kept` at close and deletes every other
  // container the open made (the keys of certificates an import passed
  // over), so no private key is left that no certificate refers to.
  void keepOnlyKeysOf(const std::vector<CertContext>& kept);

 private:
  std::shared_ptr<PlatformDatabase> db_;
  const bool inMemory_ = false;
  CertStore store_;
  PfxImportReport report_;
  uint32_t lastError_ = 0;
  bool removeKeysOnClose_ = true;
  // Containers (UTF-16 names) that survive the close; used when
  // removeKeysOnClose_ is false.
  std::vector<std::u16string> keptContainers_;
  // Containers whose temporary mark keepKeyOf() has taken off.
  std::vector<std::u16string> unmarked_;
  bool keepSelected_ = false;
};

}  // namespace quorvant

#endif  // QUORVANT_PFX_PFX_STORE_H_
