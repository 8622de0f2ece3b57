#include "session.h"

#include <nlohmann/json.hpp>

#include "base/result_codes.h"
#include "engine/error_messages.h"
#include "framing.h"
#include "utf.h"

namespace quorvant::bridge {
namespace {

using nlohmann::json;

// What the host does with a method before (or instead of) calling it.
enum class Rule {
  kForward,
  kRefuseSystemInfo,  // the machine's address and the user's paths
  kRefuseKeyExport,   // the mobile exports hand a private key to the caller
  kRegistry,          // confined to the origin's own key
  kSign,              // the user sees the text and the site first
  kAskDelete,         // deleting a personal certificate
  kAskInstall,        // installing certificates, authorities in ROOT among them
  kHostCode,          // answered by the host after its own word
};

struct MethodRule {
  std::string_view method;
  Rule rule;
  // Arguments that name files: the page's names are dropped, so the user
  // picks the file in the dialog.
  std::initializer_list<size_t> fileArgs;
};

const MethodRule kRules[] = {
    {"GetErrorCode", Rule::kHostCode, {}},
    {"GetErrorMsg", Rule::kHostCode, {}},
    {"GetCapiErrorCode", Rule::kHostCode, {}},
    {"GetCapiErrorMsg", Rule::kHostCode, {}},
    {"GetMacAddress", Rule::kRefuseSystemInfo, {}},
    {"GetUserHomePath", Rule::kRefuseSystemInfo, {}},
    {"GetImportedPfxFilePath", Rule::kRefuseSystemInfo, {}},
    {"GetExportedPfxFilePath", Rule::kRefuseSystemInfo, {}},
    {"GetSignerPfxFilePath", Rule::kRefuseSystemInfo, {}},
    {"RegReadHKCU", Rule::kRegistry, {}},
    {"RegWriteHKCUInt", Rule::kRegistry, {}},
    {"RegWriteHKCUStr", Rule::kRegistry, {}},
    {"RegReadHKLM", Rule::kRegistry, {}},
    {"HashFile", Rule::kForward, {0}},
    {"AcceptPKCS7", Rule::kAskInstall, {}},
    {"SetDefaultPfxFileName", Rule::kForward, {0}},
    {"ChangePfxPasswd", Rule::kForward, {0, 1}},
    {"ChangePfxPasswdEx", Rule::kForward, {0, 1}},
    {"QueryPfxInfo", Rule::kForward, {0, 1}},
    {"ImportPfxToIE", Rule::kForward, {0, 1}},
    {"ExportPfxFromIE", Rule::kForward, {1}},
    {"ExportMobileFromPfx", Rule::kRefuseKeyExport, {}},
    {"ExportMobileFromIE", Rule::kRefuseKeyExport, {}},
    {"SelectSignerEx", Rule::kForward, {1, 2}},
    {"SelectSignerEx2", Rule::kForward, {1, 2}},
    {"SignPkcs1", Rule::kSign, {}},
    {"SignPkcs7", Rule::kSign, {}},
    {"DeleteIECert", Rule::kAskDelete, {}},
};

const MethodRule* RuleOf(std::string_view method) {
  for (const MethodRule& r : kRules) {
    if (r.method == method) return &r;
  }
  return nullptr;
}

std::string MessageOf(int32_t code) { return Utf8FromUtf16(ErrorMessageText(code)); }

std::string Dump(const json& reply) {
  return reply.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string ProtocolError(std::optional<int64_t> id, const std::string& error) {
  json reply = json::object();
  if (id) reply["id"] = *id;
  reply["error"] = error;
  return Dump(reply);
}

namespace {

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

const std::u16string kApproveQuestion =
    u"此網站要求使用本機的憑證元件 (雜湊、選擇憑證、簽章)。是否允許？";
const std::u16string kInstallQuestion =
    u"此網站要求將憑證安裝到您的憑證區 (可能包含受信任的根憑證)。是否允許？";
const std::u16string kDeleteQuestion = u"此網站要求刪除您的個人憑證：";

}  // namespace

bool IsAcceptedOrigin(std::string_view origin) {
  std::string_view rest;
  bool secureScheme = false;
  if (origin.starts_with("https://")) {
    rest = origin.substr(8);
    secureScheme = true;
  } else if (origin.starts_with("http://")) {
    rest = origin.substr(7);
  } else {
    return false;
  }
  std::string_view host = rest;
  std::string_view port;
  if (rest.starts_with('[')) {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return false;
    host = rest.substr(0, close + 1);
    for (char c : host.substr(1, host.size() - 2)) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':')) return false;
    }
    rest = rest.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    if (!rest.empty()) port = rest.substr(1);
    if (host.size() < 3) return false;
  } else {
    const size_t colon = rest.find(':');
    if (colon != std::string_view::npos) {
      host = rest.substr(0, colon);
      port = rest.substr(colon + 1);
    }
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.front() == '-') {
      return false;
    }
    for (char c : host) {
      if (!IsHostChar(c)) return false;
    }
  }
  if (!port.empty() || rest.find(':') != std::string_view::npos) {
    if (port.empty() || port.size() > 5 || port.front() == '0') return false;
    uint32_t number = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return false;
      number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    if (number == 0 || number > 65535) return false;
    if (number == (secureScheme ? 443u : 80u)) return false;  // browsers leave it out
  }
  if (secureScheme) return true;
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

