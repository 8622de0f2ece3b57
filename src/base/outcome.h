// Outcome: what an internal step reports instead of bool plus out-parameter.
//
// It carries the result code the engine would leave in errorCode and the
// system or CryptoAPI error number it would leave in capiErrorCode, so an
// operation can hand a failure up unchanged and set both fields in one
// place. Result<T> adds a value for the success case.
#ifndef QUORVANT_BASE_OUTCOME_H_
#define QUORVANT_BASE_OUTCOME_H_

#include <cstdint>
#include <optional>
#include <utility>

#include "base/result_codes.h"

namespace quorvant {

class [[nodiscard]] Outcome {
 public:
  constexpr Outcome() = default;
  static constexpr Outcome Ok() { return Outcome(); }
  // A failure with its result code and, when a platform call failed, the
  // system error number.
  static constexpr Outcome Fail(int32_t code, uint32_t systemError = 0) {
    return Outcome(code, systemError);
  }

  constexpr bool ok() const { return code_ == rc::kSuccess; }
  constexpr int32_t code() const { return code_; }
  constexpr uint32_t systemError() const { return systemError_; }

 private:
  constexpr Outcome(int32_t code, uint32_t systemError)
      : code_(code), systemError_(systemError) {}
  int32_t code_ = rc::kSuccess;
  uint32_t systemError_ = 0;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Outcome failure) : failure_(failure) {}  // NOLINT: implicit by design

  bool ok() const { return value_.has_value(); }
  // The failure; Ok() when there is a value.
  Outcome outcome() const { return failure_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }

 private:
  std::optional<T> value_;
  Outcome failure_ = Outcome::Fail(rc::kGeneralError);
};

}  // namespace quorvant

// Returns the outcome of `expr` from the enclosing function when it failed.
#define QUORVANT_RETURN_IF_FAILED(expr)               \
  do {                                                \
    ::quorvant::Outcome quorvant_outcome_ = (expr);   \
    if (!quorvant_outcome_.ok()) return quorvant_outcome_; \
  } while (0)

#endif  // QUORVANT_BASE_OUTCOME_H_
