// `quorvant bridge install`: registers quorvant-bridge as the browsers'
// native messaging host for the component's extension.
#ifndef QUORVANT_TOOLS_BRIDGE_COMMAND_H_
#define QUORVANT_TOOLS_BRIDGE_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int BridgeCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_BRIDGE_COMMAND_H_
