// Dialog scripts and the scripted host: a script meets the rules a person
// meets, and every host answers the typed calls the operations make.
#include "dialogs/scripted_dialog_host.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "dialogs/fake_dialog_platform.h"
#include "dialogs/helper_dialog_host.h"
#include "encoding/code_page.h"

namespace quorvant {
namespace {

std::string B(std::u16string_view text) { return ToNarrow(text); }

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetActiveCodePage(950)); }
};

TEST_F(ScriptTest, ParsesEveryStatement) {
  std::vector<ScriptedDialog> dialogs;
  std::string error;
  ASSERT_TRUE(ParseDialogScript(
      "# a user\r\n"
      "dialog 202\n"
      "  type password \"pa ss\\\"w\\\\d\"   # a comment\n"
      "  browse /home/u/a.pfx\n"
      "  press ok\n"
      "\n"
      "dialog 204\n"
      "select 2\n"
      "select none\n"
      "press view\n"
      "dismiss\n"
      "screenshot \"/tmp/s.png\"\n"
      "wait 250\n"
      "press cancel\n"
      "dialog open-file\n"
      "pick \"/tmp/憑證.bin\"\n"
      "press browse\n"
      "type new-password x\n",
      &dialogs, &error))
      << error;
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[0].id, DialogId::kPfxFile);
  ASSERT_EQ(dialogs[0].actions.size(), 3u);
  EXPECT_EQ(dialogs[0].actions[0].kind, ScriptAction::kType);
  EXPECT_EQ(dialogs[0].actions[0].field, PasswordField::kPassword);
  EXPECT_EQ(dialogs[0].actions[0].text, "pa ss\"w\\d");
  EXPECT_EQ(dialogs[0].actions[1].kind, ScriptAction::kBrowse);
  EXPECT_EQ(dialogs[0].actions[1].text, "/home/u/a.pfx");
  EXPECT_EQ(dialogs[0].actions[2].kind, ScriptAction::kPressOk);

  const ScriptAction::Kind kinds204[] = {
      ScriptAction::kSelect,     ScriptAction::kSelectNone, ScriptAction::kPressView,
      ScriptAction::kDismiss,    ScriptAction::kScreenshot, ScriptAction::kWait,
      ScriptAction::kPressCancel};
  ASSERT_EQ(dialogs[1].actions.size(), std::size(kinds204));
  for (size_t i = 0; i < std::size(kinds204); ++i) EXPECT_EQ(dialogs[1].actions[i].kind, kinds204[i]);
  EXPECT_EQ(dialogs[1].actions[0].number, 2);
  EXPECT_EQ(dialogs[1].actions[5].number, 250);

  EXPECT_EQ(dialogs[2].id, DialogId::kOpenFile);
  EXPECT_EQ(dialogs[2].actions[0].text, B(u"/tmp/憑證.bin"));  // UTF-8 in, code page out
  EXPECT_EQ(dialogs[2].actions[2].field, PasswordField::kNewPassword);
}

