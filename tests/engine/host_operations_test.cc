#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_test_access.h"
#include "engine/fake_services.h"
#include "engine/security_engine.h"
#include "host/registry/registry.h"
#include "host/shared_memory/shared_memory.h"

namespace quorvant {


namespace {

using testing::FakeServices;

AdapterAddress Address(std::initializer_list<uint8_t> bytes) {
  AdapterAddress a;
  for (uint8_t b : bytes) a.bytes[a.length++] = b;
  return a;
}

TEST(GetMacAddressTest, ListsAdaptersInOrder) {
  std::u16string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += (i ? u"\n" : u"") + std::u16string(u"01-01-01-01-01-01");
  struct Case {
    const char* name;
    std::vector<AdapterAddress> adapters;
    bool ok;
    std::u16string text;
    int32_t code;
  } cases[] = {
      {"two adapters, one line feed between", {Address({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}),
        Address({0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54})}, true,
       u"00-1A-2B-3C-4D-5E\nFE-DC-BA-98-76-54", 0},
      {"first six bytes of a longer address", {Address({1, 2, 3, 4, 5, 6, 7, 8})}, true,
       u"01-02-03-04-05-06", 0},
      {"short addresses are zero-padded", {Address({0xAB, 0xCD})}, true, u"AB-CD-00-00-00-00", 0},
      {"no adapters", {}, true, u"", 0},
      {"sixteen fit", std::vector<AdapterAddress>(16, Address({1, 1, 1, 1, 1, 1})), true,
       sixteen, 0},
      {"seventeen do not", std::vector<AdapterAddress>(17, Address({1})), true, u"", 5001},
      {"list unreadable", {}, false, u"", 5001},
  };
  for (const Case& c : cases) {
    FakeServices fakes;
    fakes.adapters->adapters = c.adapters;
    fakes.adapters->ok = c.ok;
    auto engine = fakes.makeEngine();
    EXPECT_EQ(engine->GetMacAddress(), c.text) << c.name;
    EXPECT_EQ(engine->GetErrorCode(), c.code) << c.name;
    EXPECT_EQ(engine->GetCapiErrorCode(), 0) << c.name;
  }
}

TEST(GetMacAddressTest, RefusesInProtectedMode) {
  FakeServices fakes;
  fakes.protectedMode->on = true;
  fakes.adapters->adapters = {Address({1, 2, 3, 4, 5, 6})};
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->GetMacAddress(), u"");
  EXPECT_EQ(engine->GetErrorCode(), 1500);
}

TEST(GetOSNameTest, EveryRowOfTheTable) {
  struct Case {
    uint32_t major, minor, platform;
    uint8_t product;
    bool r2;
    std::u16string name;
  } cases[] = {
      {4, 0, kVerPlatformWin32Nt, 1, false, u"Microsoft Windows NT 4.0"},
      {4, 0, kVerPlatformWin32Windows, 1, false, u"Microsoft Windows 95"},
      {4, 0, 0, 1, false, u""},
      {4, 10, kVerPlatformWin32Windows, 1, false, u"Microsoft Windows 98"},
      {4, 90, kVerPlatformWin32Windows, 1, false, u"Microsoft Windows Me"},
      {4, 3, kVerPlatformWin32Nt, 1, false, u""},
      {5, 0, kVerPlatformWin32Nt, 1, false, u"Microsoft Windows 2000"},
      {5, 1, kVerPlatformWin32Nt, 1, false, u"Microsoft Windows XP"},
      {5, 2, kVerPlatformWin32Nt, 1, true, u"Microsoft Windows XP Professional x64 Edition"},
      {5, 2, kVerPlatformWin32Nt, 3, true, u"Microsoft Windows Server 2003 R2"},
      {5, 2, kVerPlatformWin32Nt, 3, false, u"Microsoft Windows Server 2003"},
      {5, 3, kVerPlatformWin32Nt, 1, false, u""},
      {6, 0, kVerPlatformWin32Nt, 1, false, u"Microsoft Windows Vista"},
      {6, 0, kVerPlatformWin32Nt, 3, false, u"Microsoft Windows Server 2008"},
      {6, 1, kVerPlatformWin32Nt, 1, false, u"Microsoft Windows 7"},
      {6, 1, kVerPlatformWin32Nt, 2, false, u"Microsoft Windows Server 2008 R2"},
      {6, 2, kVerPlatformWin32Nt, 1, false, u"Microsoft Windows 8"},
      {6, 2, kVerPlatformWin32Nt, 3, false, u"Microsoft Windows Server 2012"},
      {6, 3, kVerPlatformWin32Nt, 1, false, u""},
      {10, 0, kVerPlatformWin32Nt, 1, false, u"Windows 系統無法識別"},
      {3, 51, kVerPlatformWin32Nt, 1, false, u"Windows 系統無法識別"},
  };
  for (const Case& c : cases) {
    FakeServices fakes;
    fakes.osVersion->info.majorVersion = c.major;
    fakes.osVersion->info.minorVersion = c.minor;
    fakes.osVersion->info.platformId = c.platform;
    fakes.osVersion->info.productType = c.product;
    fakes.osVersion->serverR2 = c.r2;
    fakes.protectedMode->on = true;  // ignored by GetOSName
    auto engine = fakes.makeEngine();
    EXPECT_EQ(engine->GetOSName(), c.name) << c.major << "." << c.minor;
    EXPECT_EQ(engine->GetErrorCode(), 0);
  }
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  fakes.osVersion->ok = false;
  EXPECT_EQ(engine->GetOSName(), u"Windows 作業系統偵測錯誤!");
}

TEST(GetOSNameTest, LinuxStandInIsWindows8) {
  auto engine = std::make_unique<SecurityEngine>(DefaultEngineServices());
  EXPECT_EQ(engine->GetOSName(), u"Microsoft Windows 8");
}

class RegistryOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvant-engine-reg-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    RegistryPaths paths;
    paths.currentUser = (dir_ / "user.db").string();
    paths.localMachine = (dir_ / "machine.db").string();
    paths.machineWritable = true;
    registry_ = OpenSqliteRegistry(paths);
    fakes_.registry = registry_;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  std::shared_ptr<Registry> registry_;
  FakeServices fakes_;
};

