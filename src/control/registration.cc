#include "control/registration.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <vector>

#include "encoding/code_page.h"
#include "host/registry/registry_names.h"

namespace quorvant::control {
namespace {

constexpr char kClsid[] = "{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}";
constexpr char kLibid[] = "{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}";
constexpr char kIid[] = "{9B7E3C14-2F68-4A01-8D5C-E4D20A7B5F19}";
constexpr char kProgId[] = "QuorvantATL.ZEBCapi.1";
constexpr char kVersionIndependentProgId[] = "QuorvantATL.ZEBCapi";
constexpr char kClassName[] = "QuorvantATL CAPI 4.2 Class";
constexpr char kTypeLibName[] = "QuorvantATL CAPI 4.2 Type Library";
constexpr char kInterfaceName[] = "IZEBCapi";
// Controls compatible with app containers, the browser's enhanced protected
// mode: the one category the control implements.
constexpr char kAppContainerCategory[] = "{59FB2056-D625-48D0-A944-1A85B5AB2640}";
// The automation marshaller, proxy of every dual interface.
constexpr char kAutomationProxy[] = "{00020424-0000-0000-C000-000000000046}";
// OLEMISC_SETCLIENTSITEFIRST | ACTIVATEWHENVISIBLE | INSIDEOUT |
// CANTLINKINSIDE | RECOMPOSEONRESIZE.
constexpr char kMiscStatus[] = "131473";

RegRoot RootOf(RegistrationSide side) {
  return side == RegistrationSide::kMachine ? RegRoot::kLocalMachine : RegRoot::kCurrentUser;
}

// Built by appending: GCC 12 at -O3 reports a false overlap in
// `"literal" + std::string(...)` (GCC bug 105329).
std::string Classes(std::string_view below) {
  std::string key = "Software\\Classes\\";
  key.append(below);
  return key;
}

std::string ClassKey(std::string_view below = {}) {
  std::string key = Classes("CLSID\\");
  key.append(kClsid);
  if (!below.empty()) {
    key += '\\';
    key.append(below);
  }
  return key;
}

std::vector<uint8_t> StringData(std::string_view utf8) {
  std::vector<uint8_t> data;
  for (char16_t c : WideFromUtf8(utf8)) {
    data.push_back(static_cast<uint8_t>(c & 0xFF));
    data.push_back(static_cast<uint8_t>(c >> 8));
  }
  data.insert(data.end(), {0, 0});  // stored with its terminator, as the registrar does
  return data;
}

std::string StringFromData(const RegValue& value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  return Utf8FromWide(text);
}

// A key with its values and subkeys, as it was before a ForceRemove.
struct NamedSnapshot;
struct KeySnapshot {
  std::vector<std::pair<std::string, RegValue>> values;
  std::vector<NamedSnapshot> subkeys;
};
struct NamedSnapshot {
  std::string name;
  KeySnapshot key;
};

uint32_t Snapshot(Registry& registry, RegRoot root, const std::string& path, KeySnapshot* out) {
  std::string name;
  RegValue value;
  uint32_t e = 0;
  for (uint32_t i = 0; (e = registry.enumValue(root, path, i, &name, &value)) == 0; ++i) {
    out->values.emplace_back(name, value);
  }
  if (e != reg::kErrNoMoreItems) return e;
  for (uint32_t i = 0; (e = registry.enumSubkey(root, path, i, &name)) == 0; ++i) {
    out->subkeys.push_back(NamedSnapshot{name, KeySnapshot()});
  }
  if (e != reg::kErrNoMoreItems) return e;
  for (NamedSnapshot& child : out->subkeys) {
    if ((e = Snapshot(registry, root, path + "\\" + child.name, &child.key)) != 0) return e;
  }
  return 0;
}

void Restore(Registry& registry, RegRoot root, const std::string& path,
             const KeySnapshot& snapshot) {
  (void)registry.createKey(root, path);
  for (const auto& [name, value] : snapshot.values) {
    (void)registry.setValue(root, path, name, value.type, value.data);
  }
  for (const NamedSnapshot& child : snapshot.subkeys) {
    Restore(registry, root, path + "\\" + child.name, child.key);
  }
}

// Writes keys and values, remembering how to undo each change, so that a
// failed registration leaves the store as it found it.
class JournaledWriter {
 public:
  JournaledWriter(Registry& registryIn, RegRoot rootIn) : registry(registryIn), root(rootIn) {}
  ~JournaledWriter() {
    if (!committed) {
      for (auto undo = journal.rbegin(); undo != journal.rend(); ++undo) (*undo)();
    }
  }

