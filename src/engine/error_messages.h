// ErrorMessageTable: the message of every result code.
#ifndef QUORVANT_ENGINE_ERROR_MESSAGES_H_
#define QUORVANT_ENGINE_ERROR_MESSAGES_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quorvant {

struct ErrorMessageEntry {
  int32_t code;
  // Holds exactly one "%d", which receives the code.
  std::u16string_view text;
};

// Every entry in ascending code order (5001 and 7701 share one text).
std::span<const ErrorMessageEntry> ErrorMessageTable();
// The entry for codes the table does not list; note its trailing blank.
std::u16string_view DefaultErrorMessage();

// The message of `code`: its table text (or the default text) with the code
// in place of the "%d".
std::u16string ErrorMessageText(int32_t code);

}  // namespace quorvant

#endif  // QUORVANT_ENGINE_ERROR_MESSAGES_H_
