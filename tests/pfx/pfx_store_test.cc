#include "pfx/pfx_store.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "certs/certificate_info.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"

namespace quorvant {
namespace {

// PFX files made by the openssl command line (data/make_pfx_files.sh), and
// an isolated key database per test.
class PfxStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                       ("quorvant-pfxstore-" + std::to_string(::getpid())));
    const auto script =
        std::filesystem::path(__FILE__).parent_path() / "data" / "make_pfx_files.sh";
    const std::string command = "bash '" + script.string() + "' '" + files_->string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*files_);
    delete files_;
  }
  void SetUp() override {
    dbDir_ = *files_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dbDir_);
    uint32_t error = 0;
    db_ = PlatformDatabase::Open((dbDir_ / "platform.db").string(), &error);
    ASSERT_TRUE(db_) << error;
  }

  static std::string File(const char* name) { return (*files_ / name).string(); }

  // The key provider information of every certificate of the store.
  static std::vector<KeyProviderInfo> Keys(const PfxStore& pfx) {
    std::vector<CertContext> certificates;
    EXPECT_EQ(pfx.store().enumerate(&certificates), 0u);
    std::vector<KeyProviderInfo> keys;
    for (const CertContext& c : certificates) {
      KeyProviderInfo info;
      if (c.keyProviderInfo(&info) == 0) keys.push_back(info);
    }
    return keys;
  }
  bool KeyExists(const KeyProviderInfo& info) {
    std::unique_ptr<ProviderContext> context;
    uint32_t keySpec = 0;
    return AcquireCertificatePrivateKey(info, 0, &context, &keySpec, db_) == 0;
  }

  static inline std::filesystem::path* files_ = nullptr;
  std::filesystem::path dbDir_;
  std::shared_ptr<PlatformDatabase> db_;
};

TEST_F(PfxStoreTest, OpenResults) {
  struct Case {
    const char* name;
    std::string path;
    const char* password;
    int32_t code;
  } cases[] = {
      {"default with its password", File("default.pfx"), "secret", 0},
      {"legacy algorithms", File("legacy.pfx"), "secret", 0},
      {"without a MAC", File("nomac.pfx"), "secret", 0},
      {"empty password", File("empty.pfx"), "", 0},
      {"no password at all opens with the empty one", File("nopass.pfx"), "", 0},
      {"wrong password", File("default.pfx"), "wrong", 5208},
      {"wrong password without a MAC", File("nomac.pfx"), "wrong", 5208},
      {"empty password for a protected file", File("default.pfx"), "", 5208},
      {"a text file", File("notes.pfx"), "secret", 5207},
      {"an empty file", File("zero.pfx"), "secret", 5401},
      {"a missing file", File("missing.pfx"), "secret", 5401},
      {"no path", "", "secret", 5005},
  };
  for (const Case& c : cases) {
    PfxStore pfx(db_);
    EXPECT_EQ(pfx.open(c.path, c.password, 1), c.code) << c.name;
    EXPECT_EQ(pfx.isOpen(), c.code == 0) << c.name;
    EXPECT_EQ(pfx.lastError() != 0, c.code != 0 && c.code != 5005) << c.name;
    if (c.code == 0) {
      std::vector<CertContext> certificates;
      ASSERT_EQ(pfx.store().enumerate(&certificates), 0u);
      ASSERT_EQ(certificates.size(), 1u) << c.name;
      EXPECT_EQ(CertificateInfo(certificates[0]).subjectCommonName(), "Pfx Holder");
      EXPECT_EQ(Keys(pfx).size(), 1u) << c.name;
    }
  }
}

TEST_F(PfxStoreTest, ClosingDeletesTheImportedKeys) {
  PfxStore pfx(db_);
  ASSERT_EQ(pfx.open(File("default.pfx"), "secret", 0), 0);
  const std::vector<KeyProviderInfo> keys = Keys(pfx);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_TRUE(KeyExists(keys[0]));
  pfx.close();
  EXPECT_FALSE(pfx.isOpen());
  EXPECT_EQ(pfx.lastError(), 0u);
  EXPECT_FALSE(KeyExists(keys[0]));
}

TEST_F(PfxStoreTest, OpeningAgainDeletesTheFirstImportsKeys) {
  PfxStore pfx(db_);
  ASSERT_EQ(pfx.open(File("default.pfx"), "secret", 0), 0);
  const KeyProviderInfo first = Keys(pfx).at(0);
  ASSERT_EQ(pfx.open(File("legacy.pfx"), "secret", 0), 0);
  const KeyProviderInfo second = Keys(pfx).at(0);
  EXPECT_FALSE(KeyExists(first));
  EXPECT_TRUE(KeyExists(second));
  EXPECT_NE(first.containerName, second.containerName);
  // A failed open also closes what was open.
  EXPECT_EQ(pfx.open(File("default.pfx"), "wrong", 0), 5208);
  EXPECT_FALSE(KeyExists(second));
}

TEST_F(PfxStoreTest, KeysKeptWhenTheOperationKeepsThem) {
  KeyProviderInfo kept;
  {
    PfxStore pfx(db_);
    ASSERT_EQ(pfx.open(File("default.pfx"), "secret", 1), 0);
    kept = Keys(pfx).at(0);
    pfx.setRemoveKeysOnClose(false);
  }  // closed by the destructor
  EXPECT_TRUE(KeyExists(kept));
}

TEST_F(PfxStoreTest, ImportFlagsReachTheKeys) {
  struct Case {
    int32_t flags;
    bool exportable;
  } cases[] = {{0, false}, {1, true}, {3, true}, {2, false}, {0x7C, false}};
  for (const Case& c : cases) {
    PfxStore pfx(db_);
    ASSERT_EQ(pfx.open(File("default.pfx"), "secret", c.flags), 0);
    const KeyProviderInfo info = Keys(pfx).at(0);
    std::unique_ptr<ProviderContext> context;
    uint32_t keySpec = 0;
    ASSERT_EQ(AcquireCertificatePrivateKey(info, 0, &context, &keySpec, db_), 0u);
    std::unique_ptr<CryptKey> key;
    ASSERT_EQ(context->getUserKey(keySpec, &key), 0u);
    ByteBuffer blob;
    EXPECT_EQ(key->exportKey(kPrivatekeyblob, 0, &blob) == 0, c.exportable) << c.flags;
  }
}

}  // namespace
}  // namespace quorvant
