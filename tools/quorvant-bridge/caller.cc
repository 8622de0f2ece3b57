#include "caller.h"

namespace quorvant::bridge {

bool IsOurCaller(int argc, const char* const* argv) {
  if (argc >= 2 && argv[1] != nullptr && std::string_view(argv[1]) == kChromeExtensionOrigin) {
    return true;
  }
  return argc >= 3 && argv[2] != nullptr && std::string_view(argv[2]) == kFirefoxExtensionId;
}

}  // namespace quorvant::bridge
