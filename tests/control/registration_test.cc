// The control's registry entries, written to a scratch store: the listing
// the registration leaves, rollback after a failure at every single write,
// and what unregistration removes and keeps.
#include "control/registration.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

namespace quorvant::control {
namespace {

std::vector<uint8_t> Utf16z(std::string_view ascii) {
  std::vector<uint8_t> data;
  for (char c : ascii) data.insert(data.end(), {static_cast<uint8_t>(c), 0});
  data.insert(data.end(), {0, 0});
  return data;
}

std::string ValueText(const RegValue& value) {
  if (value.type != reg::kSz) return "type " + std::to_string(value.type);
  std::string text;
  for (size_t i = 0; i + 1 < value.data.size() && value.data[i] != 0; i += 2) {
    text += static_cast<char>(value.data[i]);
  }
  return text;
}

// Every key below `path` with its values, one line each, depth first, in
// the store's order or sorted (a rollback may restore keys in another order).
void List(Registry& r, RegRoot root, const std::string& path, const std::string& shown,
          bool sorted, std::string* out) {
  std::string name;
  RegValue value;
  *out += shown + "\n";
  std::vector<std::string> lines, subkeys;
  for (uint32_t i = 0; r.enumValue(root, path, i, &name, &value) == 0; ++i) {
    lines.push_back("  " + (name.empty() ? std::string("@") : name) + " = " + ValueText(value) +
                    "\n");
  }
  for (uint32_t i = 0; r.enumSubkey(root, path, i, &name) == 0; ++i) subkeys.push_back(name);
  if (sorted) {
    std::sort(lines.begin(), lines.end());
    std::sort(subkeys.begin(), subkeys.end());
  }
  for (const std::string& line : lines) *out += line;
  for (const std::string& key : subkeys) {
    List(r, root, path + "\\" + key, shown + "\\" + key, sorted, out);
  }
}

std::string ListClasses(Registry& r, RegRoot root = RegRoot::kCurrentUser, bool sorted = false) {
  std::string out;
  if (r.keyExists(root, "Software\\Classes") == 0) {
    List(r, root, "Software\\Classes", "", sorted, &out);
  }
  return out;
}

std::string Sorted(Registry& r) { return ListClasses(r, RegRoot::kCurrentUser, true); }

// Passes every call on to a real store; the n-th change fails (1016, as an
// unwritable file does) when failAt is n, every change when it is -1.
class FailingRegistry final : public Registry {
 public:
  explicit FailingRegistry(Registry& inner) : r(inner) {}
  int failAt = 0;
  int changes = 0;

  uint32_t createKey(RegRoot root, std::string_view path) override {
    return change() ? r.createKey(root, path) : reg::kErrRegistryIoFailed;
  }
  uint32_t keyExists(RegRoot root, std::string_view path) override {
    return r.keyExists(root, path);
  }
  uint32_t queryValue(RegRoot root, std::string_view path, std::string_view name,
                      RegValue* out) override {
    return r.queryValue(root, path, name, out);
  }
  uint32_t setValue(RegRoot root, std::string_view path, std::string_view name, uint32_t type,
                    std::span<const uint8_t> data) override {
    return change() ? r.setValue(root, path, name, type, data) : reg::kErrRegistryIoFailed;
  }
  uint32_t deleteValue(RegRoot root, std::string_view path, std::string_view name) override {
    return change() ? r.deleteValue(root, path, name) : reg::kErrRegistryIoFailed;
  }
  uint32_t enumSubkey(RegRoot root, std::string_view path, uint32_t index,
                      std::string* name) override {
    return r.enumSubkey(root, path, index, name);
  }
  uint32_t enumValue(RegRoot root, std::string_view path, uint32_t index, std::string* name,
                     RegValue* value) override {
    return r.enumValue(root, path, index, name, value);
  }
  uint32_t deleteKey(RegRoot root, std::string_view path) override {
    return change() ? r.deleteKey(root, path) : reg::kErrRegistryIoFailed;
  }
  uint32_t deleteTree(RegRoot root, std::string_view path) override {
    return change() ? r.deleteTree(root, path) : reg::kErrRegistryIoFailed;
  }

