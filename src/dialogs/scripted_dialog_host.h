// The scripted host: a script plays the user. Each dialog takes the next
// scripted block, which must name that dialog; its actions meet the same
// rules a person meets (a disabled button does nothing, a password past the
// limit is cut, a missing file brings its message and the dialog stays
// open). Message boxes are read and dismissed at once. A block whose actions
// end with the dialog still open closes it with Cancel, as a person walking
// away would. With no block left, or a block for another dialog (which is
// then kept for later), the dialog cannot be created.
#ifndef QUORVANT_DIALOGS_SCRIPTED_DIALOG_HOST_H_
#define QUORVANT_DIALOGS_SCRIPTED_DIALOG_HOST_H_

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/dialog_platform.h"
#include "dialogs/dialog_script.h"
#include "dialogs/model_dialog_host.h"

namespace quorvant {

// Plays `actions` against the model of `request`'s dialog.
DialogResult RunScriptedDialog(const DialogRequest& request,
                               const std::vector<ScriptAction>& actions,
                               DialogPlatform& platform);

// One dialog the scripted host was asked for.
struct TranscriptEntry {
  DialogId id = DialogId::kPfxFile;
  DialogOutcome outcome = DialogOutcome::kCannotCreate;
  std::vector<std::string> messages;
  std::vector<std::string> notes;
};

class ScriptedDialogHost final : public ModelDialogHost {
 public:
  // `platform` answers the file checks; the configured host uses the Linux
  // one without launching the certificate viewer.
  explicit ScriptedDialogHost(std::shared_ptr<DialogPlatform> platform);

  void enqueue(ScriptedDialog dialog);
  // Appends the dialogs of a script; false with *error when it does not
  // parse (nothing is appended then).
  bool enqueueScript(std::string_view utf8, std::string* error);
  // Appends the script in a file: a regular file of at most kMaxScriptBytes
  // (a FIFO or device is refused unread).
  bool enqueueScriptFile(const std::string& osPath, std::string* error);
  // Appends one JSON line per dialog shown (its number, outcome, and for 201
  // the text and the asking site) to this file, so a test in another process
  // can read what the user was shown.
  void setLogFile(std::string osPath);
  size_t pending() const;
  std::vector<TranscriptEntry> transcript() const;

  DialogResult run(const DialogRequest& request) override;
  DialogOutcome confirmRootAddition(const RootAddition& root) override;

 private:
  const std::shared_ptr<DialogPlatform> platform_;
  mutable std::mutex mutex_;
  std::deque<ScriptedDialog> queue_;
  std::vector<TranscriptEntry> transcript_;
  std::string logPath_;
};

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_SCRIPTED_DIALOG_HOST_H_
