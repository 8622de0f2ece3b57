// quorvant pfx import|query|export|mobile|passwd: the PFX operations of the
// component, called through its exports. Passwords are read from the
// terminal without echo, or one a line from standard input with
// --password-stdin; they are never taken from the command line, where other
// users can read them.
#ifndef QUORVANT_TOOLS_PFX_OPERATION_COMMANDS_H_
#define QUORVANT_TOOLS_PFX_OPERATION_COMMANDS_H_

#include <string>
#include <vector>

namespace quorvant::cli {

// True when args[0] names one of the operations above.
bool IsPfxOperationCommand(const std::vector<std::string>& args);
int PfxOperationCommand(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_PFX_OPERATION_COMMANDS_H_
