// `quorvant select` and `quorvant sign`: signer selection and the two
// signatures, through the library's exports on one engine.
//
//   quorvant select [FILTER] [selection options]
//   quorvant sign [--pkcs7] [--flags N] [--filter FILTER] [selection options] TEXT|-
//
// TEXT "-" reads the text (UTF-8) from the standard input.
// Selection options: --select-flags N (SelectSigner's dwFlags), --key-usage N,
// --date YYYYMMDDhhmmss, --pfx FOLDER NAME, --password PASSWORD (then
// SelectSignerEx, which asks no password), --port N (SelectSignerEx2's
// dwPort). Without a password the selection is SelectSignerEx2, which
// publishes the signer; `sign` without any selection option takes over the
// signer another process published (dwPort 1). Both print the signer's
// thumbprint and subject; `sign` prints the signature first. Each ends with
// the result code and its message.
#ifndef QUORVANT_TOOLS_SIGN_COMMAND_H_
#define QUORVANT_TOOLS_SIGN_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int SelectCommand(const std::vector<std::string>& args);
int SignCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_SIGN_COMMAND_H_
