// The dialog rules without a toolkit: every OK/Cancel rule of 201 to 207 and
// the open-file picker, against a fake file system.
#include "dialogs/dialog_models.h"

#include <gtest/gtest.h>

#include <climits>

#include "dialogs/fake_dialog_platform.h"
#include "encoding/code_page.h"

namespace quorvant {
namespace {

// The component's texts are Big5; the literals below are typed from the
// dialogs' descriptions, not taken from the code.
std::string B(std::u16string_view text) { return ToNarrow(text); }

class DialogModelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetActiveCodePage(950)); }
  FakeDialogPlatform fs;
};

FileDialogRequest Request(DialogId id, std::string directory, std::string fileName,
                          std::string password, int32_t min = 0, int32_t max = 16) {
  FileDialogRequest r;
  r.id = id;
  r.values.directory = std::move(directory);
  r.values.fileName = std::move(fileName);
  r.values.password = std::move(password);
  r.passwdMinLength = min;
  r.passwdMaxLength = max;
  return r;
}

// ---- Shared rules -------------------------------------------------------------

TEST_F(DialogModelTest, PasswordRangeIsNormalisedLikePresetPasswdLengthRange) {
  struct Case {
    int32_t min, max, wantMin, wantMax;
  } cases[] = {
      {12, 4, 4, 12},  {0, 0, 0, 16},   {-3, 8, 0, 8},   {5, 0, 0, 5},
      {0, -1, 0, 16},  {-5, -3, 0, 16}, {6, 16, 6, 16},  {1, 1, 1, 1},
      {INT32_MIN, INT32_MAX, 0, INT32_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PasswordRange::Normalised(c.min, c.max), (PasswordRange{c.wantMin, c.wantMax}))
        << c.min << ", " << c.max;
  }
}