TEST_F(ScriptTest, RejectsBadStatementsWithTheirLine) {
  struct Case {
    const char* script;
    const char* error;
  } cases[] = {
      {"press ok\n", "line 1: an action before the first 'dialog'"},
      {"dialog 202\nclick ok\n", "line 2: unknown statement 'click'"},
      {"dialog 208\n", "line 1: unknown dialog '208'"},
      {"dialog 0\n", "line 1: unknown dialog '0'"},
      {"dialog\n", "line 1: 'dialog' takes 1 argument"},
      {"dialog 202\ntype password\n", "line 2: 'type' takes 2 arguments"},
      {"dialog 202\ntype pin 1234\n", "line 2: unknown edit 'pin'"},
      {"dialog 202\ntype password \"open\n", "line 2: unterminated string"},
      {"dialog 202\ntype password \"a\\qb\"\n", "line 2: unknown escape \\q"},
      {"dialog 202\ntype password a\"b\n", "line 2: quote inside a word"},
      {"dialog 204\nselect -1\n", "line 2: bad row '-1'"},
      {"dialog 204\nselect 99999999999\n", "line 2: bad row '99999999999'"},
      {"dialog 204\nwait 600001\n", "line 2: bad wait '600001'"},
      {"dialog 204\npress help\n", "line 2: unknown button 'help'"},
      {"dialog 204\ndismiss now\n", "line 2: 'dismiss' takes 0 arguments"},
      {"dialog 204\n\"press\" ok\n", "line 2: a statement starts with a word"},
      {"dialog 204\npress\x01 ok\n", "line 2: control character in the statement"},
  };
  for (const Case& c : cases) {
    std::vector<ScriptedDialog> dialogs;
    std::string error;
    EXPECT_FALSE(ParseDialogScript(c.script, &dialogs, &error)) << c.script;
    EXPECT_EQ(error, c.error) << c.script;
  }
  std::string error;
  std::vector<ScriptedDialog> dialogs;
  EXPECT_FALSE(ParseDialogScript(std::string(kMaxScriptBytes + 1, '#'), &dialogs, &error));
}

ScriptedDialog Dialog(DialogId id, const std::string& statements) {
  std::vector<ScriptedDialog> parsed;
  std::string error;
  std::string script = "dialog " +
                       (id == DialogId::kOpenFile ? std::string("open-file")
                                                  : std::to_string(static_cast<int>(id))) +
                       "\n" + statements;
  EXPECT_TRUE(ParseDialogScript(script, &parsed, &error)) << error;
  return parsed.empty() ? ScriptedDialog{} : parsed[0];
}

class ScriptedHostTest : public ScriptTest {
 protected:
  std::shared_ptr<FakeDialogPlatform> fs = std::make_shared<FakeDialogPlatform>();
  ScriptedDialogHost host{fs};
};

// A script gets no further than a person: the short password leaves OK
// disabled, and the dialog left open is cancelled.
TEST_F(ScriptedHostTest, RefusedActionsLeaveTheDialogOpenUntilCancelled) {
  fs->files = {"/c/a.pfx"};
  host.enqueue(Dialog(DialogId::kPfxFile, "type password abc\npress ok\n"));
  FileDialogRequest request;
  request.id = DialogId::kPfxFile;
  request.values = {"/c", "a.pfx", "", "", "", ""};
  request.passwdMinLength = 6;
  FileDialogValues values = request.values;
  EXPECT_EQ(host.fileDialog(request, &values), DialogOutcome::kCancel);
  EXPECT_EQ(values.directory, "");
  EXPECT_EQ(values.fileName, "a.pfx");
  ASSERT_EQ(host.transcript().size(), 1u);
  EXPECT_EQ(host.transcript()[0].notes,
            (std::vector<std::string>{"press ok: the button is disabled",
                                      "the script ended with the dialog open: cancelled"}));
}

TEST_F(ScriptedHostTest, AMissingFileBringsItsMessageAndTheDialogStaysOpen) {
  fs->files = {"/certs/u.pfx"};
  host.enqueue(Dialog(DialogId::kPfxFile,
                      "type password secret\npress ok\nbrowse /certs/u.pfx\npress ok\nwait 5\n"));
  FileDialogRequest request;
  request.id = DialogId::kPfxFile;
  request.values = {"/home/u", "*.pfx", "", "", "", ""};
  FileDialogValues values = request.values;
  ASSERT_EQ(host.fileDialog(request, &values), DialogOutcome::kOk);
  EXPECT_EQ(values.directory, "/certs");
  EXPECT_EQ(values.fileName, "u.pfx");
  EXPECT_EQ(values.password, "secret");
  TranscriptEntry entry = host.transcript().at(0);
  EXPECT_EQ(entry.messages, std::vector<std::string>{MissingFileMessage("/home/u/*.pfx")});
  EXPECT_EQ(entry.notes, std::vector<std::string>{"1 action(s) left over after the dialog closed"});
}