  void commit() { committed = true; }

  // Creates the key; the highest level that did not exist is removed again
  // with everything below it.
  uint32_t createKey(const std::string& path) {
    size_t end = 0;
    while (end != std::string::npos) {
      end = path.find('\\', end + 1);
      const std::string level = path.substr(0, end);
      const uint32_t e = registry.keyExists(root, level);
      if (e == reg::kErrFileNotFound) {
        journal.push_back([this, level] { (void)registry.deleteTree(root, level); });
        break;
      }
      if (e != 0) return e;
    }
    return registry.createKey(root, path);
  }

  // Sets a string value on the key, creating the key.
  uint32_t setString(const std::string& path, const std::string& name, std::string_view text) {
    if (uint32_t e = createKey(path)) return e;
    RegValue old;
    const uint32_t found = registry.queryValue(root, path, name, &old);
    if (found == 0) {
      journal.push_back([this, path, name, old] {
        (void)registry.setValue(root, path, name, old.type, old.data);
      });
    } else if (found == reg::kErrFileNotFound) {
      journal.push_back([this, path, name] { (void)registry.deleteValue(root, path, name); });
    } else {
      return found;
    }
    return registry.setValue(root, path, name, reg::kSz, StringData(text));
  }

  // ForceRemove: the key goes with everything below it before it is
  // written again.
  uint32_t removeTree(const std::string& path) {
    const uint32_t exists = registry.keyExists(root, path);
    if (exists == reg::kErrFileNotFound) return 0;
    if (exists != 0) return exists;
    auto snapshot = std::make_shared<KeySnapshot>();
    if (uint32_t e = Snapshot(registry, root, path, snapshot.get())) return e;
    journal.push_back([this, path, snapshot] {
      (void)registry.deleteTree(root, path);
      Restore(registry, root, path, *snapshot);
    });
    return registry.deleteTree(root, path);
  }

 private:
  Registry& registry;
  const RegRoot root;
  std::vector<std::function<void()>> journal;
  bool committed = false;
};

std::string DirectoryOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? "." : path.substr(0, slash));
}

}  // namespace

