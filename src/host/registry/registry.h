// A hierarchical key/value store with the behaviour of the Windows registry
// API (RegCreateKeyEx, RegOpenKeyEx, RegQueryValueEx, RegSetValueEx,
// RegDeleteValue, RegEnumKeyEx, RegEnumValue, RegDeleteKey, RegDeleteTree),
// standing in for it on this platform.
//
// Key paths are relative to a root and use '\' between components, e.g.
// "Software\MORL\QuorvantATL". "" names the root itself; one trailing '\' is
// ignored; a leading '\' gives kErrBadPathname, as RegCreateKeyEx does; an
// empty component in the middle ("a\\b") is also kErrBadPathname. A
// component holds at most 255 UTF-16 units, a value name 16383, and neither
// may contain a NUL byte (kErrInvalidParameter); a path has at most 512
// components (kErrInvalidParameter, before any work).
//
// Key and value names are UTF-8 and compared without regard to case, the way
// the registry compares: each BMP character is upper-cased (simple Unicode
// mapping); a key keeps the spelling it was first created with. The empty
// value name is the key's default value. Value data are opaque bytes with a
// type number; the store never looks inside them.
//
// Every operation returns a Win32 error number:
//   0     kErrSuccess
//   2     kErrFileNotFound      key or value does not exist
//   5     kErrAccessDenied      write to a root the process may not write;
//                               deleting a root key; RegDeleteKey on a key
//                               that still has subkeys; a data directory or
//                               file another user could change (data_paths.h)
//   14    kErrOutOfMemory
//   87    kErrInvalidParameter  null output, over-long or NUL-holding name,
//                               value data above kMaxValueBytes
//   161   kErrBadPathname       leading '\' or an empty path component
//   170   ERROR_BUSY            another process held the file's lock for
//                               longer than the busy timeout
//   259   kErrNoMoreItems       enumeration index past the end
//   1009  kErrBadDb             the database file is not a registry database
//                               (garbage, truncated, another program's file)
//   1016  kErrRegistryIoFailed  the file cannot be created, read or written
#ifndef QUORVANT_HOST_REGISTRY_H_
#define QUORVANT_HOST_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_errors.h"
#include "host/registry/data_paths.h"

namespace quorvant {
namespace reg {

// Value types (winnt.h numbering).
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kSz = 1;
inline constexpr uint32_t kExpandSz = 2;
inline constexpr uint32_t kBinary = 3;
inline constexpr uint32_t kDword = 4;
inline constexpr uint32_t kMultiSz = 7;
inline constexpr uint32_t kQword = 11;

// The Win32 error numbers the store returns, under the short names its
// code uses.
inline constexpr uint32_t kErrSuccess = win32::kErrorSuccess;
inline constexpr uint32_t kErrFileNotFound = win32::kErrorFileNotFound;
inline constexpr uint32_t kErrAccessDenied = win32::kErrorAccessDenied;
inline constexpr uint32_t kErrOutOfMemory = win32::kErrorOutofmemory;
inline constexpr uint32_t kErrInvalidParameter = win32::kErrorInvalidParameter;
inline constexpr uint32_t kErrBadPathname = win32::kErrorBadPathname;
inline constexpr uint32_t kErrNoMoreItems = win32::kErrorNoMoreItems;
inline constexpr uint32_t kErrBadDb = win32::kErrorBaddb;
inline constexpr uint32_t kErrRegistryIoFailed = win32::kErrorRegistryIoFailed;

inline constexpr size_t kMaxKeyNameUnits = 255;
// The registry's tree is at most 512 levels deep below a root.
inline constexpr size_t kMaxKeyDepth = 512;
inline constexpr size_t kMaxValueNameUnits = 16383;
inline constexpr size_t kMaxValueBytes = size_t{16} << 20;

}  // namespace reg

enum class RegRoot {
  kCurrentUser,   // HKEY_CURRENT_USER: the user's own file
  kLocalMachine,  // HKEY_LOCAL_MACHINE: one file for the whole machine
  // HKEY_CLASSES_ROOT: the merged view of HKCU\Software\Classes over
  // HKLM\Software\Classes. A key is read from the user's side when it exists
  // there, otherwise from the machine's (values are not merged one by one);
  // subkey enumeration lists the user's subkeys, then the machine's that the
  // user does not have. Every change goes to HKCU\Software\Classes: this is
  // the per-user registration rule, which lets a control be registered
  // without administrator rights.
  kClassesRoot,
};

struct RegValue {
  uint32_t type = reg::kNone;
  std::vector<uint8_t> data;
};

// Thread-safe; one object may be shared by every engine of a process.
class Registry {
 public:
  virtual ~Registry() = default;