TEST_F(ScriptedHostTest, PickersAndButtonsFollowTheirOwnRules) {
  fs->files = {"/c/a.pfx"};
  struct Case {
    const char* name;
    DialogId id;
    const char* script;
    DialogOutcome want;
    std::vector<std::string> notes;
  } cases[] = {
      {"203 browse disabled", DialogId::kChangePassword, "browse /x.pfx\npress ok\n",
       DialogOutcome::kOk, {"browse: the button is disabled"}},
      {"picker cancelled", DialogId::kMobilePfx,
       "press browse\ntype password x\npress cancel\npress ok\n", DialogOutcome::kOk,
       {"type: the picker is open"}},
      {"empty pick", DialogId::kMobilePfx, "press browse\npick \"\"\npress cancel\npress ok\n",
       DialogOutcome::kOk, {"pick: an empty name keeps the picker open"}},
      {"no list here", DialogId::kMobilePfx, "select 1\npress view\nscreenshot /tmp/x.png\npress cancel\n",
       DialogOutcome::kCancel,
       {"select: no row 1", "no view button in this dialog", "screenshot: no screen to capture"}},
  };
  for (const Case& c : cases) {
    ScriptedDialogHost fresh(fs);
    fresh.enqueue(Dialog(c.id, c.script));
    DialogRequest request;
    request.id = c.id;
    request.file.id = c.id;
    request.file.values = {"/c", "a.pfx", "pw", "old", "new", ""};
    DialogResult result = fresh.run(request);
    EXPECT_EQ(result.outcome, c.want) << c.name;
    EXPECT_EQ(result.notes, c.notes) << c.name;
  }
}

TEST_F(ScriptedHostTest, EveryTypedCallRunsItsDialog) {
  host.enqueueScript(
      "dialog 204\nselect 2\npress view\npress ok\n"
      "dialog 205\ntype password mobile\npress ok\n"
      "dialog 201\npress ok\n"
      "dialog 201\npress cancel\n"
      "dialog open-file\npick /data/file.bin\n",
      nullptr);
  std::vector<CertificateRow> rows(3);
  rows[2].der = {9, 9};
  int32_t index = -1;
  EXPECT_EQ(host.chooseCertificate(rows, &index), DialogOutcome::kOk);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(fs->written, (std::vector<std::vector<uint8_t>>{{9, 9}}));
  std::string password;
  EXPECT_EQ(host.askExportPassword(&password), DialogOutcome::kOk);
  EXPECT_EQ(password, "mobile");
  EXPECT_EQ(host.confirmSigning({}), DialogOutcome::kOk);
  EXPECT_EQ(host.confirmSigning({}), DialogOutcome::kCancel);
  std::string path;
  EXPECT_EQ(host.openFile({}, &path), DialogOutcome::kOk);
  EXPECT_EQ(path, "/data/file.bin");
  EXPECT_EQ(host.pending(), 0u);
}

// A web site's questions are 201 with the site beside the text; the log a
// test in another process reads holds both, escaped as JSON.
TEST_F(ScriptedHostTest, SiteRequestsShowTheSiteAndAreLogged) {
  char dir[] = "/tmp/quorvant-log-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/dialogs.log";
  host.setLogFile(log);
  host.enqueueScript("dialog 201\npress ok\ndialog 201\npress cancel\n", nullptr);
  EXPECT_EQ(host.confirmSiteRequest(u"https://bank.example", u"可以嗎？"), DialogOutcome::kOk);
  SignConfirmation sign;
  sign.content = u"付款 \"1000\"\n元";
  sign.origin = u"http://127.0.0.1:8080";
  EXPECT_EQ(host.confirmSigning(sign), DialogOutcome::kCancel);
  EXPECT_EQ(host.confirmSiteRequest(u"https://bank.example", u"again"),
            DialogOutcome::kCannotCreate);
  std::ifstream in(log);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       R"({"dialog":201,"outcome":"ok","origin":"https://bank.example","content":"可以嗎？"})",
                       R"({"dialog":201,"outcome":"cancel","origin":"http://127.0.0.1:8080","content":"付款 \"1000\"\u000a元"})",
                       R"({"dialog":201,"outcome":"cannot-create","origin":"https://bank.example","content":"again"})"}));
  std::remove(log.c_str());
  ::rmdir(dir);
}