TEST_F(RegistryOperationsTest, RoundTrips) {
  auto engine = fakes_.makeEngine();
  struct Write {
    std::u16string name;
    std::variant<int32_t, std::u16string> value;
    std::u16string readBack;
  } writes[] = {
      {u"Software\\Test\\seven", 7, u"7"},
      {u"Software\\Test\\minus", -1, u"-1"},
      {u"Software\\Test\\min", INT32_MIN, u"-2147483648"},
      {u"Software\\Test\\text", std::u16string(u"hello"), u"hello"},
      {u"Software\\Test\\empty", std::u16string(u""), u""},
      {u"Software\\Test\\big5", std::u16string(u"許功蓋"), u"許功蓋"},
      {u"Software\\功\\蓋", std::u16string(u"split on characters"), u"split on characters"},
      {u"Software\\Test\\", std::u16string(u"default value"), u"default value"},
      {u"\\atRoot", 3, u"3"},
      {u"Software\\Test\\unmappable", std::u16string(u"\u0E01"), u"?"},
      {u"Software\\Test\\255", std::u16string(255, u'x'), std::u16string(255, u'x')},
      {u"Software\\Test\\256", std::u16string(256, u'x'), u""},
  };
  for (const Write& w : writes) {
    const int32_t code = std::holds_alternative<int32_t>(w.value)
                             ? engine->RegWriteHKCUInt(w.name, std::get<int32_t>(w.value))
                             : engine->RegWriteHKCUStr(w.name, std::get<std::u16string>(w.value));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(engine->RegReadHKCU(w.name), w.readBack);
    EXPECT_EQ(engine->GetErrorCode(), 0);
  }
  // Another engine (another process would see the same file) reads them too.
  auto other = fakes_.makeEngine();
  EXPECT_EQ(other->RegReadHKCU(u"Software\\Test\\seven"), u"7");
}

TEST_F(RegistryOperationsTest, ResultCodes) {
  auto engine = fakes_.makeEngine();
  ASSERT_EQ(engine->RegWriteHKCUInt(u"Software\\Exists\\n", 1), 0);
  ASSERT_EQ(registry_->createKey(RegRoot::kLocalMachine, "Software\\Vendor"), 0u);
  const uint8_t binary[] = {1, 2, 3};
  ASSERT_EQ(registry_->setValue(RegRoot::kCurrentUser, "Software\\Exists", "bin", reg::kBinary,
                                binary), 0u);
  struct Case {
    std::u16string name;
    int32_t code;
  } reads[] = {
      {u"", 5005},
      {u"noBackslash", 5005},
      {u"Software\\Exists\\missing", 0},  // missing value: empty, code 0
      {u"Software\\Exists\\bin", 0},      // another type: empty, code 0
      {u"Software\\Missing\\x", 5906},    // the key is never created by a read
  };
  for (const Case& c : reads) {
    EXPECT_EQ(engine->RegReadHKCU(c.name), u"");
    EXPECT_EQ(engine->GetErrorCode(), c.code) << std::string(c.name.begin(), c.name.end());
  }
  EXPECT_EQ(registry_->keyExists(RegRoot::kCurrentUser, "Software\\Missing"), 2u);
  EXPECT_EQ(engine->RegReadHKLM(u"Software\\Vendor\\x"), u"");
  EXPECT_EQ(engine->GetErrorCode(), 0);
  EXPECT_EQ(engine->RegReadHKLM(u"Software\\Nobody\\x"), u"");
  EXPECT_EQ(engine->GetErrorCode(), 5906);
  EXPECT_EQ(engine->RegWriteHKCUStr(u"nothing", u"x"), 5005);
  EXPECT_EQ(engine->RegWriteHKCUInt(u"\\\\bad\\x", 1), 5906);  // empty key component
}

