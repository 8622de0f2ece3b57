// The real GTK dialogs, started through the library's helper host and driven
// by test steps on their widgets (typing goes through the edits' limits,
// clicks through the buttons' handlers). Each dialog leaves a screenshot in
// QUORVANT_SCREENSHOT_DIR. Run under run_with_xvfb.sh; skipped without a
// display.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dialogs/dialog_models.h"
#include "dialogs/dialog_script.h"
#include "dialogs/helper_dialog_host.h"
#include "encoding/code_page.h"

namespace quorvant {
namespace {

namespace fs = std::filesystem;

std::string Narrow(std::u16string_view text) { return ToNarrow(text); }

ScriptAction Step(ScriptAction::Kind kind, std::string text = {}, int64_t number = 0) {
  ScriptAction a;
  a.kind = kind;
  a.text = std::move(text);
  a.number = number;
  return a;
}

FileDialogValues Values(std::string directory, std::string fileName, std::string password) {
  FileDialogValues v;
  v.directory = std::move(directory);
  v.fileName = std::move(fileName);
  v.password = std::move(password);
  return v;
}

ScriptAction Type(PasswordField field, std::string text) {
  ScriptAction a = Step(ScriptAction::kType, std::move(text));
  a.field = field;
  return a;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Contains(const std::vector<std::string>& notes, const std::string& part) {
  for (const std::string& n : notes) {
    if (n.find(part) != std::string::npos) return true;
  }
  return false;
}

int Count(const std::vector<std::string>& notes, const std::string& part) {
  int count = 0;
  for (const std::string& n : notes) count += n.find(part) != std::string::npos;
  return count;
}

class GtkDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "no display";
    ASSERT_TRUE(SetActiveCodePage(950));
    work_ = fs::path(QUORVANT_TEST_WORK_DIR) /
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work_);
    fs::create_directories(work_ / "bin");
    fs::create_directories(work_ / "tmp");
    fs::create_directories(shots_);
    // The desktop's opener, as "檢視憑證" starts it: records what it was given.
    const fs::path opener = work_ / "bin" / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\ncp \"$1\" '" << (work_ / "opened.cer").string()
                          << "'\necho \"$1\" > '" << (work_ / "opened.path").string() << "'\n";
    fs::permissions(opener, fs::perms::owner_all);
    const std::string path = (work_ / "bin").string() + ":" + std::getenv("PATH");
    setenv("PATH", path.c_str(), 1);
    setenv("TMPDIR", (work_ / "tmp").c_str(), 1);

    HelperDialogOptions options;
    options.helperPath = QUORVANT_DIALOG_HELPER_PATH;
    options.startupTimeoutMs = 30000;
    options.timeoutMs = 90000;  // a stuck dialog fails the test instead of hanging it
    options.stderrPath = (work_ / "helper.log").string();
    host_ = std::make_unique<HelperDialogHost>(options);
  }

  std::string shot(const std::string& name) { return (shots_ / (name + ".png")).string(); }

  void expectScreenshot(const std::string& name) {
    const fs::path file = shots_ / (name + ".png");
    ASSERT_TRUE(fs::exists(file)) << file;
    const std::string png = ReadFile(file);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_GT(png.size(), 2000u) << "an empty picture: " << file;
  }

  std::string file(const std::string& name, const std::string& content) {
    const fs::path p = work_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }

  DialogResult run(const DialogRequest& request, std::vector<ScriptAction> steps) {
    host_->driveNext(std::move(steps));
    return host_->run(request);
  }

  static DialogRequest FileRequest(DialogId id, FileDialogValues values, int min, int max) {
    DialogRequest r;
    r.id = id;
    r.file.id = id;
    r.file.values = std::move(values);
    r.file.passwdMinLength = min;
    r.file.passwdMaxLength = max;
    return r;
  }

  fs::path work_;
  const fs::path shots_ = QUORVANT_SCREENSHOT_DIR;
  std::unique_ptr<HelperDialogHost> host_;
};

