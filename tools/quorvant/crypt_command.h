// `quorvant encrypt` and `quorvant decrypt`: SymEncrypt / SymDecrypt with a
// caller's key, CertEncryptPkcs7 / CertDecryptPkcs7 with certificates.
//
//   quorvant encrypt --key HEX [--alg N] [--ansi] [--out FILE] [INPUT]
//   quorvant encrypt --to CERT [--alg N] [--ansi] [--out FILE] [INPUT]
//   quorvant decrypt --key HEX [--alg N] [--ansi] [--out FILE] [INPUT]
//   quorvant decrypt [--ansi] [--out FILE] [INPUT]
//
// The text is read from INPUT or standard input as UTF-8, taken whole. CERT
// is a certificate or PKCS #7 bundle file, PEM or DER. --alg is the
// operation's iAlgorithm (symmetric: 0 Triple-DES by key length, 1 DES;
// envelopes: 0 Triple-DES, 1 DES, 2 RC4); --ansi sets flag 0x800. The
// result goes to FILE as it is, or to standard output followed by a line
// break; both commands end with the result code and its message.
#ifndef QUORVANT_TOOLS_CRYPT_COMMAND_H_
#define QUORVANT_TOOLS_CRYPT_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int EncryptCommand(const std::vector<std::string>& args);
int DecryptCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_CRYPT_COMMAND_H_
