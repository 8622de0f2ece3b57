#include "bridge_command.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "base/result_codes.h"
#include "caller.h"
#include "results.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant bridge install [--user|--system] [--dir DIR] [--host PATH]\n"
               "  --user    the current user's Chromium, Google Chrome and Firefox (default)\n"
               "  --system  every user's, under /etc and /usr/lib (as root)\n"
               "  --dir     only a Chromium-style manifest in DIR (a test profile's\n"
               "            NativeMessagingHosts)\n");
  return kExitUsage;
}

int Result(int32_t code) {
  std::printf("result: %d %s\n", code, ResultMessage(code).c_str());
  return code == 0 ? 0 : 1;
}

// The host installed beside this tool.
std::string HostBesideTool() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  std::string path(self, static_cast<size_t>(n));
  path.resize(path.rfind('/') + 1);
  return path + "quorvant-bridge";
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (static_cast<unsigned char>(c) < 0x20) continue;
    out.push_back(c);
  }
  return out + "\"";
}

std::string Manifest(const std::string& host, bool firefox) {
  std::string out = "{\n  \"name\": " + JsonText(std::string(bridge::kHostName)) +
                    ",\n  \"description\": \"QuorvantATL certificate component for web pages\"" +
                    ",\n  \"path\": " + JsonText(host) + ",\n  \"type\": \"stdio\",\n";
  if (firefox) {
    out += "  \"allowed_extensions\": [" + JsonText(std::string(bridge::kFirefoxExtensionId)) +
           "]\n}\n";
  } else {
    out += "  \"allowed_origins\": [" +
           JsonText(std::string(bridge::kChromeExtensionOrigin)) + "]\n}\n";
  }
  return out;
}

// mkdir -p, each new directory with `mode`.
bool MakeDirectories(const std::string& path, mode_t mode) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = path.find('/', slash + 1);
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Written whole to a temporary file beside it, then renamed over the old one.
bool WriteManifest(const std::string& dir, const std::string& text, mode_t dirMode) {
  if (!MakeDirectories(dir, dirMode)) return false;
  const std::string path = dir + "/" + std::string(bridge::kHostName) + ".json";
  const std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "w");
  if (f == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || ::chmod(temp.c_str(), 0644) != 0 ||
      std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  std::printf("wrote %s\n", path.c_str());
  return true;
}

}  // namespace

int BridgeCommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "install") return Usage();
  bool system = false;
  std::string dir;
  std::string host = HostBesideTool();
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--user") system = false;
    else if (args[i] == "--system") system = true;
    else if (args[i] == "--dir" && i + 1 < args.size()) dir = args[++i];
    else if (args[i] == "--host" && i + 1 < args.size()) host = args[++i];
    else return Usage();
  }
  // The browser starts the host by this path: it must be absolute.
  if (host.empty() || host.front() != '/') return Result(rc::kBadArgument);
  const std::string chromium = Manifest(host, false);
  const std::string firefox = Manifest(host, true);

  struct Target {
    std::string dir;
    bool firefox;
  };
  std::vector<Target> targets;
  if (!dir.empty()) {
    targets.push_back({dir, false});
  } else if (system) {
    targets = {{"/etc/chromium/native-messaging-hosts", false},
               {"/etc/opt/chrome/native-messaging-hosts", false},
               {"/usr/lib/mozilla/native-messaging-hosts", true}};
  } else {
    const char* home = ::secure_getenv("HOME");
    if (home == nullptr || *home != '/') return Result(rc::kPathNotFound);
    const char* xdg = ::secure_getenv("XDG_CONFIG_HOME");
    const std::string config = (xdg != nullptr && *xdg == '/') ? xdg : std::string(home) + "/.config";
    targets = {{config + "/chromium/NativeMessagingHosts", false},
               {config + "/google-chrome/NativeMessagingHosts", false},
               {std::string(home) + "/.mozilla/native-messaging-hosts", true}};
  }
  for (const Target& t : targets) {
    if (!WriteManifest(t.dir, t.firefox ? firefox : chromium, system ? 0755 : 0700)) {
      std::fprintf(stderr, "quorvant: cannot write the manifest in %s\n", t.dir.c_str());
      return Result(rc::kFileUnwritable);
    }
  }
  return Result(rc::kSuccess);
}

}  // namespace quorvant::cli