std::optional<std::u16string> ConfinedRegistryName(std::u16string_view origin,
                                                   std::u16string_view name) {
  if (name.empty()) return std::nullopt;
  size_t start = 0;
  bool first = true;
  for (;;) {
    const size_t end = name.find(u'\\', start);
    const std::u16string_view part =
        name.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos
                                                            : end - start);
    if (part.empty() || part == u"." || part == u"..") return std::nullopt;
    if (first && (EqualsIgnoringCase(part, u"software") || EqualsIgnoringCase(part, u"system") ||
                  (part.size() >= 5 && EqualsIgnoringCase(part.substr(0, 5), u"hkey_")))) {
      return std::nullopt;
    }
    first = false;
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  std::u16string confined(kSitesKey);
  confined += u'\\';
  confined += origin;
  confined += u'\\';
  confined += name;
  return confined;
}

std::string Session::refuse(int64_t id, int32_t code) {
  hostCode_ = code;
  json reply = json::object();
  reply["id"] = id;
  reply["error"] = MessageOf(code);
  reply["errorCode"] = code;
  reply["errorMsg"] = MessageOf(code);
  return Dump(reply);
}

std::string Session::connect(const std::string& origin) {
  json reply = json::object();
  if (connected_) return ProtocolError(std::nullopt, "already connected");
  connected_ = true;
  origin_ = origin;
  int32_t code = rc::kSuccess;
  if (!IsAcceptedOrigin(origin)) {
    code = rc::kBridgeSiteNotApproved;
  } else {
    origin16_ = *Utf16FromUtf8(origin);  // ASCII, checked above
    std::u16string name(kOriginsKey);
    name += u'\\';
    name += origin16_;
    // The administrator's word first, then the user's remembered answer,
    // then the user, asked once.
    const std::u16string machine = component_.readPolicy(true, name);
    const std::u16string user = machine.empty() ? component_.readPolicy(false, name) : u"";
    const std::u16string& word = machine.empty() ? user : machine;
    if (word == u"1") {
      code = rc::kSuccess;
    } else if (word == u"0") {
      code = rc::kBridgeSiteBlocked;
    } else {
      code = component_.confirmSite(origin16_, kApproveQuestion);
      if (code == rc::kSuccess) {
        component_.rememberPolicy(name, 1);
      } else if (code != rc::kBridgeNoDialog) {
        code = rc::kBridgeSiteNotApproved;
      }
    }
  }
  approved_ = code == rc::kSuccess;
  connectRefusal_ = code;
  hostCode_ = code;
  reply["connected"] = approved_;
  reply["origin"] = origin;
  reply["errorCode"] = code;
  reply["errorMsg"] = MessageOf(code);
  if (!approved_) reply["error"] = MessageOf(code);
  return Dump(reply);
}

