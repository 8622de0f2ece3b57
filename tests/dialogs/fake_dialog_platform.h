// A DialogPlatform whose file system is a few sets, and which records what
// the dialogs asked of it.
#ifndef QUORVANT_TESTS_DIALOGS_FAKE_DIALOG_PLATFORM_H_
#define QUORVANT_TESTS_DIALOGS_FAKE_DIALOG_PLATFORM_H_

#include <set>
#include <string>
#include <vector>

#include "dialogs/dialog_platform.h"

namespace quorvant {

class FakeDialogPlatform final : public DialogPlatform {
 public:
  std::set<std::string> files;
  std::set<std::string> directories;
  bool canCreateDirectories = true;
  ProbeResult probeResult = ProbeResult::kWritable;
  bool canWriteTemporary = true;
  bool canOpen = true;

  std::vector<std::string> created;
  std::vector<std::string> probed;
  std::vector<std::vector<uint8_t>> written;
  std::vector<std::string> opened;

  bool fileExists(const std::string& path) override { return files.count(path) != 0; }
  bool directoryExists(const std::string& path) override {
    return directories.count(path) != 0;
  }
  bool createDirectory(const std::string& path) override {
    created.push_back(path);
    if (!canCreateDirectories || path.empty() || files.count(path) || directories.count(path)) {
      return false;
    }
    directories.insert(path);
    return true;
  }
  ProbeResult probeWritable(const std::string& path) override {
    probed.push_back(path);
    return probeResult;
  }
  bool writeTemporaryCertificate(const std::vector<uint8_t>& der, std::string* path) override {
    if (!canWriteTemporary) return false;
    written.push_back(der);
    *path = "/tmp/temp.cer";
    return true;
  }
  bool openWithDesktop(const std::string& path) override {
    opened.push_back(path);
    return canOpen;
  }
};

}  // namespace quorvant

#endif  // QUORVANT_TESTS_DIALOGS_FAKE_DIALOG_PLATFORM_H_
