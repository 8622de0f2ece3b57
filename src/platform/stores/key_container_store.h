// The key containers of the software RSA providers, kept in the per-user
// platform database (platform_database.h).
//
// Tables:
//   key_containers  one row per container: its name as created (UTF-8), the
//                   ASCII-lower-cased form that lookups and uniqueness use
//                   (container names match without regard to case), the
//                   provider that created it and the creation time.
//   container_keys  at most one key pair per container and key spec
//                   (AT_KEYEXCHANGE, AT_SIGNATURE): the generation or import
//                   flags (CRYPT_EXPORTABLE, CRYPT_USER_PROTECTED,
//                   CRYPT_ARCHIVABLE) and the key pair as a PRIVATEKEYBLOB.
//                   Deleting a container deletes its keys.
//   temporary_containers
//                   containers made for the moment by a live process (the
//                   keys of a PFX file being imported), which removes them
//                   or keeps them when done; the first use of the database
//                   by a later connection removes those of a process that
//                   died first (a crash, kill -9).
//
// The software providers share one key storage, so a container made through
// one of them opens through any other, and a name is taken for all of them.
//
// Protection of the private keys at rest: the database file is 0600 in a
// 0700 directory, so only the user (and root) can read it, as the
// platform's per-user key files are guarded by the user's profile. The keys
// are not wrapped in addition: a wrapping key would have to be stored beside
// them under the same protection and would add nothing. Key bytes this
// layer holds in memory live in buffers that are wiped when released.
//
// Every change is one BEGIN IMMEDIATE transaction, so two processes that
// create the same container at the same time see exactly one success; the
// other gets NTE_EXISTS.
#ifndef QUORVANT_PLATFORM_KEY_CONTAINER_STORE_H_
#define QUORVANT_PLATFORM_KEY_CONTAINER_STORE_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "encoding/byte_buffer.h"
#include "platform/database/platform_database.h"

namespace quorvant {

class KeyContainerStore {
 public:
  struct Container {
    int64_t id = 0;
    std::string name;      // as created, UTF-8
    std::string provider;  // the provider that created it
  };
  struct StoredKey {
    uint32_t flags = 0;
    ByteBuffer blob;  // PRIVATEKEYBLOB
  };

  // `db` must not be null.
  explicit KeyContainerStore(std::shared_ptr<PlatformDatabase> db);

  // Creates the tables on first use of the connection. 0 or an error
  // number (see MapSqliteError).
  [[nodiscard]] uint32_t prepare();

  // NTE_EXISTS when a container of that name (ignoring ASCII case) exists.
  [[nodiscard]] uint32_t create(std::string_view name, std::string_view provider, Container* out);
  // NTE_BAD_KEYSET when there is none.
  [[nodiscard]] uint32_t open(std::string_view name, Container* out);
  // Deletes the container and its keys; NTE_BAD_KEYSET when there is none.
  // The key bytes are overwritten in the file and the journal emptied
  // (PlatformDatabase::checkpoint), as far as other readers allow.
  [[nodiscard]] uint32_t remove(std::string_view name);

  // Marks the container as this process's for the moment: removed by a
  // later sweep once this process is gone, unless keep() comes first.
  // NTE_BAD_KEYSET when there is no container of that name.
  [[nodiscard]] uint32_t markTemporary(std::string_view name);
  // Takes the mark off (no container of that name, or no mark: 0).
  [[nodiscard]] uint32_t keep(std::string_view name);
  // Removes the marked containers whose process is no longer running;
  // how many. prepare() runs it once per connection.
  int sweepTemporary();

  // Stores (or replaces) the container's key of `keySpec`. NTE_BAD_KEYSET
  // when the container has been deleted meanwhile.
  [[nodiscard]] uint32_t putKey(int64_t container, uint32_t keySpec, uint32_t flags,
                                std::span<const uint8_t> blob);
  // NTE_NO_KEY when the container holds no such key, NTE_BAD_KEYSET when the
  // container itself is gone.
  [[nodiscard]] uint32_t getKey(int64_t container, uint32_t keySpec, StoredKey* out);

  // The CryptoAPI error number for an SQLite result code: ERROR_BUSY when
  // another process holds the database too long, NTE_PERM when it cannot be
  // written or read, NTE_NO_MEMORY, and NTE_FAIL for anything else.
  static uint32_t MapSqliteError(int rc);

 private:
  uint32_t lastError() const;
  // Runs `sql` in one write transaction, ?1 bound to the folded `name` and
  // ?2... to `more`: NTE_BAD_KEYSET when it changed no row.
  uint32_t changeNamedContainer(const char* sql, std::string_view name,
                                std::span<const int64_t> more);

  std::shared_ptr<PlatformDatabase> db_;
};

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_KEY_CONTAINER_STORE_H_