std::string Session::handle(std::string_view frame) {
  std::string reply = handleMessage(frame);
  if (reply.size() > kMaxOutgoingFrame) {
    reply = ProtocolError(lastId_, "the reply is larger than the browser accepts (1 MiB)");
  }
  return reply;
}

std::string Session::handleMessage(std::string_view frame) {
  ParseOutcome parsed = ParseMessage(frame);
  lastId_ = parsed.id;
  if (!parsed.message) return ProtocolError(parsed.id, parsed.error);
  Message& m = *parsed.message;
  if (m.kind == Message::kConnect) return connect(m.origin);
  if (!connected_) return ProtocolError(m.id, "not connected");
  if (!approved_) return refuse(m.id, connectRefusal_);

  const MethodRule* rule = RuleOf(m.method->name);
  const Rule kind = rule ? rule->rule : Rule::kForward;
  if (rule) {
    for (size_t index : rule->fileArgs) m.args[index].text.clear();
  }
  switch (kind) {
    case Rule::kHostCode:
      if (hostCode_) {
        json reply = json::object();
        reply["id"] = m.id;
        const bool isCode = m.method->name == "GetErrorCode";
        const bool isMsg = m.method->name == "GetErrorMsg";
        if (isCode) reply["result"] = *hostCode_;
        else if (isMsg) reply["result"] = MessageOf(*hostCode_);
        else if (m.method->textResult) reply["result"] = "";
        else reply["result"] = 0;
        reply["errorCode"] = *hostCode_;
        reply["errorMsg"] = MessageOf(*hostCode_);
        return Dump(reply);
      }
      break;
    case Rule::kRefuseSystemInfo:
      return refuse(m.id, rc::kBridgeSystemInfoRefused);
    case Rule::kRefuseKeyExport:
      return refuse(m.id, rc::kBridgeKeyExportRefused);
    case Rule::kRegistry: {
      std::optional<std::u16string> name = ConfinedRegistryName(origin16_, m.args[0].text);
      if (!name) return refuse(m.id, rc::kBridgeRegistryConfined);
      m.args[0].text = std::move(*name);
      break;
    }
    case Rule::kSign: {
      auto getter = [&](std::string_view method) {
        const MethodInfo* info = FindMethod(method);
        return info ? component_.call(*info, {}).textValue : std::u16string();
      };
      const int32_t code = component_.confirmSigning(
          origin16_, m.args[0].text, getter("GetCertSerial"), getter("GetCertSubjectCN"),
          getter("GetCertNotBefore"), getter("GetCertNotAfter"));
      if (code != rc::kSuccess) return refuse(m.id, code);
      break;
    }
    case Rule::kAskDelete:
    case Rule::kAskInstall: {
      std::u16string question = kInstallQuestion;
      if (kind == Rule::kAskDelete) {
        const MethodInfo* subject = FindMethod("GetIECertSubject");
        question = kDeleteQuestion + component_.call(*subject, {m.args[0]}).textValue;
      }
      const int32_t code = component_.confirmSite(origin16_, question);
      if (code != rc::kSuccess) return refuse(m.id, code);
      break;
    }
    case Rule::kForward:
      break;
  }

  hostCode_.reset();
  const CallResult result = component_.call(*m.method, m.args);
  json reply = json::object();
  reply["id"] = m.id;
  if (result.text) {
    reply["result"] = Utf8FromUtf16(result.textValue);
  } else {
    reply["result"] = result.intValue;
  }
  const CallResult code = component_.call(*FindMethod("GetErrorCode"), {});
  const CallResult message = component_.call(*FindMethod("GetErrorMsg"), {});
  reply["errorCode"] = code.intValue;
  reply["errorMsg"] = Utf8FromUtf16(message.textValue);
  return Dump(reply);
}

}  // namespace quorvant::bridge
