#include <stdlib.h>

#include <mutex>

#include "dialogs/dialog_host.h"
#include "dialogs/helper_dialog_host.h"
#include "dialogs/scripted_dialog_host.h"

namespace quorvant {
namespace {

bool HasDisplay(const EnvLookup& env) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    std::optional<std::string> value = env(name);
    if (value && !value->empty()) return true;
  }
  return false;
}

// One scripted host per script file and process: the engines of a process
// (theEngine, each control instance) share one user and one script.
std::shared_ptr<DialogHost> SharedScriptedHost(const std::string& scriptPath,
                                               const std::string& logPath) {
  static std::mutex mutex;
  static std::string cachedPath;
  static std::shared_ptr<ScriptedDialogHost> cached;
  std::lock_guard<std::mutex> lock(mutex);
  if (cached && cachedPath == scriptPath) return cached;
  LinuxDialogPlatformOptions platform;
  platform.launchOpener = false;  // unattended: nobody looks at a viewer
  auto host = std::make_shared<ScriptedDialogHost>(MakeLinuxDialogPlatform(platform));
  // A script that cannot be read or parsed plays no dialog at all: every
  // dialog then cannot be created, which the operations report.
  if (!scriptPath.empty()) host->enqueueScriptFile(scriptPath, nullptr);
  if (!logPath.empty()) host->setLogFile(logPath);
  cached = host;
  cachedPath = scriptPath;
  return host;
}

}  // namespace

std::shared_ptr<DialogHost> MakeConfiguredDialogHost(const EnvLookup& env) {
  const std::string kind = env("QUORVANT_DIALOGS").value_or("");
  if (kind == "scripted") {
    return SharedScriptedHost(env("QUORVANT_DIALOG_SCRIPT").value_or(""),
                              env("QUORVANT_DIALOG_LOG").value_or(""));
  }
  if (kind == "gtk" || kind == "auto" || kind.empty()) {
    HelperDialogOptions options;
    options.helperPath = FindDialogHelper(env);
    // Chosen outright, the helper itself reports a missing display (the
    // dialogs then cannot be created); by default no display means none.
    if (kind == "gtk" || (!options.helperPath.empty() && HasDisplay(env))) {
      return std::make_shared<HelperDialogHost>(options);
    }
  }
  return MakeNoDialogHost();
}

}  // namespace quorvant
