// Messages for the person running the program, for refusals that a result
// code alone leaves unexplained (a data directory another user can write,
// a planted symbolic link): the code says "access denied", the message says
// which path and why, as ssh and gpg do with an unsafe home.
#ifndef QUORVANT_BASE_USER_MESSAGES_H_
#define QUORVANT_BASE_USER_MESSAGES_H_

#include <string>
#include <string_view>
#include <vector>

namespace quorvant {

// Writes "quorvant: MESSAGE" to standard error, each distinct message once
// per process (a refused directory is met by every operation).
void TellUser(std::string_view message);

// Collects the messages instead of writing them, while it lives (tests).
class ScopedUserMessageCapture {
 public:
  ScopedUserMessageCapture();
  ~ScopedUserMessageCapture();
  ScopedUserMessageCapture(const ScopedUserMessageCapture&) = delete;
  ScopedUserMessageCapture& operator=(const ScopedUserMessageCapture&) = delete;

  std::vector<std::string> messages() const;
};

}  // namespace quorvant

#endif  // QUORVANT_BASE_USER_MESSAGES_H_
