// The browser bridge's questions to the user. The host decides when to ask;
// the engine only shows the question through its dialog host and turns the
// answer into a code, so the same dialogs (and scripts) serve web pages and
// local callers.
#include "base/result_codes.h"
#include "encoding/code_page.h"
#include "engine/security_engine.h"

namespace quorvant {
namespace {

int32_t CodeOfAnswer(DialogOutcome outcome, int32_t refused) {
  switch (outcome) {
    case DialogOutcome::kOk:
      return rc::kSuccess;
    case DialogOutcome::kCancel:
      return refused;
    case DialogOutcome::kCannotCreate:
      break;
  }
  return rc::kBridgeNoDialog;
}

}  // namespace

int32_t SecurityEngine::BridgeConfirmSite(TextArg origin, TextArg question) {
  clearCodes();
  if (origin.empty() || question.empty()) return errorCode = rc::kBadArgument;
  if (!services.dialogs) return errorCode = rc::kBridgeNoDialog;
  const DialogOutcome outcome =
      services.dialogs->confirmSiteRequest(std::u16string(origin), std::u16string(question));
  return errorCode = CodeOfAnswer(outcome, rc::kBridgeNotConfirmed);
}

int32_t SecurityEngine::BridgeConfirmSigning(TextArg origin, TextArg content, TextArg serial,
                                             TextArg commonName, TextArg notBefore,
                                             TextArg notAfter) {
  clearCodes();
  if (origin.empty()) return errorCode = rc::kBadArgument;
  if (!services.dialogs) return errorCode = rc::kBridgeNoDialog;
  SignConfirmation details;
  details.content = std::u16string(content);
  details.origin = std::u16string(origin);
  details.serial = ToNarrow(serial);
  details.commonName = ToNarrow(commonName);
  details.notBefore = ToNarrow(notBefore);
  details.notAfter = ToNarrow(notAfter);
  const DialogOutcome outcome = services.dialogs->confirmSigning(details);
  return errorCode = CodeOfAnswer(outcome, rc::kBridgeSigningNotConfirmed);
}

}  // namespace quorvant
