#include "dialogs/helper_dialog_host.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "dialogs/dialog_protocol.h"
#include "encoding/code_page.h"
#include "base/unique_fd.h"

extern char** environ;

namespace quorvant {
namespace {

using Clock = std::chrono::steady_clock;

// The helper process; a helper still running when this goes is killed and
// reaped, so no exchange leaves a process or a zombie behind.
class ChildProcess {
 public:
  ChildProcess() = default;
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { kill(); }

  // Gives the helper `graceMs` to end by itself, then kills it.
  void finish(int graceMs) {
    if (pid_ <= 0) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    for (;;) {
      if (reaped(WNOHANG)) return;
      if (Clock::now() >= deadline) break;
      struct timespec pause = {0, 5 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
    kill();
  }

  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    reaped(0);
  }

 private:
  bool reaped(int flags) {
    int status = 0;
    for (;;) {
      pid_t r = ::waitpid(pid_, &status, flags);
      if (r == pid_ || (r < 0 && errno == ECHILD)) {  // ECHILD: the caller reaps its children itself
        pid_ = -1;
        return true;
      }
      if (r < 0 && errno == EINTR) continue;
      return false;
    }
  }

  pid_t pid_ = -1;
};

class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attr_);
  }
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  bool ok_ = false;
};

// Starts the helper with the socket as its standard input and output. The
// caller's signal mask and handlers (a JVM blocks and catches plenty) are
// not the helper's business: it starts with an empty mask and default
// actions for the signals that matter to it. No other descriptor of the
// caller reaches it.
bool Spawn(const HelperDialogOptions& options, int childFd, pid_t* pid, std::string* error) {
  SpawnActions actions;
  SpawnAttributes attributes;
  if (!actions.ok() || !attributes.ok()) {
    *error = "posix_spawn set-up failed";
    return false;
  }
  posix_spawn_file_actions_adddup2(actions.get(), childFd, 0);
  posix_spawn_file_actions_adddup2(actions.get(), childFd, 1);
  const std::string& log = options.stderrPath.empty() ? std::string("/dev/null")
                                                      : options.stderrPath;
  posix_spawn_file_actions_addopen(actions.get(), 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
#endif
  sigset_t empty;
  sigemptyset(&empty);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, sig);
  }
  posix_spawnattr_setsigmask(attributes.get(), &empty);
  posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {options.helperPath.c_str(), "--serve", nullptr};
  int rc = posix_spawn(pid, options.helperPath.c_str(), actions.get(), attributes.get(),
                       const_cast<char* const*>(argv), environ);
  if (rc != 0) {
    *error = "cannot start " + options.helperPath + ": errno " + std::to_string(rc);
    return false;
  }
  return true;
}

