#include "passwords.h"

#include <errno.h>
#include <string.h>  // explicit_bzero
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "export_calls.h"
#include "input_file.h"
#include "results.h"

namespace quorvant::cli {
namespace {

// A password is a line; one longer than this is not one.
constexpr size_t kMaxPasswordBytes = 4096;

enum class LineRead { kLine, kEnd, kTooLong };

// One line from a descriptor, a byte at a time so that nothing after it is
// taken from the next reader (the new password after the old one, the text
// of the operation).
LineRead ReadLineFromFd(int fd, std::string* line) {
  line->clear();
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line->empty() ? LineRead::kEnd : LineRead::kLine;
    if (c == '\n') return LineRead::kLine;
    if (line->size() >= kMaxPasswordBytes) return LineRead::kTooLong;
    line->push_back(c);
  }
}

}  // namespace

const char kPasswordUsage[] =
    "Passwords come from the terminal (not echoed), or one a line from standard\n"
    "input with --password-stdin or from descriptor N with --password-fd N;\n"
    "never from the command line, where other users see them.\n";

void Password::assignUtf8(std::string& utf8) {
  wipe();
  text_ = Utf16FromUtf8(utf8);
  explicit_bzero(utf8.data(), utf8.size());
}

void Password::wipe() {
  if (!text_.empty()) explicit_bzero(text_.data(), text_.size() * sizeof(char16_t));
  text_.clear();
}

bool ParsePasswordOption(const std::vector<std::string>& args, size_t* i, PasswordSource* source,
                         bool* bad) {
  const std::string& a = args[*i];
  if (a == "--password-stdin") {
    source->standardInput = true;
    return true;
  }
  if (a != "--password-fd") return false;
  const std::optional<int32_t> fd = *i + 1 < args.size() ? ParseInt32(args[*i + 1]) : std::nullopt;
  if (!fd || *fd < 0) {
    std::fprintf(stderr, "quorvant: --password-fd needs a descriptor number\n");
    *bad = true;
    return true;
  }
  ++*i;
  source->fd = *fd;
  return true;
}

int ReadPassword(const PasswordSource& source, const char* prompt, Password* out,
                 int (*usage)()) {
  std::string line;
  LineRead read = LineRead::kEnd;
  if (source.fd >= 0 || source.standardInput) {
    read = ReadLineFromFd(source.fd >= 0 ? source.fd : STDIN_FILENO, &line);
  } else {
    if (!::isatty(STDIN_FILENO)) return 0;
    termios saved{};
    const bool haveTerminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveTerminal) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::fprintf(stderr, "%s", prompt);
    read = ReadLineFromFd(STDIN_FILENO, &line);
    if (haveTerminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (read == LineRead::kLine) out->assignUtf8(line);
  explicit_bzero(line.data(), line.size());
  switch (read) {
    case LineRead::kLine:
      return 0;
    case LineRead::kEnd:
      return usage();
    case LineRead::kTooLong:
      break;
  }
  const std::string source_name =
      source.fd >= 0 ? "descriptor " + std::to_string(source.fd) : std::string("standard input");
  return InputFailure(source_name, "a password line is longer than " +
                                       std::to_string(kMaxPasswordBytes) + " bytes");
}

}  // namespace quorvant::cli
