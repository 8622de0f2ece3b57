// `quorvant store` and `quorvant cert`: the current user's certificate
// stores and the fields of one certificate, read the way the component reads
// them, through the library's administration interface (QuorvantAdmin.h).
//
//   quorvant store list [MY|CA|ROOT]        every certificate, numbered from 1
//   quorvant store add MY|CA|ROOT FILE      add a DER or PEM certificate
//   quorvant store delete [MY|CA|ROOT] N    delete the N-th certificate of the list
//   quorvant cert FILE                      every field of a DER or PEM certificate
//
// N is the position `store list` shows for the same store (MY when none is
// named), which in MY is also the index GetIECert* and DeleteIECert take
// after GetIECertCount.
#ifndef QUORVANT_TOOLS_STORE_COMMAND_H_
#define QUORVANT_TOOLS_STORE_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int StoreCommand(const std::vector<std::string>& args);
int CertCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_STORE_COMMAND_H_