// Milliseconds left until `deadline` for poll(); -1 without one.
int PollTimeout(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

std::optional<Clock::time_point> Earlier(std::optional<Clock::time_point> a,
                                         std::optional<Clock::time_point> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

bool SendAll(int fd, const std::string& data, std::optional<Clock::time_point> deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    struct pollfd p = {fd, POLLOUT, 0};
    int ready = ::poll(&p, 1, PollTimeout(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// The directory of the module (shared library or program) this code is in.
std::string ModuleDirectory() {
  Dl_info info{};
  std::string module;
  if (dladdr(reinterpret_cast<const void*>(&FindDialogHelper), &info) != 0 &&
      info.dli_fname != nullptr && info.dli_fname[0] == '/') {
    module = info.dli_fname;
  } else {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    module.assign(buffer, static_cast<size_t>(n));
  }
  size_t slash = module.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : module.substr(0, slash);
}

}  // namespace

std::string FindDialogHelper(const EnvLookup& env) {
  if (std::optional<std::string> configured = env("QUORVANT_DIALOG_HELPER");
      configured && !configured->empty()) {
    return IsExecutableFile(*configured) ? *configured : std::string();
  }
  const std::string dir = ModuleDirectory();
  if (!dir.empty()) {
    for (const char* relative :
         {"/quorvant-dialogs", "/../libexec/quorvant/quorvant-dialogs", "/../bin/quorvant-dialogs"}) {
      std::string candidate = dir + relative;
      if (IsExecutableFile(candidate)) return candidate;
    }
  }
  std::optional<std::string> path = env("PATH");
  if (!path) return std::string();
  size_t start = 0;
  while (start <= path->size()) {
    size_t colon = path->find(':', start);
    std::string entry = path->substr(start, colon == std::string::npos ? std::string::npos
                                                                        : colon - start);
    if (!entry.empty() && entry[0] == '/') {
      std::string candidate = entry + "/quorvant-dialogs";
      if (IsExecutableFile(candidate)) return candidate;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return std::string();
}

HelperDialogHost::HelperDialogHost(HelperDialogOptions options) : options_(std::move(options)) {}

void HelperDialogHost::driveNext(std::vector<ScriptAction> steps) {
  std::lock_guard<std::mutex> lock(mutex_);
  drives_.push_back(std::move(steps));
}

DialogResult HelperDialogHost::run(const DialogRequest& request) {
  std::vector<ScriptAction> steps;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!drives_.empty()) {
      steps = std::move(drives_.front());
      drives_.pop_front();
    }
  }
  DialogResult failed;  // kCannotCreate until the dialog is on screen
  auto fail = [&](std::string why) {
    failed.notes.push_back(std::move(why));
    return failed;
  };
  if (options_.helperPath.empty()) return fail("no dialog helper program");

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    return fail("socketpair failed");
  }
  UniqueFd ours(fds[0]);
  UniqueFd theirs(fds[1]);
  pid_t pid = -1;
  std::string error;
  if (!Spawn(options_, theirs.get(), &pid, &error)) return fail(error);
  ChildProcess child(pid);
  theirs.reset();

  const auto start = Clock::now();
  const std::optional<Clock::time_point> startupDeadline =
      start + std::chrono::milliseconds(options_.startupTimeoutMs);
  const std::optional<Clock::time_point> overallDeadline =
      options_.timeoutMs > 0
          ? std::optional<Clock::time_point>(start + std::chrono::milliseconds(options_.timeoutMs))
          : std::nullopt;

  std::string frame = EncodeFrame(EncodeRequest(request, steps, ActiveCodePage()));
  const bool sent = SendAll(ours.get(), frame, Earlier(startupDeadline, overallDeadline));
  explicit_bzero(frame.data(), frame.size());
  if (!sent) return fail("the helper did not take the request");

  FrameReader reader;
  bool shown = false;
  auto broken = [&](std::string why) {
    child.kill();
    DialogResult result;
    result.outcome = shown ? DialogOutcome::kCancel : DialogOutcome::kCannotCreate;
    result.notes.push_back(std::move(why));
    return result;
  };
  for (;;) {
    ProtocolMessage message;
    FrameReader::Status status = reader.next(&message);
    if (status == FrameReader::Status::kBroken) return broken("the helper broke the protocol");
    if (status == FrameReader::Status::kFrame) {
      HelperEvent event;
      DialogResult result;
      if (!DecodeHelperMessage(message, request, &event, &result, &error)) {
        return broken("the helper sent a bad message: " + error);
      }
      if (event == HelperEvent::kShown) {
        shown = true;
        continue;
      }
      // The helper ends right after its answer.
      child.finish(2000);
      return result;
    }
    const auto deadline = shown ? overallDeadline : Earlier(startupDeadline, overallDeadline);
    struct pollfd p = {ours.get(), POLLIN, 0};
    int ready = ::poll(&p, 1, PollTimeout(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return broken("poll failed");
    if (ready == 0) {
      return broken(shown ? "the dialog ran out of time" : "the helper did not show the dialog in time");
    }
    char buffer[16384];
    ssize_t n = ::recv(ours.get(), buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return broken("the helper ended without an answer");
    reader.append(buffer, static_cast<size_t>(n));
    explicit_bzero(buffer, static_cast<size_t>(n));
  }
}

}  // namespace quorvant
