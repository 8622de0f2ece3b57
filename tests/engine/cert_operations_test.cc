#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "certs/test_certificates.h"
#include "encoding/code_page.h"
#include "engine/engine_test_access.h"
#include "engine/fake_services.h"
#include "support/scoped_time_zone.h"
#include "engine/security_engine.h"
#include "platform/stores/cert_store.h"

namespace quorvant {


namespace {

using testing::FakeServices;
using testing::MakeTestCertificate;
using testing::OpenSslSha1Hex;
using testing::ReadTestData;
using testing::TestCertificateOptions;
using Der = std::vector<uint8_t>;

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class CertOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetActiveCodePage(950));
    engine_ = fakes_.makeEngine();
  }

  CertStore personalStore() {
    CertStore store;
    EXPECT_EQ(fakes_.stores->openSystemStore("MY", &store), 0u);
    return store;
  }
  void add(const Der& der) {
    ASSERT_EQ(personalStore().addEncoded(der, AddDisposition::kAlways), 0u);
  }
  // Leaves code 5010 behind, for getters that must keep or clear it.
  void leaveCodes() {
    engine_->GetIECertCount();
    EXPECT_EQ(engine_->DeleteIECert(999), 5010);
  }

  FakeServices fakes_;
  std::unique_ptr<SecurityEngine> engine_;

 private:
  testing::ScopedTimeZone zone_{"Asia/Taipei"};
};

Der Leaf(const std::string& cn, uint64_t serial, int keyUsage = -1) {
  TestCertificateOptions options;
  options.commonName = cn;
  options.issuerCommonName = "Issuer " + cn;
  options.serial = serial;
  options.keyUsage = keyUsage;
  return MakeTestCertificate(options);
}

TEST_F(CertOperationsTest, ListsEveryCertificateOfThePersonalStoreInOrder) {
  const Der a = Leaf("Alice", 0x8F12), b = ReadTestData("chinese_bmp.der"), c = Leaf("Carol", 7);
  add(a);
  add(b);
  add(c);
  // Another store is not listed.
  CertStore ca;
  ASSERT_EQ(fakes_.stores->openSystemStore("CA", &ca), 0u);
  ASSERT_EQ(ca.addEncoded(Leaf("Authority", 9), AddDisposition::kAlways), 0u);

  ASSERT_EQ(engine_->GetIECertCount(), 3);
  EXPECT_EQ(engine_->GetErrorCode(), 0);
  EXPECT_EQ(engine_->GetIECertCommonName(1), u"Alice");
  EXPECT_EQ(engine_->GetIECertSubject(1), u"CN=Alice");
  EXPECT_EQ(engine_->GetIECertIssuer(1), u"CN=Issuer Alice");
  EXPECT_EQ(engine_->GetIECertSerial(1), u"008F12");
  EXPECT_EQ(engine_->GetIECertFinger(1), U16(OpenSslSha1Hex(a)));
  EXPECT_EQ(engine_->GetIECertNotBefore(1), u"20130624113115");
  EXPECT_EQ(engine_->GetIECertNotAfter(1), u"20160101000000");
  EXPECT_EQ(engine_->GetIECertCommonName(2), u"王小明");
  EXPECT_EQ(engine_->GetIECertSubject(2), u"C=TW, O=測試銀行, OU=營業部, CN=王小明");
  EXPECT_EQ(engine_->GetIECertFinger(2), U16(OpenSslSha1Hex(b)));
  EXPECT_EQ(engine_->GetIECertSerial(3), u"07");
}

TEST_F(CertOperationsTest, IndexesOutsideTheListGiveEmptyTextAndKeepTheCodes) {
  add(Leaf("Alice", 1));
  leaveCodes();
  ASSERT_EQ(engine_->GetIECertCount(), 1);
  EXPECT_EQ(engine_->DeleteIECert(2), 5010);
  using Getter = Text (SecurityEngine::*)(int32_t);
  const Getter getters[] = {&SecurityEngine::GetIECertSerial,   &SecurityEngine::GetIECertCommonName,
                            &SecurityEngine::GetIECertSubject,  &SecurityEngine::GetIECertIssuer,
                            &SecurityEngine::GetIECertNotBefore, &SecurityEngine::GetIECertNotAfter,
                            &SecurityEngine::GetIECertFinger};
  for (Getter g : getters) {
    for (int32_t index : {0, 2, -1, INT32_MIN, INT32_MAX}) {
      EXPECT_EQ(((*engine_).*g)(index), u"");
    }
    EXPECT_NE(((*engine_).*g)(1), u"");
    EXPECT_EQ(engine_->GetErrorCode(), 5010);
  }
}

