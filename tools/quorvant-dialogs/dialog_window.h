// The GTK front end of the dialogs: one window per run of the helper, bound
// to the dialog's model (src/dialogs/dialog_models.h), which decides every
// rule; this file only shows the model and passes the user's actions on.
#ifndef QUORVANT_TOOLS_QUORVANT_DIALOGS_DIALOG_WINDOW_H_
#define QUORVANT_TOOLS_QUORVANT_DIALOGS_DIALOG_WINDOW_H_

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialog_models.h"
#include "dialogs/dialog_platform.h"
#include "dialogs/dialog_script.h"
#include "dialogs/model_dialog_host.h"

namespace quorvant {

struct PasswordEntry {
  PasswordField field = PasswordField::kPassword;
  GtkWidget* entry = nullptr;
  size_t limit = kUnlimitedEdit;
  struct DialogWindow* window = nullptr;
};

struct DialogWindow {
  DialogRequest request;
  std::shared_ptr<DialogPlatform> platform;

  // The model of the dialog shown (exactly one is set).
  std::unique_ptr<FileDialogModel> file;
  std::unique_ptr<CertificateListModel> list;
  std::unique_ptr<ExportPasswordModel> password;
  std::unique_ptr<SignConfirmationModel> sign;
  std::unique_ptr<OpenFileModel> picker;

  GtkWidget* window = nullptr;
  GtkWidget* okButton = nullptr;
  GtkWidget* cancelButton = nullptr;
  GtkWidget* browseButton = nullptr;
  GtkWidget* viewButton = nullptr;
  GtkWidget* pathView = nullptr;  // 302 of the file dialogs (a GtkLabel)
  GtkWidget* tree = nullptr;      // 204
  std::vector<std::unique_ptr<PasswordEntry>> entries;

  // The windows on top of the dialog while they are open.
  GtkWidget* chooser = nullptr;  // the browse button's picker
  GtkWidget* messageBox = nullptr;
  GMainLoop* messageLoop = nullptr;

  // Test mode: a path the driver picked that the picker did not take up in
  // time (it loads folders asynchronously); used instead of its selection.
  std::optional<std::string> pickOverride;

  DialogResult result;
  bool finished = false;

  // Called once when the dialog is on screen.
  std::function<void()> onShown;
};

// Builds the window for window->request (models included) and shows it.
void ShowDialogWindow(DialogWindow* window);

// Actions a person (or the test driver) takes.
PasswordEntry* FindEntry(DialogWindow* window, PasswordField field);
// Runs the browse button's picker (nested, modal); returns when it closes.
void RunBrowsePicker(DialogWindow* window);
// Cancel, the close button or Escape.
void CancelDialog(DialogWindow* window);
// Closes the open message box.
void DismissMessage(DialogWindow* window);
// The window on top: a message box, the picker, or the dialog.
GtkWidget* TopWindow(DialogWindow* window);
// The 204 list's selection into the model.
void SyncSelection(DialogWindow* window);

// UTF-8 for GTK from narrow code-page text, and back.
std::string Utf8(const std::string& narrow);
std::string NarrowFromUtf8(const char* utf8);

}  // namespace quorvant

#endif  // QUORVANT_TOOLS_QUORVANT_DIALOGS_DIALOG_WINDOW_H_
