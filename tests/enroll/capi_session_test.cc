// CapiSession's provider list and choice, over injected enumerations.
#include "enroll/capi_session.h"

#include <gtest/gtest.h>

#include <utility>

#include "base/result_codes.h"
#include "platform/keys/crypto_provider_constants.h"

namespace quorvant {
namespace {

using Listing = std::vector<std::pair<std::string, uint32_t>>;

EnrollServices Listed(Listing listing, uint32_t failAt = UINT32_MAX) {
  EnrollServices services;
  services.providers = [listing, failAt](uint32_t index, std::string* name, uint32_t* type) {
    if (index >= listing.size()) return 259u;  // ERROR_NO_MORE_ITEMS
    if (index == failAt) return 234u;          // ERROR_MORE_DATA
    *name = listing[index].first;
    *type = listing[index].second;
    return 0u;
  };
  return services;
}

TEST(CapiSessionTest, ProviderListKeepsTypesOneAnd24OnceInOrder) {
  const struct {
    const char* what;
    Listing listing;
    uint32_t failAt;
    std::vector<std::string> expected;
  } cases[] = {
      {"empty", {}, UINT32_MAX, {}},
      {"duplicates and other types",
       {{kMsEnhancedProv, 1}, {"DSS Provider", 3}, {kMsEnhancedProv, 1}, {kMsEnhRsaAesProv, 24},
        {"Microsoft Enhanced cryptographic provider v1.0", 1}},
       UINT32_MAX,
       {kMsEnhancedProv, kMsEnhRsaAesProv, "Microsoft Enhanced cryptographic provider v1.0"}},
      {"a failure ends the list", {{kMsDefProv, 1}, {kMsEnhancedProv, 1}}, 1, {kMsDefProv}},
      {"the first call fails", {{kMsEnhancedProv, 1}}, 0, {}},
  };
  for (const auto& c : cases) {
    CapiSession session(Listed(c.listing, c.failAt));
    EXPECT_EQ(session.providers(), c.expected) << c.what;
  }
  // The platform's own list.
  CapiSession platform;
  EXPECT_EQ(platform.providers(),
            (std::vector<std::string>{kMsDefProv, kMsEnhancedProv, kMsEnhRsaAesProv, kMsStrongProv}));
}

TEST(CapiSessionTest, SetProviderNameAlwaysChoosesTheEnhancedProvider) {
  const struct {
    Listing listing;
    const char* name;
    int32_t code;
  } cases[] = {
      {{{kMsDefProv, 1}, {kMsEnhancedProv, 1}}, "Some Smart Card Provider", 0},
      {{{kMsEnhancedProv, 1}}, kMsEnhRsaAesProv, 0},
      {{{kMsEnhancedProv, 1}}, "", rc::kBadArgument},
      {{}, kMsEnhancedProv, rc::kCspNameError},
      {{{kMsEnhRsaAesProv, 24}, {kMsDefProv, 1}}, kMsEnhancedProv, rc::kCspNameError},
  };
  for (const auto& c : cases) {
    CapiSession session(Listed(c.listing));
    EXPECT_EQ(session.setProviderName(c.name), c.code) << c.name;
    EXPECT_EQ(session.errorCode(), c.code);
    EXPECT_EQ(session.providerName(), kMsEnhancedProv);
    EXPECT_EQ(session.providerType(), 1);
  }
}

TEST(CapiSessionTest, SettersNormaliseTheirValues) {
  CapiSession session;
  for (int32_t bits : {1024, 4096, 2048}) {
    EXPECT_EQ(session.setKeyBits(bits), 0);
    EXPECT_EQ(session.keyBits(), bits);
  }
  EXPECT_EQ(session.setKeyBits(3072), rc::kBadKeyLength);
  EXPECT_EQ(session.keyBits(), 2048);
  const std::pair<int32_t, int32_t> flags[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {7, 1}, {-1, 1}};
  for (const auto& [given, kept] : flags) {
    session.setGenKeyFlags(given);
    EXPECT_EQ(session.genKeyFlags(), kept) << given;
  }
  const std::pair<int32_t, int32_t> keySpecs[] = {{2, 2}, {1, 1}, {0, 1}, {5, 1}};
  for (const auto& [given, kept] : keySpecs) {
    session.setKeySpec(given);
    EXPECT_EQ(session.keySpec(), kept) << given;
  }
}

}  // namespace
}  // namespace quorvant
