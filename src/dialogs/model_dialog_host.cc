#include "dialogs/model_dialog_host.h"

namespace quorvant {

DialogOutcome ModelDialogHost::openFile(const OpenFileRequest& request, std::string* path) {
  DialogRequest dialog;
  dialog.id = DialogId::kOpenFile;
  dialog.openFile = request;
  DialogResult result = run(dialog);
  path->clear();
  if (result.outcome == DialogOutcome::kOk) *path = std::move(result.path);
  return result.outcome;
}

DialogOutcome ModelDialogHost::fileDialog(const FileDialogRequest& request,
                                          FileDialogValues* values) {
  if (!IsFileDialog(request.id)) return DialogOutcome::kCannotCreate;
  DialogRequest dialog;
  dialog.id = request.id;
  dialog.file = request;
  DialogResult result = run(dialog);
  if (result.outcome != DialogOutcome::kCannotCreate) *values = std::move(result.values);
  return result.outcome;
}

// The chooser's OK always yields a row (the first when none is selected), so
// an empty list has nothing to return: it is not shown at all.
DialogOutcome ModelDialogHost::chooseCertificate(const std::vector<CertificateRow>& rows,
                                                 int32_t* index) {
  if (rows.empty()) return DialogOutcome::kCannotCreate;
  DialogRequest dialog;
  dialog.id = DialogId::kCertificateList;
  dialog.rows = rows;
  DialogResult result = run(dialog);
  if (result.outcome == DialogOutcome::kOk) {
    if (result.index < 0 || static_cast<size_t>(result.index) >= rows.size()) {
      return DialogOutcome::kCancel;
    }
    *index = result.index;
  }
  return result.outcome;
}

DialogOutcome ModelDialogHost::askExportPassword(std::string* password) {
  DialogRequest dialog;
  dialog.id = DialogId::kExportPassword;
  DialogResult result = run(dialog);
  if (result.outcome != DialogOutcome::kCannotCreate) *password = std::move(result.values.password);
  return result.outcome;
}

DialogOutcome ModelDialogHost::confirmSigning(const SignConfirmation& details) {
  DialogRequest dialog;
  dialog.id = DialogId::kSignConfirmation;
  dialog.signing = details;
  return run(dialog).outcome;
}

DialogOutcome ModelDialogHost::confirmSiteRequest(const std::u16string& origin,
                                                  const std::u16string& question) {
  SignConfirmation details;
  details.content = question;
  details.origin = origin;
  return confirmSigning(details);
}

}  // namespace quorvant
