// A host that shows every dialog through one request/result pair: the
// scripted host plays the request against the dialog models in-process, the
// helper host sends it to the quorvant-dialogs program. The typed DialogHost
// calls are packed here once.
#ifndef QUORVANT_DIALOGS_MODEL_DIALOG_HOST_H_
#define QUORVANT_DIALOGS_MODEL_DIALOG_HOST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/dialog_host.h"

namespace quorvant {

struct DialogRequest {
  DialogId id = DialogId::kPfxFile;
  FileDialogRequest file;             // 202, 203, 206, 207 (file.id == id)
  std::vector<CertificateRow> rows;   // 204
  SignConfirmation signing;           // 201
  OpenFileRequest openFile;           // the open-file picker
};

struct DialogResult {
  DialogOutcome outcome = DialogOutcome::kCannotCreate;
  FileDialogValues values;  // 202, 203, 206, 207; 205's password
  int32_t index = 0;        // 204, within the rows on kOk
  std::string path;         // the open-file picker
  // What the user was told (message boxes) and what the host noticed about
  // the run (refused actions of a script, a helper that failed): for tests
  // and diagnostics only.
  std::vector<std::string> messages;
  std::vector<std::string> notes;
};

class ModelDialogHost : public DialogHost {
 public:
  DialogOutcome openFile(const OpenFileRequest& request, std::string* path) override;
  DialogOutcome fileDialog(const FileDialogRequest& request, FileDialogValues* values) override;
  DialogOutcome chooseCertificate(const std::vector<CertificateRow>& rows,
                                  int32_t* index) override;
  DialogOutcome askExportPassword(std::string* password) override;
  DialogOutcome confirmSigning(const SignConfirmation& details) override;
  DialogOutcome confirmSiteRequest(const std::u16string& origin,
                                   const std::u16string& question) override;

  // Shows one dialog and waits until it is closed. Implementations return a
  // result whose kOk values fit the request (an index within the rows).
  virtual DialogResult run(const DialogRequest& request) = 0;
};

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_MODEL_DIALOG_HOST_H_
