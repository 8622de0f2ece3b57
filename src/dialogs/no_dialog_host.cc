#include "dialogs/dialog_host.h"

namespace quorvant {
namespace {

class NoDialogHost final : public DialogHost {
 public:
  DialogOutcome openFile(const OpenFileRequest&, std::string* path) override {
    path->clear();
    return DialogOutcome::kCannotCreate;
  }
};

}  // namespace

std::shared_ptr<DialogHost> MakeNoDialogHost() { return std::make_shared<NoDialogHost>(); }

}  // namespace quorvant
