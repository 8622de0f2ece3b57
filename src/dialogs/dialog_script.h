// Dialog scripts: what a user types, picks and presses, dialog by dialog.
// The scripted host plays them against the dialog models; the GTK helper's
// test mode plays the same actions on the real widgets.
//
// A script is UTF-8 text, one statement a line; "#" starts a comment line.
//
//   dialog 202                 # the next dialog shown must be 202; its actions follow
//   type password "secret"     # select the edit's text and type (password,
//                              #   old-password, new-password, confirmation)
//   browse "/home/u/a.pfx"     # press the browse button, pick this, confirm
//   press ok                   # ok, cancel, browse (opens the picker), view
//   pick "/home/u/a.pfx"       # in an open picker (or the open-file dialog): pick, confirm
//   select 1                   # 204: select row 1 (from 0); "select none" clears it
//   dismiss                    # press OK in the message box on top
//   screenshot "/tmp/202.png"  # the window on top as PNG (GTK only)
//   wait 200                   # milliseconds (GTK only)
//
// `dialog open-file` is HashFile's picker; `dialog root` the trust question
// before a root certificate is added (press ok or press cancel). A string is a word without blanks
// or a double-quoted text with the escapes \" \\ \n \t.
#ifndef QUORVANT_DIALOGS_DIALOG_SCRIPT_H_
#define QUORVANT_DIALOGS_DIALOG_SCRIPT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/dialog_host.h"
#include "dialogs/dialog_models.h"

namespace quorvant {

struct ScriptAction {
  enum Kind {
    kType,
    kPressOk,
    kPressCancel,
    kPressBrowse,
    kPressView,
    kBrowse,
    kPick,
    kSelect,
    kSelectNone,
    kDismiss,
    kScreenshot,
    kWait,
  } kind = kPressCancel;
  PasswordField field = PasswordField::kPassword;  // kType
  std::string text;    // kType: the text; kBrowse, kPick, kScreenshot: a path (narrow)
  int64_t number = 0;  // kSelect: the row; kWait: milliseconds
};

struct ScriptedDialog {
  DialogId id = DialogId::kPfxFile;
  std::vector<ScriptAction> actions;
};

// Longest script, line and string accepted.
inline constexpr size_t kMaxScriptBytes = 4u << 20;
inline constexpr size_t kMaxScriptLine = 64u << 10;

// Parses a whole script (UTF-8; strings are converted to the code page).
// False with *error ("line N: ...") on the first bad statement; *out holds
// the dialogs parsed so far either way.
bool ParseDialogScript(std::string_view utf8, std::vector<ScriptedDialog>* out,
                       std::string* error);
// One action statement.
bool ParseScriptAction(std::string_view line, ScriptAction* out, std::string* error);
// The statement for an action, for notes (UTF-8); typed text is given by its
// length only.
std::string FormatScriptAction(const ScriptAction& action);

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_DIALOG_SCRIPT_H_
