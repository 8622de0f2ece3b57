#include "engine/security_engine.h"

#include <gtest/gtest.h>

#include "engine/error_messages.h"
#include "engine/fake_services.h"
#include "host/system/module_version.h"

namespace quorvant {
namespace {

using testing::FakeServices;

TEST(SecurityEngineTest, FreshEngineReportsSuccess) {
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->GetErrorCode(), 0);
  EXPECT_EQ(engine->GetErrorMsg(), u"成功(0)");
  EXPECT_EQ(engine->GetCapiErrorCode(), 0);
  EXPECT_EQ(engine->GetCapiErrorMsg(), u"成功(0)");
}

TEST(ErrorMessagesTest, FormatsTheCodeIntoItsText) {
  struct Case {
    int32_t code;
    std::u16string expected;
  } cases[] = {
      {0, u"成功(0)"},
      {5005, u"錯誤的參數(5005)"},
      {5070, u"使用者按下\"取消\"按鈕(5070)"},
      {5201, u"開啟\"個人憑證區\"失敗(5201)"},
      {5001, u"一般錯誤(5001)"},
      {7701, u"一般錯誤(7701)"},
      {9006, u"解密錯誤, 找不到可用憑證(9006)"},
      // Codes without an entry take the default text, trailing blank kept.
      {5, u"錯誤碼未定義(5) "},
      {-1, u"錯誤碼未定義(-1) "},
      {5009, u"錯誤碼未定義(5009) "},
      {INT32_MIN, u"錯誤碼未定義(-2147483648) "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorMessageText(c.code), c.expected) << c.code;
  }
}

TEST(ErrorMessagesTest, EveryTextHasExactlyOnePlaceholder) {
  for (const ErrorMessageEntry& entry : ErrorMessageTable()) {
    const size_t first = entry.text.find(u"%d");
    ASSERT_NE(first, std::u16string_view::npos) << entry.code;
    EXPECT_EQ(entry.text.find(u"%", first + 1), std::u16string_view::npos) << entry.code;
    EXPECT_TRUE(entry.text.ends_with(u"(%d)")) << entry.code;
  }
  EXPECT_EQ(ErrorMessageTable().size(), 147u);
}

TEST(SecurityEngineTest, ErrorGettersNeverChangeTheCodes) {
  FakeServices fakes;
  fakes.moduleVersion->ok = false;
  fakes.moduleVersion->error = 2;
  auto engine = fakes.makeEngine();
  engine->GetVersion();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(engine->GetErrorMsg(), u"不支援的功能(5004)");
    EXPECT_EQ(engine->GetCapiErrorMsg(),
              u"The system cannot find the file specified.\r\n(0x00000002)");
    EXPECT_EQ(engine->GetErrorCode(), 5004);
    EXPECT_EQ(engine->GetCapiErrorCode(), 2);
  }
}

TEST(SecurityEngineTest, CapiErrorNumbersWithTheTopBitComeOutNegative) {
  FakeServices fakes;
  fakes.moduleVersion->ok = false;
  fakes.moduleVersion->error = 0x80090016;  // NTE_BAD_KEYSET
  auto engine = fakes.makeEngine();
  engine->GetVersion();
  EXPECT_EQ(engine->GetCapiErrorCode(), static_cast<int32_t>(0x80090016));
  EXPECT_TRUE(engine->GetCapiErrorMsg().ends_with(u"(0x80090016)"));
}

TEST(SecurityEngineTest, VersionComesFromTheRecord) {
  FakeServices fakes;
  fakes.moduleVersion->version = {4, 2, 0, 0};
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->GetVersion(), u"4.2.0.0");
  EXPECT_EQ(engine->GetErrorCode(), 0);
  fakes.moduleVersion->version = {65535, 1, 22, 333};
  EXPECT_EQ(engine->GetVersion(), u"65535.1.22.333");
}

TEST(SecurityEngineTest, UnreadableVersionGives5004AndKeepsTheSystemError) {
  FakeServices fakes;
  fakes.moduleVersion->ok = false;
  fakes.moduleVersion->error = 1813;
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->GetVersion(), u"");
  EXPECT_EQ(engine->GetErrorCode(), 5004);
  EXPECT_EQ(engine->GetCapiErrorCode(), 1813);
  // A later successful read clears errorCode only.
  fakes.moduleVersion->ok = true;
  EXPECT_EQ(engine->GetVersion(), u"4.2.0.0");
  EXPECT_EQ(engine->GetErrorCode(), 0);
  EXPECT_EQ(engine->GetCapiErrorCode(), 1813);
}

TEST(ModuleVersionTest, TheRealReaderFindsTheRecordInThisProgram) {
  FileVersion version;
  uint32_t error = 0;
  ASSERT_TRUE(MakeModuleVersionReader()->read(&version, &error)) << error;
  EXPECT_EQ(version.major, 4);
  EXPECT_EQ(version.minor, 2);
  EXPECT_EQ(version.build, 0);
  EXPECT_EQ(version.revision, 0);
}

TEST(ModuleVersionTest, FilesWithoutARecordGiveSystemErrors) {
  FileVersion version;
  uint32_t error = 0;
  EXPECT_FALSE(ReadFileVersionRecord("/nonexistent/file", &version, &error));
  EXPECT_EQ(error, 2u);
  EXPECT_FALSE(ReadFileVersionRecord("/etc/hostname", &version, &error));  // not ELF
  EXPECT_EQ(error, 1813u);
  EXPECT_FALSE(ReadFileVersionRecord("/bin/sh", &version, &error));  // ELF, no record
  EXPECT_EQ(error, 1813u);
}