TEST_F(ScriptedHostTest, WithoutAMatchingBlockTheDialogCannotBeCreated) {
  std::string path = "x";
  EXPECT_EQ(host.openFile({}, &path), DialogOutcome::kCannotCreate);  // nothing queued
  EXPECT_EQ(path, "");
  host.enqueue(Dialog(DialogId::kExportPassword, "press ok\n"));
  EXPECT_EQ(host.openFile({}, &path), DialogOutcome::kCannotCreate);
  EXPECT_EQ(host.pending(), 1u);  // kept for the dialog it names
  int32_t index = 7;
  EXPECT_EQ(host.chooseCertificate({}, &index), DialogOutcome::kCannotCreate);  // empty list
  EXPECT_EQ(index, 7);
  FileDialogValues values;
  FileDialogRequest notAFileDialog;
  notAFileDialog.id = DialogId::kCertificateList;
  EXPECT_EQ(host.fileDialog(notAFileDialog, &values), DialogOutcome::kCannotCreate);
  std::string password = "before";
  EXPECT_EQ(host.askExportPassword(&password), DialogOutcome::kOk);
  EXPECT_EQ(password, "");
  EXPECT_EQ(host.transcript()[1].notes, std::vector<std::string>{"the script expects dialog 205"});
}

TEST_F(ScriptedHostTest, ScriptFilesAreAllOrNothing) {
  std::string error;
  EXPECT_FALSE(host.enqueueScript("dialog 201\npress ok\ndialog 999\n", &error));
  EXPECT_EQ(host.pending(), 0u);
  EXPECT_FALSE(host.enqueueScriptFile("/nonexistent/script", &error));
  EXPECT_EQ(error, "cannot open the dialog script /nonexistent/script");
  // Neither waits for a writer nor reads without end; nothing is queued.
  const std::string fifo = std::filesystem::temp_directory_path() /
                           ("qv-script-fifo-" + std::to_string(::getpid()));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/")}) {
    EXPECT_FALSE(host.enqueueScriptFile(path, &error)) << path;
    EXPECT_EQ(error, "cannot open the dialog script " + path);
  }
  ::unlink(fifo.c_str());
  EXPECT_EQ(host.pending(), 0u);
}

TEST(NoDialogHostTest, EveryDialogCannotBeCreated) {
  std::shared_ptr<DialogHost> host = MakeNoDialogHost();
  std::string text = "x";
  FileDialogValues values;
  values.password = "kept";
  int32_t index = 3;
  FileDialogRequest request;
  EXPECT_EQ(host->openFile({}, &text), DialogOutcome::kCannotCreate);
  EXPECT_EQ(text, "");
  EXPECT_EQ(host->fileDialog(request, &values), DialogOutcome::kCannotCreate);
  EXPECT_EQ(values.password, "kept");
  EXPECT_EQ(host->chooseCertificate(std::vector<CertificateRow>(2), &index),
            DialogOutcome::kCannotCreate);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(host->askExportPassword(&text), DialogOutcome::kCannotCreate);
  EXPECT_EQ(host->confirmSigning({}), DialogOutcome::kCannotCreate);
}

// ---- Configuration --------------------------------------------------------------

class ConfiguredHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/quorvant-dialog-config-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
    helper_ = (dir_ / "quorvant-dialogs").string();
    std::ofstream(helper_) << "#!/bin/sh\nexit 0\n";
    std::filesystem::permissions(helper_, std::filesystem::perms::owner_all);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static EnvLookup Env(std::map<std::string, std::string> vars) {
    return [vars](const char* name) -> std::optional<std::string> {
      auto it = vars.find(name);
      if (it == vars.end()) return std::nullopt;
      return it->second;
    };
  }

  std::filesystem::path dir_;
  std::string helper_;
};

