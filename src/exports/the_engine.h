// theEngine: the process-wide SecurityEngine behind every flat export and
// Java native method. It is created when the library is loaded and destroyed
// when it is unloaded.
#ifndef QUORVANT_EXPORTS_THE_ENGINE_H_
#define QUORVANT_EXPORTS_THE_ENGINE_H_

#include <mutex>

#include "engine/security_engine.h"

namespace quorvant {

// Null only if the engine could not be built at load (memory exhausted).
// Reach it only while holding an EngineLock.
SecurityEngine* TheEngine();

// The one lock of theEngine. Every entry that reaches it (flat exports, the
// administration interface, the Java native methods) holds it for the whole
// call, a dialog the call shows included, so the engine's fields change
// between calls only. Recursive, so an entry built over another entry (a
// Java method over a flat export) does not deadlock its own thread.
class EngineLock {
 public:
  EngineLock();
  EngineLock(const EngineLock&) = delete;
  EngineLock& operator=(const EngineLock&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> guard_;
};

}  // namespace quorvant

#endif  // QUORVANT_EXPORTS_THE_ENGINE_H_
