// `quorvant pfx info` and `quorvant filter`: a PKCS #12 file's certificates,
// and the certificates CertificateFilter selects from a store.
//
//   quorvant pfx info FILE [--password-stdin | --password-fd N]
//   quorvant filter TEXT [--flags N] [--key-usage N] [--store MY|CA|ROOT]
//
// Both end with the result code and its message.
#ifndef QUORVANT_TOOLS_PFX_COMMAND_H_
#define QUORVANT_TOOLS_PFX_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int PfxCommand(const std::vector<std::string>& args);
int FilterCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_PFX_COMMAND_H_
