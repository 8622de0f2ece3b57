// The two functions the browser bridge (quorvant-bridge) calls besides the
// operations: the questions it asks the user for a web site. They run on
// theEngine of the bridge's own process, so they share its dialog host.
#include <new>

#include "QuorvantATL.h"
#include "base/automation_string.h"
#include "base/result_codes.h"
#include "exports/the_engine.h"

namespace {

template <class Operation>
int32_t Guarded(Operation&& operation) noexcept {
  quorvant::SecurityEngine* engine = quorvant::TheEngine();
  if (engine == nullptr) return quorvant::rc::kAllocationFailed;
  try {
    return operation(*engine);
  } catch (const std::bad_alloc&) {
    engine->noteEscapedFailure(true);
  } catch (...) {
    engine->noteEscapedFailure(false);
  }
  return engine->GetErrorCode();
}

std::u16string_view A(const OLECHAR* text) { return quorvant::ArgumentText(text); }

}  // namespace

extern "C" {

QUORVANT_API int32_t QuorvantBridgeConfirmSite(const OLECHAR* origin, const OLECHAR* question) {
  return Guarded([&](quorvant::SecurityEngine& e) {
    return e.BridgeConfirmSite(A(origin), A(question));
  });
}

QUORVANT_API int32_t QuorvantBridgeConfirmSigning(const OLECHAR* origin, const OLECHAR* content,
                                                  const OLECHAR* serial,
                                                  const OLECHAR* commonName,
                                                  const OLECHAR* notBefore,
                                                  const OLECHAR* notAfter) {
  return Guarded([&](quorvant::SecurityEngine& e) {
    return e.BridgeConfirmSigning(A(origin), A(content), A(serial), A(commonName),
                                  A(notBefore), A(notAfter));
  });
}

}  // extern "C"
