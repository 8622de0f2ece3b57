// Operations whose subsystems this build does not contain yet. Each follows
// the result-code protocol and answers 5004 ("not supported") through
// answerNotBuilt(); as a subsystem arrives, its operations move out of this
// file into the engine file of that subsystem.
#include "engine/security_engine.h"

namespace quorvant {

int32_t SecurityEngine::SetProviderName(TextArg) { return answerNotBuilt(); }
Text SecurityEngine::CreatePKCS10(TextArg, int32_t, int32_t) { answerNotBuilt(); return Text(); }
int32_t SecurityEngine::CreatePKCS10Pair(TextArg, int32_t, int32_t) { return answerNotBuilt(); }
int32_t SecurityEngine::AcceptPKCS7(TextArg) { return answerNotBuilt(); }
int32_t SecurityEngine::CountWeakKeys(int32_t) {
  answerNotBuilt();
  return -1;
}


}  // namespace quorvant