// 202 as a person meets it: OK stays disabled below the minimum, a missing
// file brings its message, the picker's file is split at OK.
TEST_F(GtkDialogsTest, PfxFileDialogValidatesAndSplitsThePickedPath) {
  const std::string pfx = file("certs/user.pfx", "not really a pfx");
  const std::string missingDir = (work_ / "missing").string();
  DialogRequest request = FileRequest(DialogId::kPfxFile, Values(missingDir, "*.pfx", ""), 6, 16);
  DialogResult r = run(request, {
      Step(ScriptAction::kPressOk),
      Type(PasswordField::kPassword, "abc"),
      Step(ScriptAction::kPressOk),
      Type(PasswordField::kPassword, "abcdef"),
      Step(ScriptAction::kPressOk),
      Step(ScriptAction::kScreenshot, shot("202-message")),
      Step(ScriptAction::kDismiss),
      Step(ScriptAction::kPressBrowse),
      Step(ScriptAction::kWait, "", 600),
      Step(ScriptAction::kScreenshot, shot("202-picker")),
      Step(ScriptAction::kPick, pfx),
      Step(ScriptAction::kScreenshot, shot("202")),
      Step(ScriptAction::kPressOk),
  });
  ASSERT_EQ(r.outcome, DialogOutcome::kOk) << ::testing::PrintToString(r.notes);
  EXPECT_EQ(r.values.directory, (work_ / "certs").string());
  EXPECT_EQ(r.values.fileName, "user.pfx");
  EXPECT_EQ(r.values.password, "abcdef");
  EXPECT_EQ(r.messages, std::vector<std::string>{MissingFileMessage(missingDir + "/*.pfx")});
  EXPECT_EQ(Count(r.notes, "press ok: the button is disabled"), 2);
  EXPECT_FALSE(Contains(r.notes, "picked it directly")) << ::testing::PrintToString(r.notes);
  expectScreenshot("202");
  expectScreenshot("202-message");
  expectScreenshot("202-picker");
}

TEST_F(GtkDialogsTest, PfxFileDialogKeepsACallersPasswordThatFitsTheRange) {
  const std::string pfx = file("a.pfx", "x");
  DialogRequest request = FileRequest(DialogId::kPfxFile, Values(work_.string(), "a.pfx", "abcd"), 4, 16);
  DialogResult r = run(request, {Type(PasswordField::kPassword, "changed"),
                                 Step(ScriptAction::kPressOk)});
  ASSERT_EQ(r.outcome, DialogOutcome::kOk);
  EXPECT_EQ(r.values.password, "abcd");
  EXPECT_TRUE(Contains(r.notes, "type: password is disabled"));
}

TEST_F(GtkDialogsTest, ChangePasswordDialogReturnsAllFiveStrings) {
  const std::string pfx = file("old.pfx", "x");
  DialogRequest request =
      FileRequest(DialogId::kChangePassword, Values(work_.string(), "old.pfx", ""), 0, 16);
  DialogResult r = run(request, {
      Step(ScriptAction::kPressBrowse),  // disabled: the file shown exists
      Type(PasswordField::kOldPassword, "old-secret"),
      Type(PasswordField::kNewPassword, "new-secret"),
      Type(PasswordField::kConfirmation, "new-secreT"),
      Step(ScriptAction::kScreenshot, shot("203")),
      Step(ScriptAction::kPressOk),
  });
  ASSERT_EQ(r.outcome, DialogOutcome::kOk) << ::testing::PrintToString(r.notes);
  EXPECT_EQ(r.values.directory, work_.string());
  EXPECT_EQ(r.values.fileName, "old.pfx");
  EXPECT_EQ(r.values.oldPassword, "old-secret");
  EXPECT_EQ(r.values.newPassword, "new-secret");
  EXPECT_EQ(r.values.confirmation, "new-secreT");  // comparing is the caller's job
  EXPECT_TRUE(Contains(r.notes, "press browse: the button is disabled"));
  expectScreenshot("203");
}

