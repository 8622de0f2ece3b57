// The host that shows the real dialogs: for each dialog it starts the
// quorvant-dialogs helper program, sends it the request over the helper's
// standard input and output (one socket pair) and waits for the answer, so
// the GUI toolkit lives in that process and never in the caller's (a JVM, a
// native program). The call blocks until the dialog is closed.
//
// What a failing helper means:
//   - it cannot be started, it ends or breaks the protocol before the dialog
//     is on screen, it says so itself (no display), or it takes longer than
//     startupTimeoutMs to show the dialog: the dialog cannot be created;
//   - it ends, breaks the protocol or runs out of timeoutMs after the dialog
//     was shown: Cancel. The user saw a dialog and confirmed nothing, so the
//     operation must not go on with values nobody gave.
// A helper that is still running when the exchange ends is killed.
#ifndef QUORVANT_DIALOGS_HELPER_DIALOG_HOST_H_
#define QUORVANT_DIALOGS_HELPER_DIALOG_HOST_H_

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/dialog_host.h"
#include "dialogs/dialog_script.h"
#include "dialogs/model_dialog_host.h"

namespace quorvant {

struct HelperDialogOptions {
  std::string helperPath;  // the program, as an OS path
  // From the start until the dialog is on screen.
  int startupTimeoutMs = 30000;
  // The whole dialog; 0 waits as long as the person needs.
  int timeoutMs = 0;
  // Where the helper's own diagnostics (the toolkit's warnings) go.
  std::string stderrPath = "/dev/null";
};

class HelperDialogHost final : public ModelDialogHost {
 public:
  explicit HelperDialogHost(HelperDialogOptions options);

  // Test mode: the next dialog is driven by these steps on its real widgets
  // (see dialog_script.h) instead of waiting for a person. One call per
  // dialog, in order.
  void driveNext(std::vector<ScriptAction> steps);

  DialogResult run(const DialogRequest& request) override;

 private:
  const HelperDialogOptions options_;
  std::mutex mutex_;
  std::deque<std::vector<ScriptAction>> drives_;
};

// The helper program: $QUORVANT_DIALOG_HELPER when set; otherwise, beside
// the module this code is linked into (the library, or a program), the first
// executable of <dir>/quorvant-dialogs, <dir>/../libexec/quorvant/quorvant-dialogs
// and <dir>/../bin/quorvant-dialogs; otherwise quorvant-dialogs on $PATH.
// Empty when there is none.
std::string FindDialogHelper(const EnvLookup& env);

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_HELPER_DIALOG_HOST_H_