TEST_F(ConfiguredHostTest, PicksTheHostTheEnvironmentAsksFor) {
  enum Kind { kNone, kHelper, kScripted };
  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    Kind want;
  } cases[] = {
      {"no display", {{"QUORVANT_DIALOG_HELPER", helper_}}, kNone},
      {"display and helper", {{"DISPLAY", ":9"}, {"QUORVANT_DIALOG_HELPER", helper_}}, kHelper},
      {"wayland", {{"WAYLAND_DISPLAY", "wayland-0"}, {"QUORVANT_DIALOG_HELPER", helper_}}, kHelper},
      {"empty display", {{"DISPLAY", ""}, {"QUORVANT_DIALOG_HELPER", helper_}}, kNone},
      {"helper missing", {{"DISPLAY", ":9"}, {"QUORVANT_DIALOG_HELPER", helper_ + ".gone"}}, kNone},
      {"auto", {{"QUORVANT_DIALOGS", "auto"}, {"DISPLAY", ":9"}, {"QUORVANT_DIALOG_HELPER", helper_}},
       kHelper},
      {"none", {{"QUORVANT_DIALOGS", "none"}, {"DISPLAY", ":9"}, {"QUORVANT_DIALOG_HELPER", helper_}},
       kNone},
      {"gtk without display", {{"QUORVANT_DIALOGS", "gtk"}, {"QUORVANT_DIALOG_HELPER", helper_}},
       kHelper},
      {"unknown", {{"QUORVANT_DIALOGS", "qt"}, {"DISPLAY", ":9"}, {"QUORVANT_DIALOG_HELPER", helper_}},
       kNone},
      {"scripted", {{"QUORVANT_DIALOGS", "scripted"}}, kScripted},
  };
  for (const Case& c : cases) {
    std::shared_ptr<DialogHost> host = MakeConfiguredDialogHost(Env(c.env));
    Kind got = dynamic_cast<HelperDialogHost*>(host.get())     ? kHelper
               : dynamic_cast<ScriptedDialogHost*>(host.get()) ? kScripted
                                                                : kNone;
    EXPECT_EQ(got, c.want) << c.name;
  }
}

TEST_F(ConfiguredHostTest, OneScriptedHostPlaysTheScriptForTheWholeProcess) {
  const std::string script = (dir_ / "user.script").string();
  std::ofstream(script) << "dialog 201\npress ok\ndialog 201\npress cancel\n";
  auto env = Env({{"QUORVANT_DIALOGS", "scripted"}, {"QUORVANT_DIALOG_SCRIPT", script}});
  std::shared_ptr<DialogHost> first = MakeConfiguredDialogHost(env);
  std::shared_ptr<DialogHost> second = MakeConfiguredDialogHost(env);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->confirmSigning({}), DialogOutcome::kOk);
  EXPECT_EQ(second->confirmSigning({}), DialogOutcome::kCancel);
  EXPECT_EQ(first->confirmSigning({}), DialogOutcome::kCannotCreate);
}

TEST_F(ConfiguredHostTest, TheHelperIsFoundOnThePath) {
  EXPECT_EQ(FindDialogHelper(Env({{"QUORVANT_DIALOG_HELPER", helper_}})), helper_);
  EXPECT_EQ(FindDialogHelper(Env({{"QUORVANT_DIALOG_HELPER", (dir_ / "none").string()}})), "");
  // Without the variable, a helper installed beside this program comes first.
  const std::string beside =
      std::filesystem::read_symlink("/proc/self/exe").parent_path().string() +
      "/../bin/quorvant-dialogs";
  const std::string expected = ::access(beside.c_str(), X_OK) == 0 ? beside : helper_;
  EXPECT_EQ(FindDialogHelper(Env({{"PATH", "relative:" + dir_.string()}})), expected);
}

}  // namespace
}  // namespace quorvant
