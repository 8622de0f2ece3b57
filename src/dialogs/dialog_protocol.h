// The messages between the library and the quorvant-dialogs helper, over the
// helper's standard input and output (one socket pair).
//
// A frame is the line "QVDLG/1 <length>\n" followed by <length> bytes of
// body (at most kMaxFrameBody). The body is lines "key value\n" (or "key\n"
// for an empty value): keys are 1 to 32 of [a-z0-9-]; values are
// percent-encoded, every byte outside 0x21-0x7E and "%" itself written as
// %XX, so a body is printable ASCII and texts pass byte for byte (narrow
// texts in the code page named in the request).
//
// One dialog per helper run:
//   library -> helper: a request ("message request", the dialog and its
//     values, optional test-driving steps);
//   helper -> library: "message shown" once the dialog is on screen, then
//     "message result" with the outcome and the values.
// Whatever the helper sends is checked before it is believed: a broken
// frame, an unknown key, a missing outcome or an index outside the rows
// makes the exchange fail.
#ifndef QUORVANT_DIALOGS_DIALOG_PROTOCOL_H_
#define QUORVANT_DIALOGS_DIALOG_PROTOCOL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/dialog_script.h"
#include "dialogs/model_dialog_host.h"

namespace quorvant {

inline constexpr std::string_view kFrameMagic = "QVDLG/1 ";
inline constexpr size_t kMaxFrameBody = 16u << 20;

struct ProtocolField {
  std::string key;
  std::string value;
};
using ProtocolMessage = std::vector<ProtocolField>;

std::string EncodeFrame(const ProtocolMessage& message);
// Parses a frame's body; false for anything but well-formed lines.
bool ParseFrameBody(std::string_view body, ProtocolMessage* out);

// Collects frames from a byte stream.
class FrameReader {
 public:
  enum class Status { kNeedMore, kFrame, kBroken };
  ~FrameReader();
  void append(const char* data, size_t size);
  // Takes the next complete frame off the buffer into *out. kBroken is
  // final: a bad header, an oversized length or a body that does not parse.
  Status next(ProtocolMessage* out);
  bool empty() const { return buffer_.empty(); }

 private:
  std::string buffer_;
  bool broken_ = false;
};

// The request for one dialog, the steps that drive it in test mode, and the
// code page the narrow texts are in.
ProtocolMessage EncodeRequest(const DialogRequest& request,
                              const std::vector<ScriptAction>& steps, uint32_t codePage);
bool DecodeRequest(const ProtocolMessage& message, DialogRequest* request,
                   std::vector<ScriptAction>* steps, uint32_t* codePage, std::string* error);

enum class HelperEvent { kShown, kResult };
ProtocolMessage EncodeShown(DialogId id);
ProtocolMessage EncodeResult(DialogId id, const DialogResult& result);
// A message from the helper about `request`'s dialog. For kResult, *result
// holds the outcome and the values (kOk values checked against the request).
bool DecodeHelperMessage(const ProtocolMessage& message, const DialogRequest& request,
                         HelperEvent* event, DialogResult* result, std::string* error);

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_DIALOG_PROTOCOL_H_
