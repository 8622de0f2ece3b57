// The engine's one test friend: reaches fields that later operations (signer
// selection) will set, so tests of their readers need not wait for them.
#ifndef QUORVANT_TESTS_ENGINE_ENGINE_TEST_ACCESS_H_
#define QUORVANT_TESTS_ENGINE_ENGINE_TEST_ACCESS_H_

#include <string>
#include <string_view>

#include "engine/security_engine.h"

namespace quorvant {

struct SecurityEngineTestAccess {
  static void selectSigner(SecurityEngine& e, int32_t media, std::string_view der,
                           std::string hash) {
    e.signerMedia = media;
    e.signerCertBytes.clear();
    (void)e.signerCertBytes.append(der.data(), static_cast<int32_t>(der.size()));
    e.signerCertHash = std::move(hash);
    e.signerCertPasswd = "pw";
    e.signerCertFilePath = "/tmp";
    e.signerCertFileName = "a.pfx";
  }
};

}  // namespace quorvant

#endif  // QUORVANT_TESTS_ENGINE_ENGINE_TEST_ACCESS_H_