TEST_F(GtkDialogsTest, CertificateListViewsAndChoosesRows) {
  DialogRequest request;
  request.id = DialogId::kCertificateList;
  request.rows = {
      {Narrow(u"王小明"), "0A1B2C", "2023/01/01", "2026/01/01", Narrow(u"測試憑證中心"), {0x30, 0x01}},
      {"Alice Chen", "7F00FF", "2024/02/29", "2027/02/28", "Example CA", {0x30, 0x02, 0xAB}},
      {"Bob", "01", "2022/12/31", "2023/12/31", "CN=Example Root, O=Example", {0x30, 0x03}},
  };
  DialogResult r = run(request, {
      Step(ScriptAction::kSelect, "", 1),
      Step(ScriptAction::kPressView),
      Step(ScriptAction::kWait, "", 500),
      Step(ScriptAction::kScreenshot, shot("204")),
      Step(ScriptAction::kPressOk),
  });
  ASSERT_EQ(r.outcome, DialogOutcome::kOk) << ::testing::PrintToString(r.notes);
  EXPECT_EQ(r.index, 1);
  EXPECT_EQ(ReadFile(work_ / "opened.cer"), std::string("\x30\x02\xAB", 3));
  EXPECT_EQ(ReadFile(work_ / "opened.path"), (work_ / "tmp" / "temp.cer").string() + "\n");
  expectScreenshot("204");

  r = run(request, {Step(ScriptAction::kSelect, "", 2), Step(ScriptAction::kSelectNone),
                    Step(ScriptAction::kPressOk)});
  ASSERT_EQ(r.outcome, DialogOutcome::kOk);
  EXPECT_EQ(r.index, 0);
}

TEST_F(GtkDialogsTest, ExportPasswordDialogTakesAnyPassword) {
  DialogRequest request;
  request.id = DialogId::kExportPassword;
  DialogResult r = run(request, {Type(PasswordField::kPassword, "mobile secret 20 char"),
                                 Step(ScriptAction::kScreenshot, shot("205")),
                                 Step(ScriptAction::kPressOk)});
  ASSERT_EQ(r.outcome, DialogOutcome::kOk);
  EXPECT_EQ(r.values.password, "mobile secret 20 char");
  expectScreenshot("205");

  r = run(request, {Type(PasswordField::kPassword, "x"), Step(ScriptAction::kPressCancel)});
  EXPECT_EQ(r.outcome, DialogOutcome::kCancel);
  EXPECT_EQ(r.values.password, "");
}

// 206: the confirmation must match; the folder picker replaces the directory;
// the directory is created at OK and the probe leaves nothing behind.
TEST_F(GtkDialogsTest, ExportDialogChecksConfirmationAndDirectory) {
  fs::create_directories(work_ / "chosen");
  const std::string target = (work_ / "chosen" / "new-dir").string();
  DialogRequest request =
      FileRequest(DialogId::kExportPfx, Values(work_.string(), "Alice Chen.pfx", "pw1234"), 4, 8);
  DialogResult r = run(request, {
      Type(PasswordField::kConfirmation, "pw12"),
      Step(ScriptAction::kPressOk),
      Step(ScriptAction::kScreenshot, shot("206-message")),
      Step(ScriptAction::kDismiss),
      Step(ScriptAction::kPressBrowse),
      Step(ScriptAction::kWait, "", 600),
      Step(ScriptAction::kScreenshot, shot("206-folder-picker")),
      Step(ScriptAction::kPick, (work_ / "chosen").string()),
      Type(PasswordField::kConfirmation, "pw1234"),
      Step(ScriptAction::kScreenshot, shot("206")),
      Step(ScriptAction::kPressOk),
  });
  ASSERT_EQ(r.outcome, DialogOutcome::kOk) << ::testing::PrintToString(r.notes);
  EXPECT_EQ(r.messages, std::vector<std::string>{PasswordMismatchMessage()});
  EXPECT_EQ(r.values.directory, (work_ / "chosen").string());
  EXPECT_EQ(r.values.fileName, "Alice Chen.pfx");
  EXPECT_EQ(r.values.password, "pw1234");
  EXPECT_FALSE(fs::exists(work_ / "chosen" / "Alice Chen.pfx"));  // the probe is gone
  expectScreenshot("206");
  expectScreenshot("206-message");

  // A directory that does not exist yet is made (one level).
  request.file.values.directory = target;
  r = run(request, {Type(PasswordField::kConfirmation, "pw1234"), Step(ScriptAction::kPressOk)});
  ASSERT_EQ(r.outcome, DialogOutcome::kOk) << ::testing::PrintToString(r.notes);
  EXPECT_TRUE(fs::is_directory(target));
}

