// Test mode: plays dialog-script steps (src/dialogs/dialog_script.h) on the
// real widgets, the way a person would: typing goes through the edits'
// limits, a disabled button does not react, a message box must be dismissed.
#ifndef QUORVANT_TOOLS_QUORVANT_DIALOGS_DRIVER_H_
#define QUORVANT_TOOLS_QUORVANT_DIALOGS_DRIVER_H_

#include <vector>

#include "dialog_window.h"

namespace quorvant {

// Starts playing `steps` (kept by the driver) once the dialog is on screen.
// Steps run one by one with a short pause between them, also while a picker
// or a message box runs its own loop. When they run out with the dialog
// still open, the dialog is cancelled.
void StartDriver(DialogWindow* window, std::vector<ScriptAction> steps);

}  // namespace quorvant

#endif  // QUORVANT_TOOLS_QUORVANT_DIALOGS_DRIVER_H_
