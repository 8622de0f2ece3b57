// A component that records what reaches it and answers as told, so the
// host's rules can be checked without a library, a dialog or a registry.
#ifndef QUORVANT_TESTS_BRIDGE_STAND_IN_COMPONENT_H_
#define QUORVANT_TESTS_BRIDGE_STAND_IN_COMPONENT_H_

#include <map>
#include <string>
#include <vector>

#include "component.h"

namespace quorvant::bridge {

struct RecordedCall {
  std::string method;
  std::vector<Argument> args;
};

class StandInComponent final : public Component {
 public:
  CallResult call(const MethodInfo& method, const std::vector<Argument>& args) override {
    calls.push_back({std::string(method.name), args});
    CallResult r;
    r.text = method.textResult;
    if (method.name == "GetErrorCode") {
      r.intValue = errorCode;
    } else if (method.name == "GetErrorMsg") {
      r.textValue = u"message";
    } else if (method.textResult) {
      r.textValue = textResult;
    } else {
      r.intValue = 0;
    }
    return r;
  }
  int32_t confirmSite(const std::u16string& origin, const std::u16string& question) override {
    questions.push_back(origin + u" | " + question);
    return nextAnswer();
  }
  int32_t confirmSigning(const std::u16string& origin, const std::u16string& content,
                         const std::u16string& serial, const std::u16string&,
                         const std::u16string&, const std::u16string&) override {
    questions.push_back(origin + u" | " + content + u" | " + serial);
    return nextAnswer();
  }
  std::u16string readPolicy(bool machine, const std::u16string& name) override {
    const auto& values = machine ? machinePolicy : userPolicy;
    auto it = values.find(name);
    return it == values.end() ? std::u16string() : it->second;
  }
  void rememberPolicy(const std::u16string& name, int32_t value) override {
    remembered[name] = value;
  }

  // Operations, not the getters the host reads for its own questions.
  std::vector<std::string> operations() const {
    std::vector<std::string> out;
    for (const RecordedCall& c : calls) {
      if (c.method != "GetErrorCode" && c.method != "GetErrorMsg" &&
          !c.method.starts_with("GetCert") && c.method != "GetIECertSubject") {
        out.push_back(c.method);
      }
    }
    return out;
  }

  std::vector<RecordedCall> calls;
  std::vector<std::u16string> questions;
  std::vector<int32_t> answers;  // in order; 0 once they run out
  std::map<std::u16string, std::u16string> machinePolicy, userPolicy;
  std::map<std::u16string, int32_t> remembered;
  int32_t errorCode = 0;
  std::u16string textResult = u"result";

 private:
  int32_t nextAnswer() {
    if (answers.empty()) return 0;
    const int32_t a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
};

}  // namespace quorvant::bridge

#endif  // QUORVANT_TESTS_BRIDGE_STAND_IN_COMPONENT_H_
