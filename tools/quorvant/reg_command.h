// `quorvant reg`: the registry store behind HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE, queried and changed in the manner of the platform's
// own reg tool. This is an administration tool over the store, not part of
// the component's interface.
#ifndef QUORVANT_TOOLS_REG_COMMAND_H_
#define QUORVANT_TOOLS_REG_COMMAND_H_

#include <string>
#include <vector>

namespace quorvant::cli {

int RegCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_REG_COMMAND_H_
