#include "dialogs/dialog_host.h"

namespace quorvant {

bool IsFileDialog(DialogId id) {
  return id == DialogId::kPfxFile || id == DialogId::kChangePassword ||
         id == DialogId::kExportPfx || id == DialogId::kMobilePfx;
}

std::optional<DialogId> DialogIdFromNumber(int64_t number) {
  switch (number) {
    case 0:
    case 201:
    case 202:
    case 203:
    case 204:
    case 205:
    case 206:
    case 207:
      return static_cast<DialogId>(number);
    default:
      return std::nullopt;
  }
}

DialogOutcome DialogHost::openFile(const OpenFileRequest&, std::string* path) {
  path->clear();
  return DialogOutcome::kCannotCreate;
}

DialogOutcome DialogHost::fileDialog(const FileDialogRequest&, FileDialogValues*) {
  return DialogOutcome::kCannotCreate;
}

DialogOutcome DialogHost::chooseCertificate(const std::vector<CertificateRow>&, int32_t*) {
  return DialogOutcome::kCannotCreate;
}

DialogOutcome DialogHost::askExportPassword(std::string*) { return DialogOutcome::kCannotCreate; }

DialogOutcome DialogHost::confirmSigning(const SignConfirmation&) {
  return DialogOutcome::kCannotCreate;
}

DialogOutcome DialogHost::confirmRootAddition(const RootAddition&) {
  return DialogOutcome::kCannotCreate;
}

DialogOutcome DialogHost::confirmSiteRequest(const std::u16string&, const std::u16string&) {
  return DialogOutcome::kCannotCreate;
}

namespace {

// Every dialog answers "cannot be created": the base class's answers.
class NoDialogHost final : public DialogHost {};

}  // namespace

std::shared_ptr<DialogHost> MakeNoDialogHost() { return std::make_shared<NoDialogHost>(); }

}  // namespace quorvant
