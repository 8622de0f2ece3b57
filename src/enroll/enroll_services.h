// What enrolment reaches of the platform, replaceable so that tests can
// reach every result code: the provider enumeration, the database of the key
// containers and the weak-key test. Empty members mean the real ones.
#ifndef QUORVANT_ENROLL_ENROLL_SERVICES_H_
#define QUORVANT_ENROLL_ENROLL_SERVICES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quorvant {

class CryptKey;
class PlatformDatabase;

// CryptEnumProviders at `index`: 0 with the provider's name and type, or the
// error that ends the enumeration.
using ProviderEnumerator =
    std::function<uint32_t(uint32_t index, std::string* name, uint32_t* type)>;

// The weak-key test on a generated key (weak_key.h); may set *capiCode.
using WeakKeyTest = std::function<bool(const CryptKey* key, uint32_t* capiCode)>;

struct EnrollServices {
  ProviderEnumerator providers;
  // Where key containers live; null: the user's own platform database.
  std::shared_ptr<PlatformDatabase> keyDatabase;
  WeakKeyTest weakKeyTest;
};

}  // namespace quorvant

#endif  // QUORVANT_ENROLL_ENROLL_SERVICES_H_
