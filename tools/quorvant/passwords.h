// Where the tool takes a password from: never required on the command line,
// where every local user can read it from the process list.
//   the terminal, typed without echo (the default when there is one);
//   --password-stdin: one a line from standard input;
//   --password-fd N: one a line from descriptor N (a pipe a script opened).
// With none of them and no terminal the password is empty, so the
// component's own dialog asks.
#ifndef QUORVANT_TOOLS_QUORVANT_PASSWORDS_H_
#define QUORVANT_TOOLS_QUORVANT_PASSWORDS_H_

#include <string>
#include <vector>

namespace quorvant::cli {

// A password as the interface takes it, wiped when it goes.
class Password {
 public:
  Password() = default;
  Password(const Password&) = delete;
  Password& operator=(const Password&) = delete;
  ~Password() { wipe(); }
  // Takes the UTF-8 text and wipes the caller's copy.
  void assignUtf8(std::string& utf8);
  const char16_t* get() const { return text_.c_str(); }

 private:
  void wipe();
  std::u16string text_;
};

struct PasswordSource {
  bool standardInput = false;
  int fd = -1;
};

// Takes --password-stdin or --password-fd N at args[*i] (moving *i past a
// value). False when args[*i] is neither; *bad when it is one but wrong.
bool ParsePasswordOption(const std::vector<std::string>& args, size_t* i, PasswordSource* source,
                         bool* bad);

// Reads one password: 0, or the tool's exit status when the source ends
// first (`usage()`'s) or holds a line too long for a password (an
// unreadable input, with its result line).
int ReadPassword(const PasswordSource& source, const char* prompt, Password* out,
                 int (*usage)());

// The usage lines that describe the sources.
extern const char kPasswordUsage[];

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_QUORVANT_PASSWORDS_H_