uint32_t RegisterControl(Registry& registry, RegistrationSide side, std::string_view modulePath) {
  JournaledWriter w(registry, RootOf(side));
  const std::string module(modulePath);
  const std::string typeLib = Classes(std::string("TypeLib\\") + kLibid + "\\1.0");
  const std::string iface = Classes(std::string("Interface\\") + kIid);
  // In the order the registration script lists them; ForceRemove keys are
  // emptied before they are written.
  const std::function<uint32_t()> steps[] = {
      [&] { return w.setString(Classes(kProgId), "", kClassName); },
      [&] { return w.setString(Classes(std::string(kProgId) + "\\CLSID"), "", kClsid); },
      [&] { return w.setString(Classes(kVersionIndependentProgId), "", kClassName); },
      [&] {
        return w.setString(Classes(std::string(kVersionIndependentProgId) + "\\CLSID"), "",
                           kClsid);
      },
      [&] {
        return w.setString(Classes(std::string(kVersionIndependentProgId) + "\\CurVer"), "",
                           kProgId);
      },
      [&] { return w.removeTree(ClassKey()); },
      [&] { return w.setString(ClassKey(), "", kClassName); },
      [&] { return w.setString(ClassKey("ProgID"), "", kProgId); },
      [&] {
        return w.setString(ClassKey("VersionIndependentProgID"), "", kVersionIndependentProgId);
      },
      [&] { return w.createKey(ClassKey("Programmable")); },
      [&] { return w.setString(ClassKey("InprocServer32"), "", module); },
      [&] { return w.setString(ClassKey("InprocServer32"), "ThreadingModel", "Apartment"); },
      [&] { return w.createKey(ClassKey("Control")); },
      [&] { return w.createKey(ClassKey("Insertable")); },
      [&] { return w.setString(ClassKey("ToolboxBitmap32"), "", module + ", 102"); },
      [&] { return w.setString(ClassKey("MiscStatus"), "", "0"); },
      [&] { return w.setString(ClassKey("MiscStatus\\1"), "", kMiscStatus); },
      [&] { return w.setString(ClassKey("TypeLib"), "", kLibid); },
      [&] { return w.setString(ClassKey("Version"), "", "1.0"); },
      [&] {
        return w.createKey(ClassKey(std::string("Implemented Categories\\") +
                                    kAppContainerCategory));
      },
      // The type library, which lives in the module itself (locale 0x409,
      // 64-bit), and its dual interface, marshalled by automation.
      [&] { return w.setString(typeLib, "", kTypeLibName); },
      [&] { return w.setString(typeLib + "\\FLAGS", "", "0"); },
      [&] { return w.setString(typeLib + "\\409\\win64", "", module); },
      [&] { return w.setString(typeLib + "\\HELPDIR", "", DirectoryOf(module)); },
      [&] { return w.setString(iface, "", kInterfaceName); },
      [&] { return w.setString(iface + "\\ProxyStubClsid", "", kAutomationProxy); },
      [&] { return w.setString(iface + "\\ProxyStubClsid32", "", kAutomationProxy); },
      [&] { return w.setString(iface + "\\TypeLib", "", kLibid); },
      [&] { return w.setString(iface + "\\TypeLib", "Version", "1.0"); },
  };
  for (const auto& step : steps) {
    if (uint32_t e = step()) return e;  // the writer puts everything back
  }
  w.commit();
  return 0;
}

uint32_t UnregisterControl(Registry& registry, RegistrationSide side) {
  const RegRoot root = RootOf(side);
  uint32_t first = 0;
  auto note = [&](uint32_t e) {
    if (e != 0 && e != reg::kErrFileNotFound && first == 0) first = e;
  };
  // A ProgID another registration has taken over is that one's to remove.
  for (const char* progId : {kProgId, kVersionIndependentProgId}) {
    RegValue value;
    const uint32_t e = registry.queryValue(root, Classes(std::string(progId) + "\\CLSID"), "",
                                           &value);
    note(e);
    if (e == 0 && value.type == reg::kSz &&
        FoldName(StringFromData(value)) == FoldName(kClsid)) {
      note(registry.deleteTree(root, Classes(progId)));
    }
  }
  note(registry.deleteTree(root, ClassKey()));
  note(registry.deleteTree(root, Classes(std::string("TypeLib\\") + kLibid + "\\1.0")));
  // The library's key goes when no other version is left in it.
  const std::string libraryKey = Classes(std::string("TypeLib\\") + kLibid);
  std::string other;
  const uint32_t versions = registry.enumSubkey(root, libraryKey, 0, &other);
  if (versions == reg::kErrNoMoreItems) {
    note(registry.deleteKey(root, libraryKey));
  } else if (versions != 0) {
    note(versions);
  }
  note(registry.deleteTree(root, Classes(std::string("Interface\\") + kIid)));
  return first;
}

std::optional<std::string> ThisModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ThisModulePath), &info) == 0 ||
      info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    return std::nullopt;
  }
  const std::string loaded = info.dli_fname;
  const size_t slash = loaded.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : loaded.substr(0, slash);
  const std::string file = slash == std::string::npos ? loaded : loaded.substr(slash + 1);
  char resolved[PATH_MAX];
  if (realpath(directory.empty() ? "/" : directory.c_str(), resolved) == nullptr) {
    return std::nullopt;
  }
  std::string path = resolved;
  if (path != "/") path += "/";
  return path + file;
}

}  // namespace quorvant::control
