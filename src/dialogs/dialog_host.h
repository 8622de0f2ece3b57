// The dialog host: every dialog an operation shows goes through it, so the
// engine never talks to a GUI toolkit itself. A host answers OK with the
// values the user gave, Cancel, or that the dialog cannot be created at all.
#ifndef QUORVANT_DIALOGS_DIALOG_HOST_H_
#define QUORVANT_DIALOGS_DIALOG_HOST_H_

#include <memory>
#include <string>

namespace quorvant {

enum class DialogOutcome { kOk, kCancel, kCannotCreate };

// The platform's open-file dialog. Texts are narrow, in the component's
// code page; the filter is in the "Name|pattern|Name|pattern||" form.
struct OpenFileRequest {
  std::string title;
  std::string filter;
  std::string defaultExtension;
  bool hideReadOnly = true;
  bool validateName = false;
};

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // On kOk, *path holds the chosen full path.
  virtual DialogOutcome openFile(const OpenFileRequest& request, std::string* path) = 0;
};

// The host for processes where no dialog can be shown.
std::shared_ptr<DialogHost> MakeNoDialogHost();

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_DIALOG_HOST_H_
