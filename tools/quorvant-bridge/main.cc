// quorvant-bridge: the native messaging host that lets web pages reach the
// component through its browser extension. One process serves one page: the
// browser starts it when the page's control is created and closes its input
// when the page goes away, and the process ends with its input.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "base/result_codes.h"
#include "caller.h"
#include "component.h"
#include "engine/error_messages.h"
#include "framing.h"
#include "session.h"
#include "utf.h"

namespace {

using namespace quorvant;
using namespace quorvant::bridge;

std::string Refusal(int32_t code) {
  nlohmann::json reply = nlohmann::json::object();
  const std::string message = Utf8FromUtf16(ErrorMessageText(code));
  reply["error"] = message;
  reply["errorCode"] = code;
  reply["errorMsg"] = message;
  return reply.dump();
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  // The messages own standard output: anything else the process prints goes
  // to standard error, where it cannot break a frame.
  const int out = ::dup(STDOUT_FILENO);
  if (out < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return 1;

  if (!IsOurCaller(argc, argv)) {
    WriteFrame(out, Refusal(rc::kBridgeForeignCaller));
    std::fprintf(stderr, "quorvant-bridge: refused: the caller is not the component's extension\n");
    return 2;
  }

  std::string problem;
  std::unique_ptr<Component> component = LoadComponent(InstalledLibraryPath(), &problem);
  if (!component) {
    WriteFrame(out, ProtocolError(std::nullopt, problem));
    std::fprintf(stderr, "quorvant-bridge: %s\n", problem.c_str());
    return 1;
  }

  Session session(*component);
  std::string frame;
  for (;;) {
    uint32_t length = 0;
    switch (ReadFrame(STDIN_FILENO, &frame, &length)) {
      case FrameStatus::kFrame:
        break;
      case FrameStatus::kEnd:
        return 0;
      case FrameStatus::kTruncated:
        WriteFrame(out, ProtocolError(std::nullopt, "truncated message"));
        return 1;
      case FrameStatus::kTooLarge:
        // The rest of the stream cannot be read past the message: stop.
        WriteFrame(out, ProtocolError(std::nullopt, "message of " + std::to_string(length) +
                                                        " bytes is larger than 16 MiB"));
        return 1;
      case FrameStatus::kReadError:
        return 1;
    }
    if (!WriteFrame(out, session.handle(frame))) return 0;
  }
}
