// Who may start the host: the component's own extension, as the browser
// names it on the command line (Chromium-based browsers pass the extension's
// origin, "chrome-extension://<id>/"; Firefox the manifest's path and then
// the add-on's id).
#ifndef QUORVANT_BRIDGE_CALLER_H_
#define QUORVANT_BRIDGE_CALLER_H_

#include <string_view>

namespace quorvant::bridge {

inline constexpr std::string_view kHostName = "com.quorvant.bridge";
// The id follows from the public key in web/extension/manifest.json.
inline constexpr std::string_view kChromeExtensionId = "dponbioakojdldlefcgeciogjipojfca";
inline constexpr std::string_view kChromeExtensionOrigin =
    "chrome-extension://dponbioakojdldlefcgeciogjipojfca/";
inline constexpr std::string_view kFirefoxExtensionId = "bridge@quorvant.example";

// True when the command line names our extension as the caller.
bool IsOurCaller(int argc, const char* const* argv);

}  // namespace quorvant::bridge

#endif  // QUORVANT_BRIDGE_CALLER_H_
