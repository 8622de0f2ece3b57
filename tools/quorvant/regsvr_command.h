// `quorvant regsvr`: runs a module's self-registration entry points, as the
// platform's regsvr32 does.
#ifndef QUORVANT_TOOLS_REGSVR_COMMAND_H_
#define QUORVANT_TOOLS_REGSVR_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int RegsvrCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_REGSVR_COMMAND_H_
