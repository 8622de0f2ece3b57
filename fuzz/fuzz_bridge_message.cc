// The browser bridge's message handling over arbitrary frames, on an
// approved connection: every frame gets exactly one JSON object back, and
// whatever reaches the component fits its method's parameters.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "bridge/stand_in_component.h"
#include "session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvant::bridge;
  if (size > (1u << 20)) return 0;
  StandInComponent component;
  component.userPolicy[u"Software\\MORL\\QuorvantATL\\Bridge\\Origins\\https://bank.example"] =
      u"1";
  Session session(component);
  session.handle(R"({"connect": "https://bank.example"})");
  if (!session.approved()) std::abort();
  const size_t callsBefore = component.calls.size();

  const std::string_view frame(reinterpret_cast<const char*>(data), size);
  const nlohmann::json reply = nlohmann::json::parse(session.handle(frame), nullptr, false);
  if (!reply.is_object()) std::abort();
  if (!reply.contains("error") && !reply.contains("result") && !reply.contains("connected")) {
    std::abort();
  }

  for (size_t i = callsBefore; i < component.calls.size(); ++i) {
    const RecordedCall& call = component.calls[i];
    const MethodInfo* method = FindMethod(call.method);
    if (method == nullptr || call.args.size() != method->paramCount) std::abort();
    for (size_t k = 0; k < call.args.size(); ++k) {
      if (call.args[k].kind != method->params[k].kind) std::abort();
      if (call.args[k].text.find(u'\0') != std::u16string::npos) std::abort();
    }
  }
  return 0;
}