  // Opens or creates the key and every missing level above it.
  [[nodiscard]] virtual uint32_t createKey(RegRoot root,
                                           std::string_view path) = 0;
  // 0 when the key can be opened for reading, kErrFileNotFound when not.
  [[nodiscard]] virtual uint32_t keyExists(RegRoot root,
                                           std::string_view path) = 0;
  // `out` may be null to ask only whether the value exists.
  [[nodiscard]] virtual uint32_t queryValue(RegRoot root, std::string_view path,
                                            std::string_view name,
                                            RegValue* out) = 0;
  // Creates or replaces the value; the key must exist (kErrFileNotFound). A
  // replaced value keeps its place in the enumeration order and the spelling
  // of its name.
  [[nodiscard]] virtual uint32_t setValue(RegRoot root, std::string_view path,
                                          std::string_view name, uint32_t type,
                                          std::span<const uint8_t> data) = 0;
  [[nodiscard]] virtual uint32_t deleteValue(RegRoot root,
                                             std::string_view path,
                                             std::string_view name) = 0;
  // Subkeys in creation order; kErrNoMoreItems from the first index past the
  // end. `name` must not be null.
  [[nodiscard]] virtual uint32_t enumSubkey(RegRoot root, std::string_view path,
                                            uint32_t index,
                                            std::string* name) = 0;
  // Values in creation order; `value` may be null.
  [[nodiscard]] virtual uint32_t enumValue(RegRoot root, std::string_view path,
                                           uint32_t index, std::string* name,
                                           RegValue* value) = 0;
  // Deletes a key that has no subkeys, with its values (RegDeleteKey): a key
  // with subkeys gives kErrAccessDenied, as on Windows.
  [[nodiscard]] virtual uint32_t deleteKey(RegRoot root,
                                           std::string_view path) = 0;
  // Deletes the key, its values and everything below it. The root itself
  // ("") cannot be deleted: kErrAccessDenied, what Windows answers for a
  // hive's root key.
  [[nodiscard]] virtual uint32_t deleteTree(RegRoot root,
                                            std::string_view path) = 0;
};

struct RegistryPaths {
  // Database file behind HKEY_CURRENT_USER; empty when the user's data
  // directory is unknown (reads then see an empty root, writes fail with
  // kErrRegistryIoFailed).
  std::string currentUser;
  // Database file behind HKEY_LOCAL_MACHINE.
  std::string localMachine;
  // Whether this process may change HKEY_LOCAL_MACHINE. When false every
  // change there gives kErrAccessDenied and the file is opened read-only.
  bool machineWritable = false;
  // How long a change waits for another process's write lock before it
  // fails with ERROR_BUSY (milliseconds).
  int busyTimeoutMs = 10000;
};

inline constexpr const char kDefaultMachineRegistry[] =
    "/var/lib/quorvant/machine-registry.db";

// currentUser: <UserDataDirectory>/registry.db. localMachine:
// $QUORVANT_HKLM_DB when set and non-empty, else kDefaultMachineRegistry.
// machineWritable: the effective user is root.
RegistryPaths DefaultRegistryPaths(const EnvLookup& env);

// The SQLite-backed store. Files are opened on first use of their root, so
// this never fails except for lack of memory (null).
//
// HKEY_CURRENT_USER: mode 0600 in a 0700 directory, WAL journal so readers in
// other processes never wait for a writer. Reading before the file exists
// sees an empty root and creates nothing.
// HKEY_LOCAL_MACHINE: mode 0644 in a 0755 directory, rollback journal
// (journal_mode=DELETE): a WAL database can only be read by processes that
// may create or write its -shm file, which other users of a root-owned
// directory cannot; a rollback journal needs nothing but read access from
// readers. When the file does not exist every key is missing
// (kErrFileNotFound): the machine's registry has not been installed.
std::unique_ptr<Registry> OpenSqliteRegistry(const RegistryPaths& paths);

}  // namespace quorvant

#endif  // QUORVANT_HOST_REGISTRY_H_