 private:
  // Once the failure has happened, the undo writes go through.
  bool change() {
    ++changes;
    if (failAt == -1) return false;
    const bool fail = changes == failAt;
    if (fail) failAt = 0;
    return !fail;
  }
  Registry& r;
};

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvant-registration-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    RegistryPaths paths;
    paths.currentUser = dir + "/registry.db";
    paths.localMachine = dir + "/machine.db";
    paths.machineWritable = true;
    store = OpenSqliteRegistry(paths);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  void set(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_EQ(store->createKey(RegRoot::kCurrentUser, "Software\\Classes\\" + key), 0u);
    ASSERT_EQ(store->setValue(RegRoot::kCurrentUser, "Software\\Classes\\" + key, name,
                              reg::kSz, Utf16z(text)),
              0u);
  }

  std::string dir;
  std::unique_ptr<Registry> store;
};

constexpr char kModule[] = "/opt/quorvant/lib/libQuorvantATL.so.4";

// The entries of the registration script, the category, and the keys the
// platform writes for the type library and its dual interface.
constexpr char kExpected[] = R"(
\QuorvantATL.ZEBCapi.1
  @ = QuorvantATL CAPI 4.2 Class
\QuorvantATL.ZEBCapi.1\CLSID
  @ = {6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}
\QuorvantATL.ZEBCapi
  @ = QuorvantATL CAPI 4.2 Class
\QuorvantATL.ZEBCapi\CLSID
  @ = {6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}
\QuorvantATL.ZEBCapi\CurVer
  @ = QuorvantATL.ZEBCapi.1
\CLSID
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}
  @ = QuorvantATL CAPI 4.2 Class
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\ProgID
  @ = QuorvantATL.ZEBCapi.1
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\VersionIndependentProgID
  @ = QuorvantATL.ZEBCapi
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\Programmable
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\InprocServer32
  @ = /opt/quorvant/lib/libQuorvantATL.so.4
  ThreadingModel = Apartment
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\Control
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\Insertable
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\ToolboxBitmap32
  @ = /opt/quorvant/lib/libQuorvantATL.so.4, 102
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\MiscStatus
  @ = 0
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\MiscStatus\1
  @ = 131473
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\TypeLib
  @ = {A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\Version
  @ = 1.0
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\Implemented Categories
\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\Implemented Categories\{59FB2056-D625-48D0-A944-1A85B5AB2640}
\TypeLib
\TypeLib\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}
\TypeLib\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\1.0
  @ = QuorvantATL CAPI 4.2 Type Library
\TypeLib\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\1.0\FLAGS
  @ = 0
\TypeLib\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\1.0\409
\TypeLib\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\1.0\409\win64
  @ = /opt/quorvant/lib/libQuorvantATL.so.4
\TypeLib\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\1.0\HELPDIR
  @ = /opt/quorvant/lib
\Interface
\Interface\{9B7E3C14-2F68-4A01-8D5C-E4D20A7B5F19}
  @ = IZEBCapi
\Interface\{9B7E3C14-2F68-4A01-8D5C-E4D20A7B5F19}\ProxyStubClsid
  @ = {00020424-0000-0000-C000-000000000046}
\Interface\{9B7E3C14-2F68-4A01-8D5C-E4D20A7B5F19}\ProxyStubClsid32
  @ = {00020424-0000-0000-C000-000000000046}
\Interface\{9B7E3C14-2F68-4A01-8D5C-E4D20A7B5F19}\TypeLib
  @ = {A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}
  Version = 1.0
)";

TEST_F(RegistrationTest, WritesTheClassProgIdsTypeLibraryAndInterface) {
  ASSERT_EQ(RegisterControl(*store, RegistrationSide::kUser, kModule), 0u);
  EXPECT_EQ(ListClasses(*store), kExpected);
  // Registering again gives the same entries, and the merged view sees them.
  ASSERT_EQ(RegisterControl(*store, RegistrationSide::kUser, kModule), 0u);
  EXPECT_EQ(ListClasses(*store), kExpected);
  EXPECT_EQ(store->keyExists(RegRoot::kClassesRoot,
                             "CLSID\\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\\InprocServer32"),
            0u);
  EXPECT_EQ(ListClasses(*store, RegRoot::kLocalMachine), "");
}

TEST_F(RegistrationTest, MachineSideWritesTheMachineStore) {
  ASSERT_EQ(RegisterControl(*store, RegistrationSide::kMachine, kModule), 0u);
  EXPECT_EQ(ListClasses(*store, RegRoot::kLocalMachine), kExpected);
  EXPECT_EQ(ListClasses(*store), "");
  ASSERT_EQ(UnregisterControl(*store, RegistrationSide::kMachine), 0u);
  EXPECT_EQ(ListClasses(*store, RegRoot::kLocalMachine), "\n\\CLSID\n\\TypeLib\n\\Interface\n");
}

