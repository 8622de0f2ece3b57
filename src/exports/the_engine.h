// theEngine: the process-wide SecurityEngine behind every flat export and
// Java native method. It is created when the library is loaded and destroyed
// when it is unloaded.
#ifndef QUORVANT_EXPORTS_THE_ENGINE_H_
#define QUORVANT_EXPORTS_THE_ENGINE_H_

#include "engine/security_engine.h"

namespace quorvant {

// Null only if the engine could not be built at load (memory exhausted).
SecurityEngine* TheEngine();

}  // namespace quorvant

#endif  // QUORVANT_EXPORTS_THE_ENGINE_H_
