// What the dialog rules need from the system: file checks, the writability
// probe of the export dialog, the temporary certificate file and the
// desktop's "open" action. Paths are narrow code-page text; the Linux
// implementation hands them to the OS as UTF-8. Tests inject their own.
#ifndef QUORVANT_DIALOGS_DIALOG_PLATFORM_H_
#define QUORVANT_DIALOGS_DIALOG_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvant {

enum class ProbeResult {
  kWritable,
  kNotWritable,
  kProbeNotRemoved,  // created and written, but could not be removed again
};

class DialogPlatform {
 public:
  virtual ~DialogPlatform() = default;
  // True when `path` names an existing file (a directory is no file).
  virtual bool fileExists(const std::string& path) = 0;
  virtual bool directoryExists(const std::string& path) = 0;
  // Creates one directory level; false when that fails (also when something
  // of that name exists).
  virtual bool createDirectory(const std::string& path) = 0;
  // Whether the file `path` can be created and written, leaving everything as
  // it was: an existing file of that name is never changed.
  virtual ProbeResult probeWritable(const std::string& path) = 0;
  // Writes `der` to "temp.cer" in the user's temporary directory, replacing
  // an older one; *path gets the file's path. False when that fails.
  virtual bool writeTemporaryCertificate(const std::vector<uint8_t>& der, std::string* path) = 0;
  // Opens the file with the desktop's handler for its type and returns at
  // once; false when the opener cannot be started.
  virtual bool openWithDesktop(const std::string& path) = 0;
};

struct LinuxDialogPlatformOptions {
  // When false, openWithDesktop starts nothing and reports success: for
  // unattended runs, where nobody would look at a certificate viewer.
  bool launchOpener = true;
};
std::shared_ptr<DialogPlatform> MakeLinuxDialogPlatform(LinuxDialogPlatformOptions options = {});

// The user's temporary directory as an OS path: $TMPDIR when it is an
// absolute path, else /tmp; without a trailing "/" (unless it is "/").
std::string TemporaryDirectory();

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_DIALOG_PLATFORM_H_
