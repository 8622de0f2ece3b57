#include "platform/stores/cert_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "certs/test_certificates.h"
#include "base/win32_errors.h"
#include "platform/database/platform_database.h"
#include "support/join.h"

namespace quorvant {
namespace {

using testing::MakeTestCertificate;
using testing::OpenSslSha1Hex;
using Der = std::vector<uint8_t>;

constexpr uint32_t kEInvalidArg = 0x80070057;

std::string Hex(std::span<const uint8_t> bytes) {
  std::string out;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    out += pair;
  }
  return out;
}

std::vector<Der> Encodings(const CertStore& store) {
  std::vector<CertContext> contexts;
  EXPECT_EQ(store.enumerate(&contexts), 0u);
  std::vector<Der> out;
  for (const CertContext& c : contexts) out.emplace_back(c.encoded().begin(), c.encoded().end());
  return out;
}

std::u16string FriendlyName(const CertContext& c) {
  std::u16string name;
  if (c.friendlyName(&name) != 0) return u"<none>";
  return name;
}

// Each test gets its own database in a private directory.
class CertStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvant-cert-store-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    path_ = directory_ + "/platform.db";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  CertStore open(const char* name, const std::shared_ptr<CertificateStores>& stores = nullptr) {
    CertStore store;
    const auto& use = stores ? stores : stores_;
    EXPECT_EQ(use->openSystemStore(name, &store), 0u);
    return store;
  }

  std::string directory_;
  std::string path_;
  std::shared_ptr<CertificateStores> stores_ = nullptr;

  void openStores() { stores_ = MakeDatabaseCertificateStores(path_); }
};

const Der& A() {
  static const Der der = MakeTestCertificate("A", 1);
  return der;
}
const Der& B() {
  static const Der der = MakeTestCertificate("B", 2);
  return der;
}
const Der& C() {
  static const Der der = MakeTestCertificate("C", 3);
  return der;
}

// Dispositions with an existing element named "old" (friendly name) and an
// incoming copy named "new" with a key provider of its own.
struct DispositionCase {
  AddDisposition disposition;
  uint32_t error;
  size_t count;
  const char16_t* friendlyName;  // of the element afterwards
  bool hasKeyProvider;
  bool sameElementAsBefore;
};

const DispositionCase kDispositions[] = {
    {AddDisposition::kNew, win32::kCryptEExists, 2, u"old", false, true},
    {AddDisposition::kUseExisting, 0, 2, u"old", true, true},
    {AddDisposition::kReplaceExisting, 0, 2, u"new", true, false},
    {AddDisposition::kAlways, 0, 3, u"new", true, false},
    {AddDisposition::kReplaceExistingInheritProperties, 0, 2, u"new", true, false},
};

void CheckDispositions(const std::function<CertStore()>& makeStore, bool persistent) {
  for (const DispositionCase& c : kDispositions) {
    SCOPED_TRACE(static_cast<int>(c.disposition));
    const CertStore store = makeStore();
    CertContext old;
    ASSERT_EQ(store.addEncoded(A(), AddDisposition::kAlways, &old), 0u);
    ASSERT_EQ(store.addEncoded(B(), AddDisposition::kAlways), 0u);
    ASSERT_EQ(old.setFriendlyName(u"old"), 0u);
    std::vector<uint8_t> kept = {1, 2, 3};
    ASSERT_EQ(old.setProperty(100, kept), 0u);

    CertContext incoming;
    ASSERT_EQ(CertContext::Create(A(), &incoming), 0u);
    ASSERT_EQ(incoming.setFriendlyName(u"new"), 0u);
    KeyProviderInfo info{u"container", u"provider", 1, 0, kAtSignature};
    ASSERT_EQ(incoming.setKeyProviderInfo(info), 0u);

    CertContext added;
    EXPECT_EQ(store.addContext(incoming, c.disposition, &added), c.error);
    std::vector<CertContext> all;
    ASSERT_EQ(store.enumerate(&all), 0u);
    ASSERT_EQ(all.size(), c.count);
    // Replacing keeps the place; "always" appends.
    const CertContext& result = c.disposition == AddDisposition::kAlways ? all[2] : all[0];
    EXPECT_EQ(FriendlyName(result), c.friendlyName);
    KeyProviderInfo read;
    EXPECT_EQ(result.keyProviderInfo(&read) == 0, c.hasKeyProvider);
    if (c.hasKeyProvider) {
      EXPECT_EQ(read, info);
    }
    std::vector<uint8_t> property;
    const bool inherits = c.disposition == AddDisposition::kUseExisting ||
                          c.disposition == AddDisposition::kReplaceExistingInheritProperties ||
                          c.disposition == AddDisposition::kNew;
    EXPECT_EQ(result.getProperty(100, &property) == 0, inherits);
    if (c.error == 0) {
      EXPECT_TRUE(added.sameElement(result));
    }
    if (!persistent) {
      EXPECT_EQ(result.sameElement(old), c.sameElementAsBefore);
    }
    EXPECT_EQ(Hex(all[1].encoded()), Hex(B()));
  }
}