TEST(SecurityEngineTest, PasswordRangeIsNormalised) {
  struct Case {
    int32_t min, max, wantMin, wantMax;
  } cases[] = {
      {12, 4, 4, 12}, {0, 0, 0, 16},  {-3, 8, 0, 8},   {4, 12, 4, 12},
      {5, 0, 0, 5},   {-5, -9, 0, 16}, {1, 1, 1, 1},   {0, 40, 0, 40},
  };
  for (const Case& c : cases) {
    FakeServices fakes;
    auto engine = fakes.makeEngine();
    EXPECT_FALSE(engine->passwordRangePreset());
    EXPECT_EQ(engine->PresetPasswdLengthRange(c.min, c.max), 0);
    EXPECT_EQ(engine->passwordMinLength(), c.wantMin) << c.min << "," << c.max;
    EXPECT_EQ(engine->passwordMaxLength(), c.wantMax) << c.min << "," << c.max;
    EXPECT_TRUE(engine->passwordRangePreset());
  }
}

TEST(SecurityEngineTest, SetDefaultPfxFileNameClearsOnlyTheResultCode) {
  FakeServices fakes;
  fakes.moduleVersion->ok = false;
  auto engine = fakes.makeEngine();
  engine->GetVersion();  // leaves 5004 and a system error
  EXPECT_EQ(engine->SetDefaultPfxFileName(u""), 0);
  EXPECT_EQ(engine->GetErrorCode(), 0);
  EXPECT_EQ(engine->GetCapiErrorCode(), 1813);
}

TEST(SecurityEngineTest, ProtectedModeRefusesButNotTheStateGetters) {
  FakeServices fakes;
  fakes.protectedMode->on = true;
  auto engine = fakes.makeEngine();
  EXPECT_TRUE(engine->protectedMode());
  EXPECT_EQ(SecurityEngine::GetPortEx(), 65537);
  EXPECT_EQ(engine->SetDefaultPfxFileName(u"x"), 0);
  EXPECT_EQ(engine->PresetPasswdLengthRange(1, 2), 0);
  EXPECT_EQ(engine->GetVersion(), u"4.2.0.0");
  EXPECT_EQ(engine->SelectSigner(u"CN=x", 0, 0), 1500);
  EXPECT_EQ(engine->GetErrorMsg(),
            u"IE 受保護模式已啟動, 請加入信任網站, 並使用預設保護模式(關閉)(1500)");
  EXPECT_EQ(engine->CountWeakKeys(1), -1);
  EXPECT_EQ(engine->GetErrorCode(), 1500);
}

TEST(SecurityEngineTest, StoredStringGettersAreEmptyAndLeaveTheCodes) {
  FakeServices fakes;
  fakes.moduleVersion->ok = false;
  auto engine = fakes.makeEngine();
  engine->GetVersion();
  using Getter = Text (SecurityEngine::*)() const;
  const Getter getters[] = {
      &SecurityEngine::GetCsrForSign,          &SecurityEngine::GetCsrForEncrypt,
      &SecurityEngine::GetImportedPfxFilePath, &SecurityEngine::GetImportedPfxFileName,
      &SecurityEngine::GetExportedPfxFilePath, &SecurityEngine::GetExportedPfxFileName,
      &SecurityEngine::GetSignerPfxFilePath,   &SecurityEngine::GetSignerPfxFileName,
  };
  for (Getter g : getters) {
    EXPECT_EQ(((*engine).*g)(), u"");
    EXPECT_EQ(engine->GetErrorCode(), 5004);
    EXPECT_EQ(engine->GetCapiErrorCode(), 1813);
  }
}

struct HomeCase {
  const char* name;
  uint32_t major;
  std::map<std::string, std::string> environment;
  std::u16string expected;
};

TEST(SecurityEngineTest, HomePathRule) {
  const HomeCase cases[] = {
      {"profile wins", 6, {{"USERPROFILE", "/home/p"}, {"HOME", "/home/h"}}, u"/home/p"},
      {"home stands in on Linux", 6, {{"HOME", "/home/h"}}, u"/home/h"},
      {"nothing set", 6, {}, u""},
      {"old systems use the drive", 4, {{"WINDIR", "D:\\WINNT"}, {"USERPROFILE", "x"}},
       u"D:\\My Documents"},
      {"old systems default drive", 3, {}, u"C:\\My Documents"},
      {"non-ASCII profile", 10, {{"USERPROFILE", "/home/\xE7\x8E\x8B"}}, u"/home/王"},
      {"too long for the buffer", 6, {{"USERPROFILE", std::string(255, 'a')}}, u""},
      {"just fits", 6, {{"USERPROFILE", std::string(254, 'a')}},
       std::u16string(254, u'a')},
  };
  for (const HomeCase& c : cases) {
    FakeServices fakes;
    fakes.osVersion->info.majorVersion = c.major;
    fakes.environment->values = c.environment;
    auto engine = fakes.makeEngine();
    EXPECT_EQ(engine->GetUserHomePath(), c.expected) << c.name;
    // Computed once: later changes of the environment do not show.
    fakes.environment->values["USERPROFILE"] = "/elsewhere";
    EXPECT_EQ(engine->GetUserHomePath(), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace quorvant
