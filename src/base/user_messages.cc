#include "base/user_messages.h"

#include <unistd.h>

#include <mutex>
#include <set>

namespace quorvant {
namespace {

struct UserMessages {
  std::mutex mutex;
  std::set<std::string> told;
  bool capturing = false;
  std::vector<std::string> captured;
};

UserMessages& State() {
  static UserMessages state;
  return state;
}

}  // namespace

void TellUser(std::string_view message) {
  UserMessages& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  try {
    if (state.capturing) {
      state.captured.emplace_back(message);
      return;
    }
    if (!state.told.emplace(message).second) return;
    std::string line = "quorvant: ";
    line.append(message);
    line += '\n';
    // One write(2): lines of several threads or processes do not interleave.
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    static_cast<void>(ignored);
  } catch (...) {
    // Out of memory: the result code still tells the caller.
  }
}

ScopedUserMessageCapture::ScopedUserMessageCapture() {
  UserMessages& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.capturing = true;
  state.captured.clear();
}

ScopedUserMessageCapture::~ScopedUserMessageCapture() {
  UserMessages& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.capturing = false;
  state.captured.clear();
}

std::vector<std::string> ScopedUserMessageCapture::messages() const {
  UserMessages& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.captured;
}

}  // namespace quorvant