TEST_F(GtkDialogsTest, MobileDialogLimitsTypingToTheMaximum) {
  const std::string pfx = file("m.pfx", "x");
  DialogRequest request = FileRequest(DialogId::kMobilePfx, Values(work_.string(), "m.pfx", ""), 0, 8);
  DialogResult r = run(request, {Type(PasswordField::kPassword, "abcdefghijkl"),
                                 Step(ScriptAction::kScreenshot, shot("207")),
                                 Step(ScriptAction::kPressOk)});
  ASSERT_EQ(r.outcome, DialogOutcome::kOk);
  EXPECT_EQ(r.values.password, "abcdefgh");
  EXPECT_EQ(r.values.fileName, "m.pfx");
  expectScreenshot("207");

  r = run(request, {Step(ScriptAction::kPressCancel)});
  EXPECT_EQ(r.outcome, DialogOutcome::kCancel);
  EXPECT_EQ(r.values.directory, "");
  EXPECT_EQ(r.values.fileName, "m.pfx");
}

TEST_F(GtkDialogsTest, SignConfirmationShowsTheContentReadOnly) {
  DialogRequest request;
  request.id = DialogId::kSignConfirmation;
  request.signing.content = u"轉帳 NT$12,000 至帳號 0123-456-789\n備註：房租";
  request.signing.serial = "4A3F0012";
  request.signing.commonName = Narrow(u"王小明");
  request.signing.notBefore = "20240101080000";
  request.signing.notAfter = "20270101075959";
  DialogResult r = run(request, {Step(ScriptAction::kScreenshot, shot("201")),
                                 Type(PasswordField::kPassword, "x"),
                                 Step(ScriptAction::kPressOk)});
  EXPECT_EQ(r.outcome, DialogOutcome::kOk);
  EXPECT_TRUE(Contains(r.notes, "type: no edit password"));
  expectScreenshot("201");

  r = run(request, {Step(ScriptAction::kPressCancel)});
  EXPECT_EQ(r.outcome, DialogOutcome::kCancel);
}

TEST_F(GtkDialogsTest, OpenFilePickerReturnsThePickedPath) {
  const std::string data = file("data/report.bin", "bytes");
  DialogRequest request;
  request.id = DialogId::kOpenFile;
  request.openFile.title = Narrow(u"請選擇檔案");
  request.openFile.filter = "All Files (*.*)|*.*||";
  DialogResult r = run(request, {Step(ScriptAction::kPick, data),
                                 Step(ScriptAction::kScreenshot, shot("open-file"))});
  ASSERT_EQ(r.outcome, DialogOutcome::kOk) << ::testing::PrintToString(r.notes);
  EXPECT_EQ(r.path, data);

  std::string path = "unchanged";
  host_->driveNext({Step(ScriptAction::kPressCancel)});
  EXPECT_EQ(host_->openFile(request.openFile, &path), DialogOutcome::kCancel);
  EXPECT_EQ(path, "");
}

// Steps that run out leave no dialog waiting: it is cancelled.
TEST_F(GtkDialogsTest, AnUnfinishedDriveCancels) {
  DialogRequest request = FileRequest(DialogId::kMobilePfx, Values("/nonexistent", "a.pfx", "pw"), 0, 16);
  DialogResult r = run(request, {Step(ScriptAction::kPressOk)});
  EXPECT_EQ(r.outcome, DialogOutcome::kCancel);
  EXPECT_EQ(r.messages, std::vector<std::string>{MissingFileMessage("/nonexistent/a.pfx")});
  EXPECT_TRUE(Contains(r.notes, "cancelled"));
}

TEST_F(GtkDialogsTest, WithoutADisplayTheDialogCannotBeCreated) {
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  DialogRequest request;
  request.id = DialogId::kExportPassword;
  const auto start = std::chrono::steady_clock::now();
  DialogResult r = host_->run(request);
  setenv("DISPLAY", display.c_str(), 1);
  EXPECT_EQ(r.outcome, DialogOutcome::kCannotCreate);
  EXPECT_TRUE(Contains(r.notes, "no display")) << ::testing::PrintToString(r.notes);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace quorvant
