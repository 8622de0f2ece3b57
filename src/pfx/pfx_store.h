// PfxStore: a PKCS #12 file opened into a temporary certificate store for
// one operation. Opening reads the file, checks that it is a PFX, verifies
// the password and imports certificates and keys; closing deletes the key
// containers the import made, unless the operation kept the keys.
#ifndef QUORVANT_PFX_PFX_STORE_H_
#define QUORVANT_PFX_PFX_STORE_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/cert_store.h"
#include "platform/platform_database.h"

namespace quorvant {

class PfxStore {
 public:
  // `db` holds the key containers of the import (null: the user's own).
  explicit PfxStore(std::shared_ptr<PlatformDatabase> db = nullptr);
  ~PfxStore();
  PfxStore(const PfxStore&) = delete;
  PfxStore& operator=(const PfxStore&) = delete;

  // Opens the file at `path` (narrow, full path) with `password` (narrow; may
  // be empty). Bit 0 of `flags` makes the imported keys exportable, bit 1
  // user-protected. Returns 0, 5005 (empty path), 5401 (unreadable or empty
  // file), 5207 (not a PFX) or 5208 (wrong password, or the import failed);
  // lastError() then holds the system error. Opening again closes first.
  int32_t open(std::string_view path, std::string_view password, int32_t flags);

  // Deletes the key container of every certificate when removeKeysOnClose()
  // (a failing step is recorded and the walk goes on), then forgets the
  // store. lastError() is 0 afterwards.
  void close();

  bool isOpen() const { return store_.valid(); }
  const CertStore& store() const { return store_; }
  uint32_t lastError() const { return lastError_; }
  bool removeKeysOnClose() const { return removeKeysOnClose_; }
  void setRemoveKeysOnClose(bool remove) { removeKeysOnClose_ = remove; }

 private:
  std::shared_ptr<PlatformDatabase> db_;
  CertStore store_;
  uint32_t lastError_ = 0;
  bool removeKeysOnClose_ = true;
};

}  // namespace quorvant

#endif  // QUORVANT_PFX_PFX_STORE_H_