TEST_F(CertOperationsTest, TheListIsASnapshot) {
  add(Leaf("Alice", 1));
  ASSERT_EQ(engine_->GetIECertCount(), 1);
  add(Leaf("Bob", 2));
  EXPECT_EQ(engine_->GetIECertSubject(2), u"");
  // Deleted from the store behind the list's back: the entry still reads.
  std::vector<CertContext> all;
  ASSERT_EQ(personalStore().enumerate(&all), 0u);
  ASSERT_EQ(CertStore::DeleteCertificate(all[0]), 0u);
  EXPECT_EQ(engine_->GetIECertSubject(1), u"CN=Alice");
  // ... but cannot be deleted again.
  EXPECT_EQ(engine_->DeleteIECert(1), 5010);
  EXPECT_EQ(engine_->GetIECertSubject(1), u"CN=Alice");
  ASSERT_EQ(engine_->GetIECertCount(), 1);
  EXPECT_EQ(engine_->GetIECertSubject(1), u"CN=Bob");
}

TEST_F(CertOperationsTest, DeleteRemovesTheFirstEqualCertificateAndEmptiesTheList) {
  const Der a = Leaf("Alice", 1), b = Leaf("Bob", 2), c = Leaf("Carol", 3);
  for (const Der* der : {&a, &b, &c, &b}) add(*der);
  ASSERT_EQ(engine_->GetIECertCount(), 4);
  // Entry 4 is the second copy of Bob; the first copy goes.
  EXPECT_EQ(engine_->DeleteIECert(4), 0);
  EXPECT_EQ(engine_->GetErrorCode(), 0);
  EXPECT_EQ(engine_->GetIECertSubject(1), u"");
  EXPECT_EQ(engine_->DeleteIECert(1), 5010);
  ASSERT_EQ(engine_->GetIECertCount(), 3);
  EXPECT_EQ(engine_->GetIECertCommonName(1), u"Alice");
  EXPECT_EQ(engine_->GetIECertCommonName(2), u"Carol");
  EXPECT_EQ(engine_->GetIECertCommonName(3), u"Bob");
  EXPECT_EQ(engine_->DeleteIECert(0), 5010);
  EXPECT_EQ(engine_->DeleteIECert(4), 5010);
  EXPECT_EQ(engine_->GetIECertCount(), 3);
}

