// `quorvant enrol`: enrolment from the command line.
//
//   quorvant enrol request CN [--bits N] [--flags N] [--pair]
//       CreatePKCS10 (or CreatePKCS10Pair) for the common name; prints the
//       request as one line of Base64 (with --pair the signing request,
//       then the encryption request, each on its own "sign:"/"encrypt:"
//       line)
//   quorvant enrol accept FILE
//       AcceptPKCS7 with the reply in FILE: DER, PEM or plain Base64
//   quorvant enrol pending [--purge-older-than DAYS]
//       the pending keys: records whose key has no certificate in MY; with
//       --purge-older-than, those older than DAYS days are removed with
//       their key containers
#ifndef QUORVANT_TOOLS_ENROL_COMMAND_H_
#define QUORVANT_TOOLS_ENROL_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int EnrolCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_ENROL_COMMAND_H_
