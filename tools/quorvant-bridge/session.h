// One page's connection: the origin the browser reported, its approval, and
// the rules every request meets before it reaches the control. The rules
// live here, on the user's side of the browser, never in the page or the
// extension.
#ifndef QUORVANT_BRIDGE_SESSION_H_
#define QUORVANT_BRIDGE_SESSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "component.h"

namespace quorvant::bridge {

// Where the approvals live, under HKEY_CURRENT_USER (the user's answers) and
// HKEY_LOCAL_MACHINE (an administrator's list): a value 1 named by the
// origin approves it, 0 refuses it without asking.
inline constexpr std::u16string_view kOriginsKey = u"Software\\MORL\\QuorvantATL\\Bridge\\Origins";
// Each origin's own registry key: the registry operations of its pages reach
// nothing else.
inline constexpr std::u16string_view kSitesKey = u"Software\\MORL\\QuorvantATL\\Sites";

// An origin in the form the browser reports it ("https://bank.example",
// "http://127.0.0.1:8080"), that browsers treat as secure: https, or http on
// the loopback host. Lower case, no path, no user, no default port.
bool IsAcceptedOrigin(std::string_view origin);

// The registry name a page's name stands for, or nothing when the page
// names another tree (Software\..., HKEY_...) or an empty or dot component.
std::optional<std::u16string> ConfinedRegistryName(std::u16string_view origin,
                                                   std::u16string_view name);

// {"id": id, "error": error}, the answer to a request the host cannot take.
std::string ProtocolError(std::optional<int64_t> id, const std::string& error);

class Session {
 public:
  explicit Session(Component& component) : component_(component) {}
  // One message in, its reply out (one JSON object, UTF-8, never longer
  // than the browser accepts: a longer reply is answered with an error).
  std::string handle(std::string_view frame);
  bool approved() const { return approved_; }
  // The id of the last request handled, when it could be read.
  std::optional<int64_t> lastId() const { return lastId_; }

 private:
  std::string handleMessage(std::string_view frame);
  std::string connect(const std::string& origin);
  std::string refuse(int64_t id, int32_t code);

  Component& component_;
  std::string origin_;
  std::u16string origin16_;
  bool connected_ = false;
  bool approved_ = false;
  int32_t connectRefusal_ = 0;
  // The code the page reads next with GetErrorCode when the last word was the
  // host's (a refusal, or the connection itself) rather than the control's.
  std::optional<int32_t> hostCode_;
  std::optional<int64_t> lastId_;
};

}  // namespace quorvant::bridge

#endif  // QUORVANT_BRIDGE_SESSION_H_