TEST_F(RegistryOperationsTest, ArgumentsAreCheckedBeforeProtectedMode) {
  fakes_.protectedMode->on = true;
  auto engine = fakes_.makeEngine();
  EXPECT_EQ(engine->RegReadHKCU(u"noBackslash"), u"");
  EXPECT_EQ(engine->GetErrorCode(), 5005);
  EXPECT_EQ(engine->RegReadHKCU(u"a\\b"), u"");
  EXPECT_EQ(engine->GetErrorCode(), 1500);
  EXPECT_EQ(engine->RegWriteHKCUInt(u"a\\b", 1), 1500);
  EXPECT_EQ(engine->RegWriteHKCUStr(u"a\\b", u"x"), 1500);
  EXPECT_EQ(engine->RegReadHKLM(u"a\\b"), u"");
  EXPECT_EQ(engine->GetErrorCode(), 1500);
  EXPECT_EQ(registry_->keyExists(RegRoot::kCurrentUser, "a"), 2u);
}

TEST_F(RegistryOperationsTest, RegistryOperationsKeepTheSystemError) {
  fakes_.moduleVersion->ok = false;
  auto engine = fakes_.makeEngine();
  engine->GetVersion();
  EXPECT_EQ(engine->RegWriteHKCUInt(u"Software\\T\\n", 1), 0);
  EXPECT_EQ(engine->GetCapiErrorCode(), 1813);
}

TEST(PropertyStoreAccessorsTest, NeutralResultsWithoutAStore) {
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  ByteBuffer bytes;
  EXPECT_EQ(engine->GetIntProperty("signerMedia"), -1);
  EXPECT_EQ(engine->GetStringProperty("signerCertHash"), "");
  EXPECT_FALSE(engine->GetBytesProperty("signerCertBytes", bytes));
}

TEST(PropertyStoreAccessorsTest, StringsReplaceAndEmptyDeletes) {
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  engine->SetStringProperty("signerCertHash", "ABCDEF");
  EXPECT_EQ(engine->GetStringProperty("signerCertHash"), "ABCDEF");
  engine->SetStringProperty("signerCertHash", "AB");
  EXPECT_EQ(engine->GetStringProperty("signerCertHash"), "AB");
  engine->SetStringProperty("signerCertHash", "");
  EXPECT_EQ(engine->GetStringProperty("signerCertHash"), "");
  EXPECT_EQ(engine->GetIntProperty("signerCertHash"), -1);
  // A second engine of the same name sees the same values.
  engine->SetStringProperty("k", "shared");
  auto other = fakes.makeEngine();
  other->SetStringProperty("other", "x");
  EXPECT_EQ(other->GetStringProperty("k"), "shared");
}

TEST(PropertyStoreAccessorsTest, PublishSigner) {
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  const std::string first(100, 'A');
  SecurityEngineTestAccess::selectSigner(*engine, 2, first, "HASH1");
  engine->PublishSigner();
  ByteBuffer bytes;
  EXPECT_EQ(engine->GetIntProperty("signerMedia"), 2);
  ASSERT_TRUE(engine->GetBytesProperty("signerCertBytes", bytes));
  EXPECT_EQ(bytes.view(), first);
  EXPECT_EQ(engine->GetStringProperty("signerCertHash"), "HASH1");
  EXPECT_EQ(engine->GetStringProperty("signerCertPasswd"), "pw");
  EXPECT_EQ(engine->GetStringProperty("signerCertFilePath"), "/tmp");
  EXPECT_EQ(engine->GetStringProperty("signerCertFileName"), "a.pfx");

  // A shorter certificate is written in place: the stored length stays and
  // zeros follow the new bytes.
  SecurityEngineTestAccess::selectSigner(*engine, 1, std::string(60, 'B'), "HASH2");
  engine->PublishSigner();
  ASSERT_TRUE(engine->GetBytesProperty("signerCertBytes", bytes));
  EXPECT_EQ(bytes.view(), std::string(60, 'B') + std::string(40, '\0'));
  EXPECT_EQ(engine->GetIntProperty("signerMedia"), 1);

  // A longer one replaces the record instead of leaving the old certificate
  // beside the new thumbprint.
  const std::string longer(150, 'C');
  SecurityEngineTestAccess::selectSigner(*engine, 2, longer, "HASH3");
  engine->PublishSigner();
  ASSERT_TRUE(engine->GetBytesProperty("signerCertBytes", bytes));
  EXPECT_EQ(bytes.view(), longer);
  EXPECT_EQ(engine->GetStringProperty("signerCertHash"), "HASH3");
  EXPECT_EQ(engine->GetErrorCode(), 0);
}

}  // namespace
}  // namespace quorvant