TEST_F(DialogModelTest, PathDisplayJoinsWithOneSlash) {
  struct Case {
    const char* directory;
    const char* fileName;
    const char* shown;
  } cases[] = {
      {"/home/u", "a.pfx", "/home/u/a.pfx"}, {"/home/u/", "a.pfx", "/home/u/a.pfx"},
      {"/", "a.pfx", "/a.pfx"},              {"", "a.pfx", ""},
      {"certs", "*.pfx", "certs/*.pfx"},     {"/tmp", "", "/tmp/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DisplayPath(c.directory, c.fileName), c.shown) << c.directory << " + " << c.fileName;
  }
}

TEST_F(DialogModelTest, ChosenPathSplitsAtTheLastSlash) {
  struct Case {
    std::string path;
    SplitPath want;
  } cases[] = {
      {"/x.pfx", {"/", "x.pfx"}},
      {"/d/certs/x.pfx", {"/d/certs", "x.pfx"}},
      {"/home/u/", {"/home/u", ""}},
      {"//x", {"/", "x"}},
      {"x.pfx", {"", "x.pfx"}},
      // 許 and 功 end in the byte 0x5C ("\"): only "/" separates.
      {B(u"/許功/蓋.pfx"), {B(u"/許功"), B(u"蓋.pfx")}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitChosenPath(c.path), c.want) << c.path;
}

TEST_F(DialogModelTest, FileFiltersParseAndMatchEveryNameForStarDotStar) {
  EXPECT_EQ(ParseFileFilter("PFX Files (*.pfx;*.p12)|*.pfx; *.p12|All Files (*.*)|*.*||"),
            (std::vector<FileFilter>{{"PFX Files (*.pfx;*.p12)", {"*.pfx", "*.p12"}},
                                     {"All Files (*.*)", {"*"}}}));
  EXPECT_EQ(ParseFileFilter("All Files (*.*)|*.*||"),
            (std::vector<FileFilter>{{"All Files (*.*)", {"*"}}}));
  EXPECT_TRUE(ParseFileFilter("").empty());
  EXPECT_TRUE(ParseFileFilter("Nothing|").empty());
  EXPECT_EQ(ParseFileFilter("A|*.a|B"), (std::vector<FileFilter>{{"A", {"*.a"}}}));
}

TEST_F(DialogModelTest, TypingStopsAtTheLimitWithoutSplittingACharacter) {
  EXPECT_EQ(LimitTypedText("abcdefghij", 8), "abcdefgh");
  EXPECT_EQ(LimitTypedText("abc", 8), "abc");
  EXPECT_EQ(LimitTypedText(B(u"一二三四五"), 3), B(u"一二三"));
  EXPECT_EQ(EditTextLength(B(u"一二三")), 3u);
  struct Case {
    size_t existing, inserted, limit, want;
  } cases[] = {
      {0, 5, 16, 5}, {14, 5, 16, 2}, {16, 1, 16, 0}, {20, 1, 16, 0}, {0, 40000, kUnlimitedEdit, kUnlimitedEdit},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InsertableLength(c.existing, c.inserted, c.limit), c.want)
        << c.existing << "+" << c.inserted << " of " << c.limit;
  }
}

TEST_F(DialogModelTest, MessagesHaveTheirExactTexts) {
  EXPECT_EQ(MissingFileMessage("/a/b.pfx"), B(u"憑證檔(") + "/a/b.pfx" + B(u") : 錯誤或不存在"));
  EXPECT_EQ(MissingFileMessage(""), B(u"憑證檔(未指定) : 錯誤或不存在"));
  EXPECT_EQ(DirectoryMessage("/out"), B(u"憑證目錄 (/out) : 錯誤或沒有寫入權限"));
  EXPECT_EQ(DirectoryMessage(""), B(u"憑證目錄 (未指定) : 錯誤或沒有寫入權限"));
  EXPECT_EQ(PasswordMismatchMessage(), B(u"密碼不一致"));
}

// ---- 202 ------------------------------------------------------------------------

TEST_F(DialogModelTest, PfxFileDialogLocksACallersPasswordThatFitsTheRange) {
  struct Case {
    const char* password;
    int32_t min, max;
    bool editEnabled, okEnabled;
  } cases[] = {
      {"abcd", 4, 16, false, true},  {"abcd", 6, 16, true, false},
      {"", 0, 16, true, true},       {"", 4, 16, true, false},
      {"x", 0, 16, false, true},     {"abcdefghij", 4, 8, false, true},
      {"abcd", 16, 4, false, true},  // the range is normalised first
  };
  for (const Case& c : cases) {
    FileDialogModel m(Request(DialogId::kPfxFile, "/c", "a.pfx", c.password, c.min, c.max), &fs);
    const EditState& edit = m.edit(PasswordField::kPassword);
    EXPECT_EQ(edit.enabled, c.editEnabled) << c.password << " " << c.min << ".." << c.max;
    EXPECT_EQ(m.okEnabled(), c.okEnabled) << c.password << " " << c.min << ".." << c.max;
    EXPECT_EQ(edit.text, c.password);  // a longer text than the limit stays whole
    EXPECT_EQ(edit.limit, static_cast<size_t>(m.range().maxLength));
  }
}

TEST_F(DialogModelTest, PfxFileDialogEnablesOkAtTheMinimum) {
  FileDialogModel m(Request(DialogId::kPfxFile, "/c", "a.pfx", "", 6, 16), &fs);
  EXPECT_TRUE(m.type(PasswordField::kPassword, "abcde"));
  EXPECT_FALSE(m.okEnabled());
  EXPECT_EQ(m.pressOk().result, OkPress::kDisabled);
  EXPECT_TRUE(m.type(PasswordField::kPassword, "abcdef"));
  EXPECT_TRUE(m.okEnabled());
  EXPECT_TRUE(m.type(PasswordField::kPassword, "0123456789abcdefXYZ"));
  EXPECT_EQ(m.edit(PasswordField::kPassword).text, "0123456789abcdef");
  EXPECT_FALSE(m.type(PasswordField::kConfirmation, "x"));  // 202 has no such edit
}

TEST_F(DialogModelTest, PfxFileDialogChecksTheFileAndSplitsAtOk) {
  fs.files = {"/certs/u.pfx"};
  fs.directories = {"/dir.pfx"};
  FileDialogModel m(Request(DialogId::kPfxFile, "/home/u", "*.pfx", "pw"), &fs);
  EXPECT_EQ(m.pathText(), "/home/u/*.pfx");
  EXPECT_EQ(m.picker().initialFolder, "/home/u");

  OkPress press = m.pressOk();
  EXPECT_EQ(press.result, OkPress::kMessage);
  EXPECT_EQ(press.message, MissingFileMessage("/home/u/*.pfx"));
  EXPECT_EQ(m.state(), DialogState::kOpen);

  // A directory is no certificate file.
  ASSERT_TRUE(m.browsePicked("/dir.pfx"));
  EXPECT_EQ(m.pressOk().message, MissingFileMessage("/dir.pfx"));

  // The picked path is shown; the split waits for OK.
  ASSERT_TRUE(m.browsePicked("/certs/u.pfx"));
  EXPECT_EQ(m.pathText(), "/certs/u.pfx");
  EXPECT_EQ(m.values().directory, "/home/u");
  EXPECT_EQ(m.pressOk().result, OkPress::kClosed);
  EXPECT_EQ(m.state(), DialogState::kOk);
  EXPECT_EQ(m.values().directory, "/certs");
  EXPECT_EQ(m.values().fileName, "u.pfx");
  EXPECT_EQ(m.values().password, "pw");
}

TEST_F(DialogModelTest, PfxFileDialogWithAnEmptyDirectoryNamesNoFile) {
  FileDialogModel m(Request(DialogId::kPfxFile, "", "*.pfx", ""), &fs);
  EXPECT_EQ(m.pathText(), "");
  EXPECT_EQ(m.pressOk().message, MissingFileMessage(""));
}

// ---- 203 ------------------------------------------------------------------------

TEST_F(DialogModelTest, ChangePasswordDialogFillsAndLocksEachEdit) {
  fs.files = {"/c/a.pfx"};
  FileDialogRequest r = Request(DialogId::kChangePassword, "/c", "a.pfx", "", 4, 16);
  r.values.oldPassword = "old1";
  r.values.newPassword = "ne";
  FileDialogModel m(r, &fs);
  EXPECT_FALSE(m.browseEnabled());  // the file shown exists
  EXPECT_FALSE(m.edit(PasswordField::kOldPassword).enabled);
  EXPECT_TRUE(m.edit(PasswordField::kNewPassword).enabled);
  EXPECT_EQ(m.edit(PasswordField::kConfirmation).text, "ne");  // the new password again
  EXPECT_FALSE(m.okEnabled());
  EXPECT_FALSE(m.type(PasswordField::kOldPassword, "other"));
  m.type(PasswordField::kNewPassword, "new-1");
  EXPECT_FALSE(m.okEnabled());  // all three must reach the minimum
  m.type(PasswordField::kConfirmation, "new-2");
  ASSERT_TRUE(m.okEnabled());
  ASSERT_EQ(m.pressOk().result, OkPress::kClosed);
  EXPECT_EQ(m.values().oldPassword, "old1");
  EXPECT_EQ(m.values().newPassword, "new-1");
  EXPECT_EQ(m.values().confirmation, "new-2");  // the caller compares (5209)
  EXPECT_FALSE(m.browsePicked("/x.pfx"));
}

TEST_F(DialogModelTest, ChangePasswordDialogSplitsThePickAtOnce) {
  struct Case {
    const char* picked;
    const char* directory;
    const char* fileName;
  } cases[] = {{"/x.pfx", "/", "x.pfx"}, {"/d/certs/x.pfx", "/d/certs", "x.pfx"}};
  for (const Case& c : cases) {
    FileDialogModel m(Request(DialogId::kChangePassword, "/missing", "*.pfx", ""), &fs);
    ASSERT_TRUE(m.browseEnabled());
    ASSERT_TRUE(m.browsePicked(c.picked));
    EXPECT_EQ(m.values().directory, c.directory);
    EXPECT_EQ(m.values().fileName, c.fileName);
    EXPECT_EQ(m.pathText(), c.picked);
    EXPECT_EQ(m.pressOk().message, MissingFileMessage(c.picked));
  }
}

// ---- 206 ------------------------------------------------------------------------

TEST_F(DialogModelTest, ExportDialogNeverLocksAndLeavesTheConfirmationUnlimited) {
  FileDialogModel m(Request(DialogId::kExportPfx, "/out", "Alice.pfx", "abcd", 4, 8), &fs);
  EXPECT_TRUE(m.edit(PasswordField::kPassword).enabled);
  EXPECT_EQ(m.edit(PasswordField::kConfirmation).text, "");
  EXPECT_EQ(m.edit(PasswordField::kConfirmation).limit, kUnlimitedEdit);
  EXPECT_FALSE(m.okEnabled());
  EXPECT_EQ(m.picker().kind, PickerSetup::kFolder);
  EXPECT_EQ(m.picker().title, B(u"選擇憑證檔案儲存路徑 :"));

  // A longer password is cut at the maximum, its longer confirmation is
  // not: the two never match.
  m.type(PasswordField::kPassword, "abcdefghijk");
  m.type(PasswordField::kConfirmation, "abcdefghijk");
  EXPECT_EQ(m.edit(PasswordField::kPassword).text, "abcdefgh");
  EXPECT_EQ(m.edit(PasswordField::kConfirmation).text, "abcdefghijk");
  OkPress press = m.pressOk();
  EXPECT_EQ(press.result, OkPress::kMessage);
  EXPECT_EQ(press.message, PasswordMismatchMessage());
}

TEST_F(DialogModelTest, ExportDialogOkChecksDirectoryAndProbe) {
  struct Case {
    const char* name;
    const char* directory;
    bool exists, canCreate;
    ProbeResult probe;
    OkPress::Result want;
    bool directoryMessage;
  } cases[] = {
      {"existing, writable", "/out", true, true, ProbeResult::kWritable, OkPress::kClosed, false},
      {"made at OK", "/new", false, true, ProbeResult::kWritable, OkPress::kClosed, false},
      {"cannot be made", "/a/b", false, false, ProbeResult::kWritable, OkPress::kMessage, true},
      {"not writable", "/ro", true, true, ProbeResult::kNotWritable, OkPress::kMessage, true},
      {"probe left behind", "/out", true, true, ProbeResult::kProbeNotRemoved, OkPress::kStaysOpen,
       false},
      {"no directory", "", false, true, ProbeResult::kWritable, OkPress::kMessage, true},
  };
  for (const Case& c : cases) {
    FakeDialogPlatform platform;
    if (c.exists) platform.directories.insert(c.directory);
    platform.canCreateDirectories = c.canCreate;
    platform.probeResult = c.probe;
    FileDialogModel m(Request(DialogId::kExportPfx, c.directory, "A.pfx", "pw"), &platform);
    m.type(PasswordField::kConfirmation, "pw");
    OkPress press = m.pressOk();
    EXPECT_EQ(press.result, c.want) << c.name;
    EXPECT_EQ(press.message, c.directoryMessage ? DirectoryMessage(c.directory) : "") << c.name;
    EXPECT_EQ(m.state(), c.want == OkPress::kClosed ? DialogState::kOk : DialogState::kOpen)
        << c.name;
  }
}

TEST_F(DialogModelTest, ExportDialogProbesThePathAndTakesAPickedFolder) {
  fs.directories = {"/out", "/picked"};
  FileDialogModel m(Request(DialogId::kExportPfx, "/out", "Alice Chen.pfx", "pw"), &fs);
  ASSERT_TRUE(m.browsePicked("/picked"));
  EXPECT_EQ(m.pathText(), "/picked/Alice Chen.pfx");
  m.type(PasswordField::kConfirmation, "pw");
  ASSERT_EQ(m.pressOk().result, OkPress::kClosed);
  EXPECT_EQ(fs.probed, std::vector<std::string>{"/picked/Alice Chen.pfx"});
  EXPECT_EQ(m.values().directory, "/picked");
  EXPECT_EQ(m.values().fileName, "Alice Chen.pfx");
  EXPECT_EQ(m.values().password, "pw");
}

// ---- 207 ------------------------------------------------------------------------

TEST_F(DialogModelTest, MobileDialogChecksTheFileAndSplitsPicks) {
  fs.files = {"/p/m.pfx"};
  FileDialogModel m(Request(DialogId::kMobilePfx, "/q", "*.pfx", "abcd", 4, 16), &fs);
  EXPECT_TRUE(m.edit(PasswordField::kPassword).enabled);  // never locked
  EXPECT_EQ(m.picker().initialFolder, "");
  EXPECT_EQ(m.pressOk().message, MissingFileMessage("/q/*.pfx"));
  ASSERT_TRUE(m.browsePicked("/p/m.pfx"));
  EXPECT_EQ(m.values().directory, "/p");
  ASSERT_EQ(m.pressOk().result, OkPress::kClosed);
  EXPECT_EQ(m.values().fileName, "m.pfx");
  EXPECT_EQ(m.values().password, "abcd");
}

// ---- Cancel and captions -------------------------------------------------------

TEST_F(DialogModelTest, CancelEmptiesWhatEachDialogEmpties) {
  struct Case {
    DialogId id;
    bool keepsFileName;
  } cases[] = {{DialogId::kPfxFile, true},
               {DialogId::kChangePassword, false},
               {DialogId::kExportPfx, true},
               {DialogId::kMobilePfx, true}};
  for (const Case& c : cases) {
    FileDialogRequest r = Request(c.id, "/d", "f.pfx", "pw");
    r.values.oldPassword = "old";
    r.values.newPassword = "new";
    FileDialogModel m(r, &fs);
    m.pressCancel();
    EXPECT_EQ(m.state(), DialogState::kCancel);
    const FileDialogValues& v = m.values();
    EXPECT_EQ(v.directory, "") << static_cast<int>(c.id);
    EXPECT_EQ(v.password, "") << static_cast<int>(c.id);
    EXPECT_EQ(v.confirmation, "") << static_cast<int>(c.id);
    EXPECT_EQ(v.fileName, c.keepsFileName ? "f.pfx" : "") << static_cast<int>(c.id);
    if (c.id == DialogId::kChangePassword) {
      EXPECT_EQ(v.oldPassword, "");
      EXPECT_EQ(v.newPassword, "");
    }
    EXPECT_EQ(m.pressOk().result, OkPress::kDisabled);  // closed
  }
}

TEST_F(DialogModelTest, CaptionsAndTheTitleOverride) {
  EXPECT_EQ(FileDialogModel(Request(DialogId::kPfxFile, "", "", ""), &fs).caption(),
            B(u"輸入憑證檔案資訊"));
  EXPECT_EQ(FileDialogModel(Request(DialogId::kChangePassword, "", "", ""), &fs).caption(),
            B(u"變更憑證檔案密碼"));
  FileDialogRequest titled = Request(DialogId::kMobilePfx, "", "", "");
  titled.title = "Custom";
  EXPECT_EQ(FileDialogModel(titled, &fs).caption(), "Custom");
  EXPECT_EQ(CertificateListModel({}, &fs).caption(), B(u"選擇憑證匯出至憑證交換檔"));
  EXPECT_EQ(ExportPasswordModel().caption(), B(u"執行憑證匯出"));
  EXPECT_EQ(SignConfirmationModel({}).caption(), B(u"執行簽章(Sign with this Certificate)"));
  PickerSetup pfx = FileDialogModel(Request(DialogId::kPfxFile, "", "", ""), &fs).picker();
  EXPECT_EQ(pfx.title, B(u"選擇憑證檔案"));
  EXPECT_EQ(pfx.filters.size(), 2u);
}

// ---- 204 ------------------------------------------------------------------------

std::vector<CertificateRow> Rows() {
  return {{"A", "01", "2020/01/01", "2021/01/01", "CA", {1}},
          {"B", "02", "2020/01/01", "2021/01/01", "CA", {2, 2}},
          {"C", "03", "2020/01/01", "2021/01/01", "CA", {3, 3, 3}}};
}

TEST_F(DialogModelTest, CertificateListChoosesTheSelectedRowOrTheFirst) {
  struct Case {
    int select;  // -1: none
    int32_t want;
  } cases[] = {{-2, 0}, {-1, 0}, {2, 2}, {1, 1}};
  for (const Case& c : cases) {
    CertificateListModel m(Rows(), &fs);
    EXPECT_EQ(m.selected(), std::optional<size_t>(0));  // the first row at first
    if (c.select == -1) m.selectNone();
    if (c.select >= 0) {
      ASSERT_TRUE(m.select(static_cast<size_t>(c.select)));
    }
    m.pressOk();
    EXPECT_EQ(m.state(), DialogState::kOk);
    EXPECT_EQ(m.chosenIndex(), c.want) << c.select;
  }
  CertificateListModel m(Rows(), &fs);
  EXPECT_FALSE(m.select(3));
  m.pressCancel();
  EXPECT_EQ(m.state(), DialogState::kCancel);
}

TEST_F(DialogModelTest, CertificateListViewWritesTheSelectedCertificate) {
  CertificateListModel m(Rows(), &fs);
  m.select(2);
  EXPECT_EQ(m.view(), "/tmp/temp.cer");
  m.selectNone();
  EXPECT_EQ(m.view(), "/tmp/temp.cer");
  EXPECT_EQ(fs.written, (std::vector<std::vector<uint8_t>>{{3, 3, 3}, {1}}));
  EXPECT_EQ(fs.opened.size(), 2u);
  EXPECT_EQ(m.state(), DialogState::kOpen);  // the dialog stays

  fs.canOpen = false;
  EXPECT_EQ(m.view(), "");
  fs.canWriteTemporary = false;
  EXPECT_EQ(m.view(), "");
  EXPECT_EQ(fs.opened.size(), 3u);
}

TEST_F(DialogModelTest, CertificateListColumns) {
  const char16_t* titles[] = {u"憑證持有人", u"憑證序號", u"起始日", u"截止日", u"憑證發行者"};
  const int widths[] = {150, 110, 110, 110, 180};
  CertificateRow row{"subject", "serial", "from", "to", "issuer", {}};
  const char* cells[] = {"subject", "serial", "from", "to", "issuer"};
  for (int c = 0; c < CertificateListModel::kColumnCount; ++c) {
    EXPECT_EQ(CertificateListModel::columnTitle(c), B(titles[c]));
    EXPECT_EQ(CertificateListModel::columnWidth(c), widths[c]);
    EXPECT_EQ(CertificateListModel::cellText(row, c), cells[c]);
  }
}

// ---- 205, 201, open-file --------------------------------------------------------

TEST_F(DialogModelTest, ExportPasswordDialogOkIsAlwaysEnabled) {
  ExportPasswordModel m;
  EXPECT_TRUE(m.okEnabled());
  EXPECT_EQ(m.edit().limit, kUnlimitedEdit);
  m.type("a password longer than sixteen characters");
  ASSERT_EQ(m.pressOk().result, OkPress::kClosed);
  EXPECT_EQ(m.password(), "a password longer than sixteen characters");

  ExportPasswordModel cancelled;
  cancelled.type("secret");
  cancelled.pressCancel();
  EXPECT_EQ(cancelled.state(), DialogState::kCancel);
  EXPECT_EQ(cancelled.password(), "");
}

TEST_F(DialogModelTest, OpenFilePickerNeedsAName) {
  OpenFileRequest request;
  request.title = "t";
  request.filter = "All Files (*.*)|*.*||";
  OpenFileModel m(request);
  EXPECT_EQ(m.picker().filters, (std::vector<FileFilter>{{"All Files (*.*)", {"*"}}}));
  EXPECT_EQ(m.pick("").result, OkPress::kStaysOpen);
  EXPECT_EQ(m.pick("/no/validation").result, OkPress::kClosed);
  EXPECT_EQ(m.path(), "/no/validation");

  SignConfirmationModel sign({u"text", "01", "cn", "20200101000000", "20210101000000"});
  sign.pressCancel();
  EXPECT_EQ(sign.state(), DialogState::kCancel);
}

}  // namespace
}  // namespace quorvant
