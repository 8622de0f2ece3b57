// The helper host against stand-in helpers (small shell scripts): a helper
// that cannot start, dies, hangs, lies or answers well. Nothing may hang,
// and no helper may outlive the exchange.
#include "dialogs/helper_dialog_host.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace quorvant {
namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

std::string Frame(const std::string& body) {
  return "QVDLG/1 " + std::to_string(body.size()) + "\n" + body;
}

// A shell command that writes `text` (no quote or backslash in it).
std::string Printf(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '\n' ? std::string("\\n") : c == '%' ? std::string("%%") : std::string(1, c);
  }
  return "printf '" + out + "'\n";
}

class HelperHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/quorvant-helper-host-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A helper that records its pid and the request, then runs `then`.
  std::string helper(const std::string& then) {
    const fs::path path = dir_ / "helper.sh";
    std::ofstream(path) << "#!/bin/sh\n"
                        << "echo $$ > '" << (dir_ / "pid").string() << "'\n"
                        << "read -r magic length\n"
                        << "head -c \"$length\" > '" << (dir_ / "request").string() << "'\n"
                        << then;
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }

  HelperDialogOptions options(const std::string& path, int startupMs = 5000, int totalMs = 0) {
    HelperDialogOptions o;
    o.helperPath = path;
    o.startupTimeoutMs = startupMs;
    o.timeoutMs = totalMs;
    return o;
  }

  // The helper is gone: killed and reaped (a zombie would still answer kill 0).
  void expectHelperGone() {
    std::ifstream in(dir_ / "pid");
    pid_t pid = 0;
    ASSERT_TRUE(in >> pid);
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
  }

  std::string request() {
    std::ifstream in(dir_ / "request", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

DialogRequest PasswordRequest() {
  DialogRequest r;
  r.id = DialogId::kExportPassword;
  return r;
}

TEST_F(HelperHostTest, AnsweredDialogReturnsTheValues) {
  HelperDialogOptions o = options(helper(
      "echo diagnostics >&2\n" + Printf(Frame("message shown\ndialog 205\n")) +
      Printf(Frame("message result\ndialog 205\noutcome ok\npassword s%20ecret\nnote fine\n"))));
  o.stderrPath = (dir_ / "helper.log").string();
  HelperDialogHost host(o);
  DialogResult r = host.run(PasswordRequest());
  std::ifstream log(dir_ / "helper.log");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), "diagnostics\n");
  EXPECT_EQ(r.outcome, DialogOutcome::kOk);
  EXPECT_EQ(r.values.password, "s ecret");
  EXPECT_EQ(r.notes, std::vector<std::string>{"fine"});
  EXPECT_NE(request().find("message request\ndialog 205\ncodepage "), std::string::npos);
  expectHelperGone();
}

TEST_F(HelperHostTest, FailuresBeforeAndAfterTheDialogIsShown) {
  const std::string shown = Printf(Frame("message shown\ndialog 205\n"));
  struct Case {
    const char* name;
    std::string then;
    int startupMs, totalMs;
    DialogOutcome want;
    const char* note;
  } cases[] = {
      {"ends at once", "exit 0\n", 5000, 0, DialogOutcome::kCannotCreate,
       "the helper ended without an answer"},
      {"no display", Printf(Frame("message result\ndialog 205\noutcome cannot-create\nnote no%20display\n")),
       5000, 0, DialogOutcome::kCannotCreate, "no display"},
      {"garbage", "echo hello\nexec sleep 5\n", 5000, 0, DialogOutcome::kCannotCreate,
       "the helper broke the protocol"},
      {"never shows", "exec sleep 30\n", 300, 0, DialogOutcome::kCannotCreate,
       "the helper did not show the dialog in time"},
      {"dies while shown", shown + "kill -9 $$\n", 5000, 0, DialogOutcome::kCancel,
       "the helper ended without an answer"},
      {"shown too long", shown + "exec sleep 30\n", 5000, 600, DialogOutcome::kCancel,
       "the dialog ran out of time"},
      {"lies while shown", shown + Printf(Frame("message result\ndialog 204\noutcome ok\n")) + "exec sleep 5\n",
       5000, 0, DialogOutcome::kCancel,
       "the helper sent a bad message: a message about another dialog"},
  };
  for (const Case& c : cases) {
    HelperDialogHost host(options(helper(c.then), c.startupMs, c.totalMs));
    const auto start = steady_clock::now();
    DialogResult r = host.run(PasswordRequest());
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(4)) << c.name;
    EXPECT_EQ(r.outcome, c.want) << c.name;
    ASSERT_FALSE(r.notes.empty()) << c.name;
    EXPECT_EQ(r.notes.back(), c.note) << c.name;
    expectHelperGone();
  }
}

TEST_F(HelperHostTest, AHelperThatCannotStartCannotCreate) {
  for (const std::string& path : {std::string(), (dir_ / "missing").string()}) {
    HelperDialogHost host(options(path));
    std::string password = "kept";
    EXPECT_EQ(host.askExportPassword(&password), DialogOutcome::kCannotCreate);
    EXPECT_EQ(password, "kept");
  }
}

// A helper that never reads a large request: the library sees a closed
// socket, not SIGPIPE.
TEST_F(HelperHostTest, AHelperThatStopsReadingDoesNotKillTheCaller) {
  const fs::path path = dir_ / "quits.sh";
  std::ofstream(path) << "#!/bin/sh\necho $$ > '" << (dir_ / "pid").string() << "'\nexit 0\n";
  fs::permissions(path, fs::perms::owner_all);
  DialogRequest request;
  request.id = DialogId::kCertificateList;
  request.rows.resize(64);
  for (CertificateRow& row : request.rows) row.der.assign(64 * 1024, 0x5A);
  HelperDialogHost host(options(path.string()));
  DialogResult r = host.run(request);
  EXPECT_EQ(r.outcome, DialogOutcome::kCannotCreate);
  expectHelperGone();
}

TEST_F(HelperHostTest, TestStepsTravelWithTheRequest) {
  HelperDialogHost host(options(helper(Printf(Frame("message result\ndialog 205\noutcome cancel\n")))));
  ScriptAction press;
  press.kind = ScriptAction::kPressOk;
  host.driveNext({press});
  EXPECT_EQ(host.run(PasswordRequest()).outcome, DialogOutcome::kCancel);
  EXPECT_NE(request().find("\nstep press-ok\n"), std::string::npos);
  host.run(PasswordRequest());
  EXPECT_EQ(request().find("step"), std::string::npos);  // one drive per dialog
}

}  // namespace
}  // namespace quorvant
