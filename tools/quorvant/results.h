// What every quorvant command prints last: the result line, and the output
// of the administration interface.
#ifndef QUORVANT_TOOLS_RESULTS_H_
#define QUORVANT_TOOLS_RESULTS_H_

#include <string>
#include <string_view>

#include "QuorvantATL.h"

namespace quorvant::cli {

// UTF-8 (the terminal) and UTF-16 (the interface).
std::string Utf8FromUtf16(std::u16string_view text);
std::u16string Utf16FromUtf8(std::string_view text);

// The string result as UTF-8, released.
std::string TakeText(BSTR text);
// The message of a result code as the component words it ("成功(0)").
std::string ResultMessage(int32_t code);
// Bytes as one line of padded Base64 (RFC 4648), the form the component
// takes binary arguments in: the tool holds none of the component's code.
std::string Base64Text(std::string_view bytes);

// "result: CODE MESSAGE" from GetErrorCode and GetErrorMsg, and the system
// error behind it when there is one. The exit status: 0 only for code 0.
int PrintOutcome();

// A report of the administration interface, then the result line: on
// standard output after success; after a failure each line goes to
// standard error, after `failurePrefix`.
int PrintReport(BSTR report, const char* failurePrefix = "quorvant: ");

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_RESULTS_H_
