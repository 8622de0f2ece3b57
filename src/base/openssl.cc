#include "base/openssl.h"

namespace quorvant {
namespace {

// Members are released in reverse order: providers, then the context.
class Library {
 public:
  Library() {
    ctx_.reset(OSSL_LIB_CTX_new());
    if (ctx_) {
      default_.reset(OSSL_PROVIDER_load(ctx_.get(), "default"));
      // Optional: without it only the legacy algorithms (single DES, RC2,
      // RC4) fail, each with its own unknown-algorithm code.
      legacy_.reset(OSSL_PROVIDER_load(ctx_.get(), "legacy"));
      if (!default_) {
        legacy_.reset();
        ctx_.reset();
      }
    }
    ERR_clear_error();
  }
  OSSL_LIB_CTX* get() const { return ctx_.get(); }
  bool legacy() const { return legacy_ != nullptr; }

 private:
  OsslPtr<OSSL_LIB_CTX> ctx_;
  OsslPtr<OSSL_PROVIDER> default_;
  OsslPtr<OSSL_PROVIDER> legacy_;
};

// Never destroyed: objects fetched from it may be released by other static
// objects' destructors at exit, in any order.
union LibraryStorage {
  LibraryStorage() : library() {}
  ~LibraryStorage() {}
  Library library;
};

const Library& TheLibrary() {
  static LibraryStorage storage;
  return storage.library;
}

}  // namespace

OSSL_LIB_CTX* OpensslContext() { return TheLibrary().get(); }
bool OpensslLegacyAvailable() { return TheLibrary().legacy(); }

unsigned long TakeOpensslError() {
  const unsigned long first = ERR_get_error();
  ERR_clear_error();
  return first;
}

}  // namespace quorvant
