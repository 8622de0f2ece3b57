#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "base/environment.h"
#include "dialogs/dialog_platform.h"
#include "encoding/code_page.h"

extern char** environ;

namespace quorvant {
namespace {

int RetryOpen(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

class LinuxDialogPlatform final : public DialogPlatform {
 public:
  explicit LinuxDialogPlatform(LinuxDialogPlatformOptions options) : options_(options) {}

  bool fileExists(const std::string& path) override {
    struct stat st;
    const std::string os = OsPathFromNarrow(path);
    return !os.empty() && ::stat(os.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  bool directoryExists(const std::string& path) override {
    struct stat st;
    const std::string os = OsPathFromNarrow(path);
    return !os.empty() && ::stat(os.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool createDirectory(const std::string& path) override {
    const std::string os = OsPathFromNarrow(path);
    return !os.empty() && ::mkdir(os.c_str(), 0777) == 0;
  }

  // A file that does not exist yet is created exclusively (so a file that
  // appears meanwhile is never touched), written and removed. An existing
  // file is only opened for writing, without truncation and without writing:
  // that proves the export may replace it and leaves its contents and times
  // as they were. The export replaces the file only when it has its new
  // contents, so a failed export never costs the old file.
  ProbeResult probeWritable(const std::string& path) override {
    const std::string os = OsPathFromNarrow(path);
    if (os.empty()) return ProbeResult::kNotWritable;
    int fd = RetryOpen(os.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
      static const uint8_t kProbeByte = 0;
      bool written = WriteAll(fd, &kProbeByte, 1);
      bool closed = ::close(fd) == 0;
      bool removed = ::unlink(os.c_str()) == 0;
      if (!removed) return ProbeResult::kProbeNotRemoved;
      return written && closed ? ProbeResult::kWritable : ProbeResult::kNotWritable;
    }
    if (errno != EEXIST) return ProbeResult::kNotWritable;
    struct stat st;
    // A dangling symbolic link, a directory, a device or a pipe is nothing an
    // export can write a file to.
    if (::stat(os.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ProbeResult::kNotWritable;
    fd = RetryOpen(os.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return ProbeResult::kNotWritable;
    ::close(fd);
    return ProbeResult::kWritable;
  }

  // The file goes in under a fresh private name first and is renamed over
  // temp.cer: in a shared /tmp a planted temp.cer (or a link of that name)
  // is replaced as a name, never written through.
  bool writeTemporaryCertificate(const std::vector<uint8_t>& der, std::string* path) override {
    path->clear();
    const std::string directory = TemporaryDirectory();
    const std::string target =
        directory == "/" ? std::string("/temp.cer") : directory + "/temp.cer";
    std::string scratch = target + ".XXXXXX";
    int fd = ::mkostemp(scratch.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, der.data(), der.size());
    ok = (::fchmod(fd, 0644) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(scratch.c_str(), target.c_str()) != 0) {
      ::unlink(scratch.c_str());
      return false;
    }
    *path = NarrowFromOsText(target);
    return true;
  }

  // xdg-open may stay in the foreground until the viewer closes, so it runs
  // in the background of a short-lived shell: the dialog stays responsive
  // and no child of ours is left to reap.
  bool openWithDesktop(const std::string& path) override {
    if (!options_.launchOpener) return true;
    const std::string os = OsPathFromNarrow(path);
    if (os.empty()) return false;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    const char* argv[] = {"sh", "-c", "xdg-open \"$1\" &", "sh", os.c_str(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv),
                         environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return errno == ECHILD;  // reaped by the caller's own handler
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  const LinuxDialogPlatformOptions options_;
};

}  // namespace

std::string TemporaryDirectory() {
  const std::optional<std::string> value = ProcessEnvironmentValue("TMPDIR");
  std::string directory = value && !value->empty() && (*value)[0] == '/' ? *value : "/tmp";
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory;
}

std::shared_ptr<DialogPlatform> MakeLinuxDialogPlatform(LinuxDialogPlatformOptions options) {
  return std::make_shared<LinuxDialogPlatform>(options);
}

}  // namespace quorvant
