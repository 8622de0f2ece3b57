// Operations whose subsystems this build does not contain yet. Each follows
// the result-code protocol and answers 5004 ("not supported") through
// answerNotBuilt(); as a subsystem arrives, its operations move out of this
// file into the engine file of that subsystem.
#include "engine/security_engine.h"

namespace quorvant {

int32_t SecurityEngine::ChangePfxPasswd(TextArg, TextArg, TextArg, TextArg, int32_t) {
  return answerNotBuilt();
}
int32_t SecurityEngine::ChangePfxPasswdEx(TextArg, TextArg, TextArg, TextArg, int32_t,
                                          int32_t) {
  return answerNotBuilt();
}
int32_t SecurityEngine::QueryPfxInfo(TextArg, TextArg, TextArg, int32_t, int32_t) {
  return answerNotBuilt();
}
int32_t SecurityEngine::ImportPfxToIE(TextArg, TextArg, TextArg, int32_t, int32_t) {
  return answerNotBuilt();
}
int32_t SecurityEngine::ExportPfxFromIE(TextArg, TextArg, TextArg, int32_t, int32_t) {
  return answerNotBuilt();
}
Text SecurityEngine::ExportMobileFromPfx(TextArg, TextArg, TextArg, int32_t, int32_t) {
  answerNotBuilt();
  return Text();
}
Text SecurityEngine::ExportMobileFromIE(TextArg, TextArg, int32_t, int32_t) {
  answerNotBuilt();
  return Text();
}

int32_t SecurityEngine::SelectSigner(TextArg, int32_t, int32_t) { return answerNotBuilt(); }
int32_t SecurityEngine::SelectSignerEx(TextArg, TextArg, TextArg, TextArg, TextArg, int32_t,
                                       int32_t) {
  return answerNotBuilt();
}
int32_t SecurityEngine::SelectSignerEx2(TextArg, TextArg, TextArg, int32_t, TextArg, int32_t,
                                        int32_t) {
  return answerNotBuilt();
}
Text SecurityEngine::SignPkcs1(TextArg, int32_t) { answerNotBuilt(); return Text(); }
Text SecurityEngine::SignPkcs7(TextArg, int32_t) { answerNotBuilt(); return Text(); }

Text SecurityEngine::SymEncrypt(TextArg, TextArg, int32_t, int32_t) { answerNotBuilt(); return Text(); }
Text SecurityEngine::SymDecrypt(TextArg, TextArg, int32_t, int32_t) { answerNotBuilt(); return Text(); }
Text SecurityEngine::CertEncryptPkcs7(TextArg, TextArg, int32_t, int32_t) {
  answerNotBuilt();
  return Text();
}
Text SecurityEngine::CertDecryptPkcs7(TextArg, int32_t) { answerNotBuilt(); return Text(); }

}  // namespace quorvant