TEST_F(CertStoreTest, DispositionsInAMemoryStore) {
  CheckDispositions([] { return CertStore::OpenMemory(); }, false);
}

TEST_F(CertStoreTest, DispositionsInASystemStore) {
  openStores();
  int round = 0;
  CheckDispositions(
      [&] {
        const std::string name = "R" + std::to_string(round++);
        return open(name.c_str());
      },
      true);
}

TEST_F(CertStoreTest, RejectsBadArguments) {
  openStores();
  const CertStore store = open("MY");
  const Der notACertificate = {0x30, 0x03, 0x02, 0x01, 0x01};
  EXPECT_EQ(store.addEncoded(notACertificate, AddDisposition::kAlways), win32::kCryptEAsn1Badtag);
  EXPECT_EQ(store.addEncoded(Der{}, AddDisposition::kAlways), win32::kCryptEAsn1Eod);
  EXPECT_EQ(store.addEncoded(A(), static_cast<AddDisposition>(6)), kEInvalidArg);
  EXPECT_EQ(store.addEncoded(A(), static_cast<AddDisposition>(0)), kEInvalidArg);
  EXPECT_EQ(store.addContext(CertContext(), AddDisposition::kAlways), kEInvalidArg);
  EXPECT_EQ(CertStore().addEncoded(A(), AddDisposition::kAlways), kEInvalidArg);
  EXPECT_EQ(CertStore::DeleteCertificate(CertContext()), kEInvalidArg);
  CertContext c;
  ASSERT_EQ(CertContext::Create(A(), &c), 0u);
  EXPECT_EQ(store.addLink(c, AddDisposition::kAlways), win32::kErrorNotSupported);
  CertStore none;
  EXPECT_EQ(stores_->openSystemStore("", &none), win32::kErrorInvalidParameter);
  EXPECT_EQ(stores_->openSystemStore(std::string(257, 'X'), &none),
            win32::kErrorInvalidParameter);
  EXPECT_TRUE(Encodings(store).empty());
}

TEST_F(CertStoreTest, DatabaseThatCannotBeOpened) {
  // A regular file where the database's directory should be.
  const std::string file = directory_ + "/file";
  FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  CertStore store;
  EXPECT_NE(MakeDatabaseCertificateStores(file + "/platform.db")->openSystemStore("MY", &store),
            0u);
  EXPECT_FALSE(store.valid());
  std::filesystem::create_directory(directory_ + "/notadb");
  f = std::fopen((directory_ + "/notadb/platform.db").c_str(), "w");
  for (int i = 0; i < 64; ++i) std::fputs("this is no database. ", f);
  std::fclose(f);
  EXPECT_EQ(MakeDatabaseCertificateStores(directory_ + "/notadb/platform.db")
                ->openSystemStore("MY", &store),
            win32::kErrorBaddb);
}

TEST_F(CertStoreTest, StoresAreSeparateAndNamesIgnoreCase) {
  openStores();
  ASSERT_EQ(open("my").addEncoded(A(), AddDisposition::kAlways), 0u);
  ASSERT_EQ(open("Ca").addEncoded(B(), AddDisposition::kAlways), 0u);
  EXPECT_EQ(open("MY").name(), "MY");
  EXPECT_EQ(Encodings(open("MY")), std::vector<Der>{A()});
  EXPECT_EQ(Encodings(open("CA")), std::vector<Der>{B()});
  EXPECT_TRUE(Encodings(open("ROOT")).empty());
}

