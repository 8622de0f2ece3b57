// The dialog helper's messages and the dialog scripts over arbitrary bytes:
// never a crash; a frame that parses re-encodes to a frame that parses to the
// same fields; an accepted answer from the helper never names a row outside
// the list it was shown.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dialogs/dialog_protocol.h"
#include "dialogs/dialog_script.h"

namespace {

using namespace quorvant;

bool SameMessage(const ProtocolMessage& a, const ProtocolMessage& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].key != b[i].key || a[i].value != b[i].value) return false;
  }
  return true;
}

void CheckAnswer(const ProtocolMessage& message) {
  DialogRequest list;
  list.id = DialogId::kCertificateList;
  list.rows.resize(2);
  DialogRequest file;
  file.id = DialogId::kPfxFile;
  DialogRequest picker;
  picker.id = DialogId::kOpenFile;
  for (const DialogRequest* request : {&list, &file, &picker}) {
    HelperEvent event;
    DialogResult result;
    std::string error;
    if (!DecodeHelperMessage(message, *request, &event, &result, &error)) continue;
    if (event == HelperEvent::kResult && result.outcome == DialogOutcome::kOk) {
      if (request == &list && (result.index < 0 || result.index >= 2)) std::abort();
      if (request == &picker && result.path.empty()) std::abort();
    }
  }
  DialogRequest request;
  std::vector<ScriptAction> steps;
  uint32_t codePage;
  std::string error;
  DecodeRequest(message, &request, &steps, &codePage, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // As the stream from the helper, arriving in two pieces.
  FrameReader reader;
  const size_t split = size == 0 ? 0 : data[0] % size;
  reader.append(input.data(), split);
  ProtocolMessage message;
  FrameReader::Status status = reader.next(&message);
  reader.append(input.data() + split, size - split);
  for (int frames = 0; frames < 64; ++frames) {
    if (status == FrameReader::Status::kFrame) {
      CheckAnswer(message);
      FrameReader again;
      const std::string encoded = EncodeFrame(message);
      again.append(encoded.data(), encoded.size());
      ProtocolMessage back;
      if (again.next(&back) != FrameReader::Status::kFrame || !SameMessage(message, back)) {
        std::abort();
      }
    } else if (status == FrameReader::Status::kBroken) {
      break;
    }
    status = reader.next(&message);
    if (status == FrameReader::Status::kNeedMore) break;
  }

  // A frame body on its own.
  if (ParseFrameBody(input, &message)) CheckAnswer(message);

  // A dialog script.
  std::vector<ScriptedDialog> dialogs;
  std::string error;
  if (ParseDialogScript(input, &dialogs, &error)) {
    for (const ScriptedDialog& dialog : dialogs) {
      // A script may also answer the root store's own confirmation, which
      // has no number of its own.
      if (dialog.id != DialogId::kRootConfirmation &&
          !DialogIdFromNumber(static_cast<int32_t>(dialog.id))) {
        std::abort();
      }
    }
  }
  ScriptAction action;
  ParseScriptAction(input, &action, &error);
  return 0;
}
