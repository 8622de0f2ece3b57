// What the host needs of the component, behind one small interface: the
// control's methods, and the questions and policy values the host itself
// reads. The production one loads the library from its installed path;
// tests use a stand-in.
#ifndef QUORVANT_BRIDGE_COMPONENT_H_
#define QUORVANT_BRIDGE_COMPONENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "message.h"
#include "method_table.h"

namespace quorvant::bridge {

struct CallResult {
  bool text = false;
  std::u16string textValue;
  int32_t intValue = 0;
};

class Component {
 public:
  virtual ~Component() = default;
  // Calls the control's method with arguments already typed by its table.
  virtual CallResult call(const MethodInfo& method, const std::vector<Argument>& args) = 0;
  // The user's answer through the component's dialogs: 0 for yes, else the
  // refusal's code.
  virtual int32_t confirmSite(const std::u16string& origin, const std::u16string& question) = 0;
  virtual int32_t confirmSigning(const std::u16string& origin, const std::u16string& content,
                                 const std::u16string& serial, const std::u16string& commonName,
                                 const std::u16string& notBefore,
                                 const std::u16string& notAfter) = 0;
  // A policy value ("key\\path\\valueName") as text, empty when absent.
  virtual std::u16string readPolicy(bool machine, const std::u16string& name) = 0;
  virtual void rememberPolicy(const std::u16string& name, int32_t value) = 0;
};

// The library next to the host's own installation: <exe dir>/../lib.
std::string InstalledLibraryPath();

// Loads the library at `path` (never searched for) and makes the control of
// this connection. Null with *error when it cannot be loaded.
std::unique_ptr<Component> LoadComponent(const std::string& path, std::string* error);

}  // namespace quorvant::bridge

#endif  // QUORVANT_BRIDGE_COMPONENT_H_
