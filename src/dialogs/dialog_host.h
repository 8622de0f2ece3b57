// The dialog host: every dialog an operation shows goes through it, so the
// engine never talks to a GUI toolkit itself. A host answers OK with the
// values the user gave, Cancel, or that the dialog cannot be created at all;
// callers turn Cancel into 5070 and "cannot be created" into 5002 (or their
// own code).
//
// Hosts:
//   - none (MakeNoDialogHost): no dialog can be shown;
//   - scripted (scripted_dialog_host.h): a script plays the user, through the
//     same dialog rules a person meets;
//   - helper (helper_dialog_host.h): the real GTK dialogs, shown by the
//     quorvant-dialogs program that the library starts for each dialog, so no
//     GUI toolkit is ever loaded into the caller's process.
// MakeConfiguredDialogHost picks one from the environment.
//
// Texts are narrow, in the component's code page, like all text inside the
// engine; paths are narrow code-page paths (OsPathFromNarrow gives the name
// the OS wants). Every call blocks until the dialog is closed (modal from the
// caller's view).
#ifndef QUORVANT_DIALOGS_DIALOG_HOST_H_
#define QUORVANT_DIALOGS_DIALOG_HOST_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/environment.h"

namespace quorvant {

enum class DialogOutcome { kOk, kCancel, kCannotCreate };

// The dialogs, by the resource numbers of their templates. kOpenFile is the
// platform's open-file picker that HashFile shows.
enum class DialogId : int32_t {
  kOpenFile = 0,
  kSignConfirmation = 201,
  kPfxFile = 202,         // import, query, signer selection, envelope decryption
  kChangePassword = 203,  // ChangePfxPasswd(Ex)
  kCertificateList = 204,
  kExportPassword = 205,  // ExportMobileFromIE
  kExportPfx = 206,       // ExportPfxFromIE
  kMobilePfx = 207,       // ExportMobileFromPfx
  // The trust question before a root certificate is added to "ROOT"; it has
  // no resource of its own and only the scripted host answers it so far.
  kRootConfirmation = -1,
};

// True for 202, 203, 206 and 207, the dialogs that hold a PFX file's
// location and passwords.
bool IsFileDialog(DialogId id);
// The dialog for a resource number (0 for the open-file picker); empty for
// any other number.
std::optional<DialogId> DialogIdFromNumber(int64_t number);

// The platform's open-file dialog. The filter is in the
// "Name|pattern|Name|pattern||" form, patterns separated by ";".
struct OpenFileRequest {
  std::string title;
  std::string filter;
  std::string defaultExtension;
  bool hideReadOnly = true;
  bool validateName = false;
};

// The strings of dialogs 202, 203, 206 and 207 (205 uses `password` only).
// In: what the dialog shows first. Callers put "*.pfx" in an empty file name
// before showing 202, 203 and 207. Out on OK:
//   202, 206, 207: directory, fileName, password;
//   203: directory, fileName, oldPassword, newPassword, confirmation (the
//        dialog fills the confirmation with newPassword itself; comparing the
//        two is the caller's job, 5209);
//   205: password.
// On Cancel the strings the dialog empties are empty (202, 206, 207:
// directory and passwords; 203: all; 205: the password).
struct FileDialogValues {
  std::string directory;
  std::string fileName;
  std::string password;
  std::string oldPassword;
  std::string newPassword;
  std::string confirmation;
};

struct FileDialogRequest {
  DialogId id = DialogId::kPfxFile;  // 202, 203, 206 or 207
  FileDialogValues values;
  // The engine's passwordMinLength()/passwordMaxLength(); the dialog
  // normalises them as PresetPasswdLengthRange does.
  int32_t passwdMinLength = 0;
  int32_t passwdMaxLength = 16;
  // Replaces the dialog's caption when not empty.
  std::string title;
};

// One row of the certificate chooser (204), as the caller computed it from
// the certificate: the subject common name (or the whole subject when it has
// none), the serial number in upper-case hex, NotBefore and NotAfter as
// "%04d/%02d/%02d" in local time, the issuer common name (or the whole
// issuer); `der` is what "檢視憑證" writes to temp.cer.
struct CertificateRow {
  std::string subject;
  std::string serial;
  std::string notBefore;
  std::string notAfter;
  std::string issuer;
  std::vector<uint8_t> der;
};

// What the sign confirmation dialog (201) shows, all read-only.
struct SignConfirmation {
  std::u16string content;  // the text to be signed, as the caller gave it
  std::string serial;      // upper-case hex
  std::string commonName;
  std::string notBefore;  // "%04d%02d%02d%02d%02d%02d", local time
  std::string notAfter;
  // The web site that asked for the signature ("https://bank.example"), shown
  // beside the text; empty when a program on this machine asked. (Its
  // initializer keeps brace-initialisation of the five fields above valid.)
  std::u16string origin = {};
};

// A certificate authority about to be added to the user's trusted roots
// ("ROOT"), as the platform's own store asks before every such addition.
struct RootAddition {
  std::string subject;     // X.500 form
  std::string serial;      // upper-case hex
  std::string thumbprint;  // SHA-1, upper-case hex
  std::string notBefore;   // "%04d/%02d/%02d", local time
  std::string notAfter;
};

class DialogHost {
 public:
  virtual ~DialogHost() = default;

  // A host that does not implement a dialog answers kCannotCreate.

  // HashFile's picker. On kOk, *path holds the chosen full path.
  virtual DialogOutcome openFile(const OpenFileRequest& request, std::string* path);
  // 202, 203, 206, 207. *values as described at FileDialogValues; untouched
  // when the dialog cannot be created.
  virtual DialogOutcome fileDialog(const FileDialogRequest& request, FileDialogValues* values);
  // 204. On kOk, *index is the chosen row (0 when no row was selected). An
  // empty list cannot be shown.
  virtual DialogOutcome chooseCertificate(const std::vector<CertificateRow>& rows,
                                          int32_t* index);
  // 205, its own password range 0 to 16. On kOk, *password holds the
  // password; on Cancel it is empty.
  virtual DialogOutcome askExportPassword(std::string* password);
  // 201. kOk is the user's confirmation; anything else is a refusal.
  virtual DialogOutcome confirmSigning(const SignConfirmation& details);
  // The trust question before a root certificate is added. kOk is the
  // user's yes; callers add nothing on any other answer.
  virtual DialogOutcome confirmRootAddition(const RootAddition& root);
  // A question on behalf of a web site (may it use the component, may it
  // delete a certificate ...), shown as 201 with the question in place of the
  // signed text and the site beside it. kOk is the user's yes.
  virtual DialogOutcome confirmSiteRequest(const std::u16string& origin,
                                           const std::u16string& question);
};

// The host for processes where no dialog can be shown.
std::shared_ptr<DialogHost> MakeNoDialogHost();

// The host the configuration asks for:
//   QUORVANT_DIALOGS = none | scripted | gtk | auto. auto (also when unset or
//     empty) is gtk when a display is set (DISPLAY or WAYLAND_DISPLAY) and the
//     helper program is found, otherwise none; any other value means none;
//   QUORVANT_DIALOG_SCRIPT = the script file of the scripted host
//     (dialog_script.h), read once; the scripted host is shared by every
//     engine of the process, so one script plays one user across them;
//   QUORVANT_DIALOG_HELPER = the helper program, instead of the search of
//     FindDialogHelper (helper_dialog_host.h).
std::shared_ptr<DialogHost> MakeConfiguredDialogHost(
    const EnvLookup& env = ProcessEnvironment());

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_DIALOG_HOST_H_
