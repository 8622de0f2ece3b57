// CapiSession: the enrolment object inside every engine (provider choice,
// key generation, requests and certificate installation). It keeps its own
// result code and system error number, which the calling operation copies
// into the engine's codes.
#ifndef QUORVANT_ENROLL_CAPI_SESSION_H_
#define QUORVANT_ENROLL_CAPI_SESSION_H_

#include <cstdint>

namespace quorvant {

class CapiSession {
 public:
  CapiSession() = default;
  CapiSession(const CapiSession&) = delete;
  CapiSession& operator=(const CapiSession&) = delete;

  int32_t errorCode() const { return errorCode_; }
  uint32_t capiErrorCode() const { return capiErrorCode_; }

 private:
  int32_t errorCode_ = 0;
  uint32_t capiErrorCode_ = 0;
};

}  // namespace quorvant

#endif  // QUORVANT_ENROLL_CAPI_SESSION_H_