TEST_F(CertOperationsTest, ADeletionInAnotherProcessIsSeenAtTheNextCount) {
  add(Leaf("Alice", 1));
  add(Leaf("Bob", 2));
  ASSERT_EQ(engine_->GetIECertCount(), 2);
  const pid_t child = ::fork();
  if (child == 0) {
    // The same database through a connection of its own.
    EngineServices services = fakes_.engineServices();
    services.stores =
        MakeDatabaseCertificateStores(fakes_.dataDirectory->path() + "/platform.db");
    SecurityEngine engine(std::move(services));
    const bool ok = engine.GetIECertCount() == 2 && engine.DeleteIECert(1) == 0;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(engine_->DeleteIECert(1), 5010);
  ASSERT_EQ(engine_->GetIECertCount(), 1);
  EXPECT_EQ(engine_->GetIECertCommonName(1), u"Bob");
}

TEST_F(CertOperationsTest, ProtectedModeRefusesTheStoreOperations) {
  add(Leaf("Alice", 1));
  ASSERT_EQ(engine_->GetIECertCount(), 1);
  fakes_.protectedMode->on = true;
  auto engine = fakes_.makeEngine();
  EXPECT_EQ(engine->GetIECertCount(), 0);
  EXPECT_EQ(engine->GetErrorCode(), 1500);
  EXPECT_EQ(engine->GetIECertSubject(1), u"");
  EXPECT_EQ(engine->DeleteIECert(1), 1500);
  std::vector<CertContext> all;
  ASSERT_EQ(personalStore().enumerate(&all), 0u);
  EXPECT_EQ(all.size(), 1u);
  // The fields of the current certificate do not look at protected mode.
  const Der der = ReadTestData("chinese_bmp.der");
  SecurityEngineTestAccess::selectSigner(
      *engine, 1, std::string_view(reinterpret_cast<const char*>(der.data()), der.size()), "");
  EXPECT_EQ(engine->GetCertSubjectCN(), u"王小明");
  EXPECT_EQ(engine->GetErrorCode(), 0);
}

TEST_F(CertOperationsTest, AStoreThatCannotBeOpenedCountsAsEmpty) {
  fakes_.stores = MakeDatabaseCertificateStores("/dev/null/platform.db");
  auto engine = fakes_.makeEngine();
  EXPECT_EQ(engine->GetIECertCount(), 0);
  EXPECT_EQ(engine->GetErrorCode(), 0);
  EXPECT_NE(engine->GetCapiErrorCode(), 0);
  EXPECT_EQ(engine->GetIECertSubject(1), u"");
  fakes_.stores = nullptr;
  EXPECT_EQ(fakes_.makeEngine()->GetIECertCount(), 0);
}

TEST_F(CertOperationsTest, FieldsOfTheCurrentCertificate) {
  const Der der = ReadTestData("chinese_bmp.der");
  leaveCodes();
  const int32_t capi = engine_->GetCapiErrorCode();
  SecurityEngineTestAccess::selectSigner(
      *engine_, 1, std::string_view(reinterpret_cast<const char*>(der.data()), der.size()),
      OpenSslSha1Hex(der));
  // GetCertB64 touches no code.
  const Text base64 = engine_->GetCertB64();
  EXPECT_EQ(engine_->GetErrorCode(), 5010);
  std::string expected(4 * ((der.size() + 2) / 3), '\0');
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()), der.data(),
                  static_cast<int>(der.size()));
  EXPECT_EQ(base64, U16(expected));

  EXPECT_EQ(engine_->GetCertSubject(), u"C=TW, O=測試銀行, OU=營業部, CN=王小明");
  EXPECT_EQ(engine_->GetErrorCode(), 0);
  EXPECT_EQ(engine_->GetCapiErrorCode(), capi);
  EXPECT_EQ(engine_->GetCertSubjectCN(), u"王小明");
  EXPECT_EQ(engine_->GetCertIssuer(), u"C=TW, O=測試憑證中心, CN=測試憑證中心 Root CA");
  EXPECT_EQ(engine_->GetCertSerial(), u"008F12");
  EXPECT_EQ(engine_->GetCertNotBefore(), u"20130624113115");
  EXPECT_EQ(engine_->GetCertNotAfter(), u"20160101000000");
  EXPECT_EQ(engine_->GetCertFinger(), U16(OpenSslSha1Hex(der)));
  EXPECT_EQ(engine_->GetCertKeyUsage(), 192);

  // No certificate, or bytes that are none: empty texts, code 0.
  for (std::string_view bytes : {std::string_view(), std::string_view("not a certificate")}) {
    SecurityEngineTestAccess::selectSigner(*engine_, -1, bytes, "");
    leaveCodes();
    EXPECT_EQ(engine_->GetCertKeyUsage(), 0);
    EXPECT_EQ(engine_->GetErrorCode(), 0);
    using Getter = Text (SecurityEngine::*)();
    for (Getter g : {&SecurityEngine::GetCertSubject, &SecurityEngine::GetCertSubjectCN,
                     &SecurityEngine::GetCertIssuer, &SecurityEngine::GetCertSerial,
                     &SecurityEngine::GetCertNotBefore, &SecurityEngine::GetCertNotAfter,
                     &SecurityEngine::GetCertFinger}) {
      leaveCodes();
      EXPECT_EQ(((*engine_).*g)(), u"");
      EXPECT_EQ(engine_->GetErrorCode(), 0);
    }
  }
  SecurityEngineTestAccess::selectSigner(*engine_, -1, std::string_view(), "");
  EXPECT_EQ(engine_->GetCertB64(), u"");
}

}  // namespace
}  // namespace quorvant