// Whatever write fails, the store is left exactly as it was: a stale
// registration with an extra key under the class (which ForceRemove takes
// away), a ProgID another class owned, another class beside ours.
TEST_F(RegistrationTest, AFailedRegistrationPutsEverythingBack) {
  auto seed = [&] {
    set("CLSID\\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\\Stale", "", "old");
    set("CLSID\\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}\\InprocServer32", "", "/old/path.so");
    set("CLSID\\{00000000-1111-2222-3333-444444444444}", "", "Someone else");
    set("QuorvantATL.ZEBCapi\\CLSID", "", "{00000000-1111-2222-3333-444444444444}");
    set("QuorvantATL.ZEBCapi", "", "Someone else's class");
  };
  seed();
  const std::string before = Sorted(*store);
  FailingRegistry probe(*store);
  ASSERT_EQ(RegisterControl(probe, RegistrationSide::kUser, kModule), 0u);
  const int total = probe.changes;
  ASSERT_GT(total, 30);
  ASSERT_EQ(store->deleteTree(RegRoot::kCurrentUser, "Software"), 0u);
  seed();
  ASSERT_EQ(Sorted(*store), before);
  for (int n = 1; n <= total; ++n) {
    SCOPED_TRACE("failing change " + std::to_string(n));
    FailingRegistry failing(*store);
    failing.failAt = n;
    EXPECT_EQ(RegisterControl(failing, RegistrationSide::kUser, kModule),
              reg::kErrRegistryIoFailed);
    ASSERT_EQ(Sorted(*store), before);
  }
}

TEST_F(RegistrationTest, UnregistrationRemovesOursAndKeepsTheRest) {
  set("CLSID\\{00000000-1111-2222-3333-444444444444}", "", "Someone else");
  set("TypeLib\\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\\2.0", "", "a later version");
  ASSERT_EQ(RegisterControl(*store, RegistrationSide::kUser, kModule), 0u);
  ASSERT_EQ(UnregisterControl(*store, RegistrationSide::kUser), 0u);
  EXPECT_EQ(ListClasses(*store),
            "\n\\CLSID\n\\CLSID\\{00000000-1111-2222-3333-444444444444}\n  @ = Someone else\n"
            "\\TypeLib\n\\TypeLib\\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\n"
            "\\TypeLib\\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\\2.0\n  @ = a later version\n"
            "\\Interface\n");
  // Nothing left to remove is no failure.
  EXPECT_EQ(UnregisterControl(*store, RegistrationSide::kUser), 0u);
}

TEST_F(RegistrationTest, AProgIdTakenOverByAnotherClassStays) {
  ASSERT_EQ(RegisterControl(*store, RegistrationSide::kUser, kModule), 0u);
  set("QuorvantATL.ZEBCapi\\CLSID", "", "{00000000-1111-2222-3333-444444444444}");
  ASSERT_EQ(UnregisterControl(*store, RegistrationSide::kUser), 0u);
  EXPECT_EQ(store->keyExists(RegRoot::kCurrentUser, "Software\\Classes\\QuorvantATL.ZEBCapi"), 0u);
  EXPECT_EQ(store->keyExists(RegRoot::kCurrentUser, "Software\\Classes\\QuorvantATL.ZEBCapi.1"),
            reg::kErrFileNotFound);
}

TEST_F(RegistrationTest, UnregistrationReportsAStoreItCannotChange) {
  ASSERT_EQ(RegisterControl(*store, RegistrationSide::kUser, kModule), 0u);
  FailingRegistry failing(*store);
  failing.failAt = -1;
  EXPECT_EQ(UnregisterControl(failing, RegistrationSide::kUser), reg::kErrRegistryIoFailed);
  EXPECT_EQ(ListClasses(*store), kExpected);
}

TEST(ModulePath, IsAbsoluteAndNamesThisFile) {
  const std::optional<std::string> path = ThisModulePath();
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->front(), '/');
  EXPECT_TRUE(std::filesystem::equivalent(*path, "/proc/self/exe"));
}

}  // namespace
}  // namespace quorvant::control