TEST_F(CertStoreTest, PropertiesOfASystemStoreElement) {
  openStores();
  const CertStore store = open("MY");
  CertContext c;
  ASSERT_EQ(store.addEncoded(A(), AddDisposition::kAlways, &c), 0u);

  std::vector<uint8_t> bytes;
  ASSERT_EQ(c.getProperty(kCertSha1HashPropId, &bytes), 0u);
  EXPECT_EQ(Hex(bytes), OpenSslSha1Hex(A()));
  EXPECT_EQ(c.getProperty(kCertFriendlyNamePropId, &bytes), win32::kCryptENotFound);
  EXPECT_EQ(c.getProperty(kCertKeyContextPropId, &bytes), kEInvalidArg);
  EXPECT_EQ(c.setProperty(kCertSha1HashPropId, bytes), kEInvalidArg);

  // The friendly name is UTF-16, low byte first, with its terminating zero.
  ASSERT_EQ(c.setFriendlyName(u"王A"), 0u);
  ASSERT_EQ(c.getProperty(kCertFriendlyNamePropId, &bytes), 0u);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x8B, 0x73, 'A', 0, 0, 0}));
  const KeyProviderInfo info{u"容器-1", u"Microsoft Enhanced Cryptographic Provider v1.0", 1,
                             0x20, kAtKeyExchange};
  ASSERT_EQ(c.setKeyProviderInfo(info), 0u);

  // Another handle, another process's view: read back from the database.
  const auto again = MakeDatabaseCertificateStores(path_);
  std::vector<CertContext> seen;
  ASSERT_EQ(open("MY", again).enumerate(&seen), 0u);
  ASSERT_EQ(seen.size(), 1u);
  KeyProviderInfo read;
  ASSERT_EQ(seen[0].keyProviderInfo(&read), 0u);
  EXPECT_EQ(read, info);
  EXPECT_EQ(FriendlyName(seen[0]), u"王A");
  EXPECT_EQ(seen[0].removeProperty(kCertFriendlyNamePropId), 0u);
  std::u16string name;
  EXPECT_EQ(c.friendlyName(&name), win32::kCryptENotFound);
  EXPECT_EQ(seen[0].removeProperty(kCertFriendlyNamePropId), 0u);

  // After deletion the properties are gone with the element.
  ASSERT_EQ(CertStore::DeleteCertificate(seen[0]), 0u);
  EXPECT_EQ(c.keyProviderInfo(&read), win32::kCryptENotFound);
  EXPECT_EQ(c.setFriendlyName(u"late"), win32::kCryptENotFound);
  EXPECT_EQ(CertStore::DeleteCertificate(c), win32::kCryptENotFound);
}

TEST_F(CertStoreTest, DamagedKeyProviderInformation) {
  CertContext c;
  ASSERT_EQ(CertContext::Create(A(), &c), 0u);
  const std::vector<uint8_t> damaged = {1, 0, 0, 0, 0, 0};
  ASSERT_EQ(c.setProperty(kCertKeyProvInfoPropId, damaged), 0u);
  KeyProviderInfo info;
  EXPECT_EQ(c.keyProviderInfo(&info), win32::kErrorInvalidData);
}

TEST_F(CertStoreTest, KeyContextStaysInMemory) {
  openStores();
  const CertStore store = open("MY");
  ASSERT_EQ(store.addEncoded(A(), AddDisposition::kAlways), 0u);
  std::vector<CertContext> first, second;
  ASSERT_EQ(store.enumerate(&first), 0u);
  first[0].setKeyContext(CertKeyContext{nullptr, kAtSignature});
  // The same row through the same handle is the same element.
  ASSERT_EQ(store.enumerate(&second), 0u);
  ASSERT_TRUE(second[0].keyContext().has_value());
  EXPECT_EQ(second[0].keyContext()->keySpec, kAtSignature);
  EXPECT_TRUE(second[0].sameElement(first[0]));
  // Never written to the database.
  std::vector<CertContext> other;
  ASSERT_EQ(open("MY", MakeDatabaseCertificateStores(path_)).enumerate(&other), 0u);
  EXPECT_FALSE(other[0].keyContext().has_value());
  // Copied with the certificate into a memory store.
  CertContext copy;
  ASSERT_EQ(CertStore::OpenMemory().addContext(first[0], AddDisposition::kAlways, &copy), 0u);
  EXPECT_EQ(copy.keyContext()->keySpec, kAtSignature);
}

TEST_F(CertStoreTest, LinksShareTheElement) {
  openStores();
  const CertStore my = open("MY");
  CertContext original;
  ASSERT_EQ(my.addEncoded(A(), AddDisposition::kAlways, &original), 0u);
  const CertStore memory = CertStore::OpenMemory();
  CertContext link;
  ASSERT_EQ(memory.addLink(original, AddDisposition::kAlways, &link), 0u);
  EXPECT_TRUE(link.sameElement(original));
  // A property set through the link lands on the system store's element.
  ASSERT_EQ(link.setFriendlyName(u"through link"), 0u);
  std::vector<CertContext> seen;
  ASSERT_EQ(open("MY", MakeDatabaseCertificateStores(path_)).enumerate(&seen), 0u);
  EXPECT_EQ(FriendlyName(seen[0]), u"through link");
  // A second link with NEW is refused; deleting the link leaves the original.
  EXPECT_EQ(memory.addLink(original, AddDisposition::kNew), win32::kCryptEExists);
  ASSERT_EQ(CertStore::DeleteCertificate(link), 0u);
  EXPECT_TRUE(Encodings(memory).empty());
  EXPECT_EQ(Encodings(my), std::vector<Der>{A()});
}

TEST_F(CertStoreTest, OrderDuplicatesAndDeletion) {
  openStores();
  const CertStore store = open("MY");
  for (const Der* der : {&A(), &B(), &A(), &C()}) {
    ASSERT_EQ(store.addEncoded(*der, AddDisposition::kAlways), 0u);
  }
  EXPECT_EQ(Encodings(store), (std::vector<Der>{A(), B(), A(), C()}));
  std::vector<CertContext> all;
  ASSERT_EQ(store.enumerate(&all), 0u);
  // Deleting the second copy of A leaves the first.
  ASSERT_EQ(CertStore::DeleteCertificate(all[2]), 0u);
  EXPECT_EQ(Encodings(store), (std::vector<Der>{A(), B(), C()}));
  // A memory store behaves alike.
  const CertStore memory = CertStore::OpenMemory();
  for (const Der* der : {&C(), &A(), &C()}) {
    ASSERT_EQ(memory.addEncoded(*der, AddDisposition::kAlways), 0u);
  }
  ASSERT_EQ(memory.enumerate(&all), 0u);
  ASSERT_EQ(CertStore::DeleteCertificate(all[0]), 0u);
  EXPECT_EQ(CertStore::DeleteCertificate(all[0]), win32::kCryptENotFound);
  EXPECT_EQ(Encodings(memory), (std::vector<Der>{A(), C()}));
}

// Runs `child` in a forked process; true when it exited with 0.
template <typename Child>
pid_t Fork(Child child) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(child() ? 0 : 1);
  return pid;
}

bool Succeeded(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(CertStoreTest, ChangesPersistAcrossProcesses) {
  openStores();
  const CertStore store = open("MY");
  ASSERT_EQ(store.addEncoded(A(), AddDisposition::kAlways), 0u);
  // The test certificates carry fresh ECDSA signatures: make B here so the
  // child adds the very bytes this process compares with.
  (void)B();
  // Another process adds B and names A; this handle sees both at its next
  // enumeration.
  const pid_t child = Fork([&] {
    CertStore theirs;
    std::vector<CertContext> seen;
    const auto stores = MakeDatabaseCertificateStores(path_);
    return stores->openSystemStore("MY", &theirs) == 0 &&
           theirs.addEncoded(B(), AddDisposition::kAlways) == 0 &&
           theirs.enumerate(&seen) == 0 && seen.size() == 2 &&
           seen[0].setFriendlyName(u"named elsewhere") == 0;
  });
  ASSERT_TRUE(Succeeded(child));
  std::vector<CertContext> seen;
  ASSERT_EQ(store.enumerate(&seen), 0u);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(FriendlyName(seen[0]), u"named elsewhere");
  EXPECT_EQ(Hex(seen[1].encoded()), Hex(B()));
  // And after every handle is gone.
  stores_.reset();
  EXPECT_EQ(Encodings(open("MY", MakeDatabaseCertificateStores(path_))),
            (std::vector<Der>{A(), B()}));
}

TEST_F(CertStoreTest, ConcurrentWritersLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kEach = 40;
  std::vector<std::vector<Der>> batches(kProcesses);
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kEach; ++i) {
      batches[p].push_back(MakeTestCertificate(Join("P", std::to_string(p)), 1000 * p + i + 1));
    }
  }
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(Fork([&, p] {
      const auto stores = MakeDatabaseCertificateStores(path_);
      CertStore store;
      if (stores->openSystemStore("MY", &store) != 0) return false;
      for (const Der& der : batches[p]) {
        // Half with each of the two dispositions the component uses.
        const auto disposition = der.size() % 2 ? AddDisposition::kAlways
                                                : AddDisposition::kReplaceExistingInheritProperties;
        if (store.addEncoded(der, disposition) != 0) return false;
      }
      return true;
    }));
  }
  for (pid_t child : children) EXPECT_TRUE(Succeeded(child));
  openStores();
  const std::vector<Der> all = Encodings(open("MY"));
  EXPECT_EQ(all.size(), static_cast<size_t>(kProcesses * kEach));
  EXPECT_EQ(std::set<Der>(all.begin(), all.end()).size(), all.size());
  // Each writer's certificates keep their relative order.
  for (int p = 0; p < kProcesses; ++p) {
    size_t next = 0;
    for (const Der& der : all) {
      if (next < batches[p].size() && der == batches[p][next]) ++next;
    }
    EXPECT_EQ(next, batches[p].size());
  }
}

}  // namespace
}  // namespace quorvant
