#include "dialogs/dialog_protocol.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <optional>

#include "encoding/code_page.h"

namespace quorvant {
namespace {

constexpr size_t kMaxKey = 32;
constexpr size_t kMaxLengthDigits = 9;  // kMaxFrameBody has 8
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsKeyChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendEscaped(std::string* out, std::string_view value) {
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x21 && c <= 0x7E && c != '%') {
      *out += ch;
    } else {
      *out += '%';
      *out += kHexDigits[c >> 4];
      *out += kHexDigits[c & 15];
    }
  }
}

bool Unescape(std::string_view in, std::string* out) {
  out->clear();
  out->reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c < 0x21 || c > 0x7E) return false;
    if (c != '%') {
      *out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    int hi = HexValue(in[i + 1]);
    int lo = HexValue(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi << 4 | lo);
    i += 2;
  }
  return true;
}

void Wipe(std::string& s) {
  if (!s.empty()) explicit_bzero(s.data(), s.size());
  s.clear();
}

std::optional<int64_t> ParseInteger(std::string_view text, int64_t min, int64_t max) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    hex += kHexDigits[b >> 4];
    hex += kHexDigits[b & 15];
  }
  return hex;
}

bool BytesFromHex(std::string_view hex, std::vector<uint8_t>* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  out->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexValue(hex[i]);
    int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

bool Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

class Builder {
 public:
  void add(std::string key, std::string value) {
    message_.push_back(ProtocolField{std::move(key), std::move(value)});
  }
  void addNumber(std::string key, int64_t value) { add(std::move(key), std::to_string(value)); }
  void addIfSet(std::string key, const std::string& value) {
    if (!value.empty()) add(std::move(key), value);
  }
  ProtocolMessage take() { return std::move(message_); }

 private:
  ProtocolMessage message_;
};

std::string_view StepKeyword(ScriptAction::Kind kind) {
  switch (kind) {
    case ScriptAction::kType:
      return "type";
    case ScriptAction::kPressOk:
      return "press-ok";
    case ScriptAction::kPressCancel:
      return "press-cancel";
    case ScriptAction::kPressBrowse:
      return "press-browse";
    case ScriptAction::kPressView:
      return "press-view";
    case ScriptAction::kBrowse:
      return "browse";
    case ScriptAction::kPick:
      return "pick";
    case ScriptAction::kSelect:
      return "select";
    case ScriptAction::kSelectNone:
      return "select-none";
    case ScriptAction::kDismiss:
      return "dismiss";
    case ScriptAction::kScreenshot:
      return "screenshot";
    case ScriptAction::kWait:
      return "wait";
  }
  return "dismiss";
}

std::optional<ScriptAction::Kind> StepKind(std::string_view keyword) {
  for (int k = ScriptAction::kType; k <= ScriptAction::kWait; ++k) {
    auto kind = static_cast<ScriptAction::Kind>(k);
    if (StepKeyword(kind) == keyword) return kind;
  }
  return std::nullopt;
}

std::string_view OutcomeName(DialogOutcome outcome) {
  switch (outcome) {
    case DialogOutcome::kOk:
      return "ok";
    case DialogOutcome::kCancel:
      return "cancel";
    case DialogOutcome::kCannotCreate:
      return "cannot-create";
  }
  return "cannot-create";
}

// Keys that may stand once in a message; everything else a decoder sees is
// either repeatable by design or an error.
class OnceKeys {
 public:
  bool first(const std::string& key) {
    for (const std::string& seen : seen_) {
      if (seen == key) return false;
    }
    seen_.push_back(key);
    return true;
  }

 private:
  std::vector<std::string> seen_;
};

std::string* FileValue(FileDialogValues* values, std::string_view key) {
  if (key == "directory") return &values->directory;
  if (key == "file") return &values->fileName;
  if (key == "password") return &values->password;
  if (key == "old-password") return &values->oldPassword;
  if (key == "new-password") return &values->newPassword;
  if (key == "confirmation") return &values->confirmation;
  return nullptr;
}

void AddFileValues(Builder* b, const FileDialogValues& v) {
  b->addIfSet("directory", v.directory);
  b->addIfSet("file", v.fileName);
  b->addIfSet("password", v.password);
  b->addIfSet("old-password", v.oldPassword);
  b->addIfSet("new-password", v.newPassword);
  b->addIfSet("confirmation", v.confirmation);
}

}  // namespace

// ---- Frames -------------------------------------------------------------------

std::string EncodeFrame(const ProtocolMessage& message) {
  std::string body;
  for (const ProtocolField& field : message) {
    body += field.key;
    if (!field.value.empty()) {
      body += ' ';
      AppendEscaped(&body, field.value);
    }
    body += '\n';
  }
  std::string frame(kFrameMagic);
  frame += std::to_string(body.size());
  frame += '\n';
  frame += body;
  Wipe(body);
  return frame;
}

bool ParseFrameBody(std::string_view body, ProtocolMessage* out) {
  out->clear();
  if (body.size() > kMaxFrameBody) return false;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string_view::npos) return false;  // every line ends with \n
    std::string_view line = body.substr(start, end - start);
    start = end + 1;
    size_t space = line.find(' ');
    std::string_view key = line.substr(0, space);
    if (key.empty() || key.size() > kMaxKey) return false;
    for (char c : key) {
      if (!IsKeyChar(c)) return false;
    }
    ProtocolField field;
    field.key = std::string(key);
    if (space != std::string_view::npos) {
      std::string_view value = line.substr(space + 1);
      if (value.empty() || !Unescape(value, &field.value)) return false;
    }
    out->push_back(std::move(field));
  }
  return true;
}

FrameReader::~FrameReader() { Wipe(buffer_); }

void FrameReader::append(const char* data, size_t size) {
  if (broken_) return;
  buffer_.append(data, size);
}

FrameReader::Status FrameReader::next(ProtocolMessage* out) {
  if (broken_) return Status::kBroken;
  const size_t headerMax = kFrameMagic.size() + kMaxLengthDigits + 1;
  size_t prefix = std::min(buffer_.size(), kFrameMagic.size());
  if (buffer_.compare(0, prefix, kFrameMagic.substr(0, prefix)) != 0) {
    broken_ = true;
    return Status::kBroken;
  }
  size_t newline = buffer_.find('\n', kFrameMagic.size());
  if (newline == std::string::npos || newline > headerMax) {
    if (buffer_.size() >= headerMax) broken_ = true;
    return broken_ ? Status::kBroken : Status::kNeedMore;
  }
  std::string_view digits(buffer_.data() + kFrameMagic.size(), newline - kFrameMagic.size());
  std::optional<int64_t> length =
      digits.empty() || digits[0] == '-' || (digits.size() > 1 && digits[0] == '0')
          ? std::nullopt
          : ParseInteger(digits, 0, static_cast<int64_t>(kMaxFrameBody));
  if (!length) {
    broken_ = true;
    return Status::kBroken;
  }
  const size_t total = newline + 1 + static_cast<size_t>(*length);
  if (buffer_.size() < total) return Status::kNeedMore;
  if (!ParseFrameBody(std::string_view(buffer_).substr(newline + 1, *length), out)) {
    broken_ = true;
    return Status::kBroken;
  }
  explicit_bzero(buffer_.data(), total);
  buffer_.erase(0, total);
  return Status::kFrame;
}

// ---- Requests -----------------------------------------------------------------

ProtocolMessage EncodeRequest(const DialogRequest& request,
                              const std::vector<ScriptAction>& steps, uint32_t codePage) {
  Builder b;
  b.add("message", "request");
  b.addNumber("dialog", static_cast<int32_t>(request.id));
  b.addNumber("codepage", codePage);
  switch (request.id) {
    case DialogId::kPfxFile:
    case DialogId::kChangePassword:
    case DialogId::kExportPfx:
    case DialogId::kMobilePfx:
      b.addIfSet("title", request.file.title);
      AddFileValues(&b, request.file.values);
      b.addNumber("min", request.file.passwdMinLength);
      b.addNumber("max", request.file.passwdMaxLength);
      break;
    case DialogId::kCertificateList:
      for (const CertificateRow& row : request.rows) {
        b.add("row", "");
        b.addIfSet("row-subject", row.subject);
        b.addIfSet("row-serial", row.serial);
        b.addIfSet("row-not-before", row.notBefore);
        b.addIfSet("row-not-after", row.notAfter);
        b.addIfSet("row-issuer", row.issuer);
        b.addIfSet("row-der", HexText(row.der));
      }
      break;
    case DialogId::kSignConfirmation:
      b.addIfSet("content", Utf8FromWide(request.signing.content));
      b.addIfSet("origin", Utf8FromWide(request.signing.origin));
      b.addIfSet("serial", request.signing.serial);
      b.addIfSet("common-name", request.signing.commonName);
      b.addIfSet("not-before", request.signing.notBefore);
      b.addIfSet("not-after", request.signing.notAfter);
      break;
    case DialogId::kOpenFile:
      b.addIfSet("title", request.openFile.title);
      b.addIfSet("filter", request.openFile.filter);
      b.addIfSet("default-extension", request.openFile.defaultExtension);
      b.addNumber("hide-read-only", request.openFile.hideReadOnly ? 1 : 0);
      b.addNumber("validate-name", request.openFile.validateName ? 1 : 0);
      break;
    case DialogId::kExportPassword:
    case DialogId::kRootConfirmation:  // never sent to the helper
      break;
  }
  for (const ScriptAction& step : steps) {
    b.add("step", std::string(StepKeyword(step.kind)));
    if (step.kind == ScriptAction::kType) {
      b.add("step-field", std::string(PasswordFieldName(step.field)));
    }
    b.addIfSet("step-text", step.text);
    if (step.kind == ScriptAction::kSelect || step.kind == ScriptAction::kWait) {
      b.addNumber("step-number", step.number);
    }
  }
  return b.take();
}

bool DecodeRequest(const ProtocolMessage& message, DialogRequest* request,
                   std::vector<ScriptAction>* steps, uint32_t* codePage, std::string* error) {
  *request = DialogRequest();
  steps->clear();
  *codePage = 0;
  if (message.empty() || message[0].key != "message" || message[0].value != "request") {
    return Fail(error, "not a request");
  }
  bool haveDialog = false;
  OnceKeys once;
  for (size_t i = 1; i < message.size(); ++i) {
    const std::string& key = message[i].key;
    const std::string& value = message[i].value;
    const bool repeatable = key == "row" || key.rfind("row-", 0) == 0 || key == "step" ||
                            key.rfind("step-", 0) == 0;
    if (!repeatable && !once.first(key)) return Fail(error, "repeated key " + key);
    if (key == "dialog") {
      std::optional<int64_t> number = ParseInteger(value, 0, 999);
      std::optional<DialogId> id = number ? DialogIdFromNumber(*number) : std::nullopt;
      if (!id) return Fail(error, "unknown dialog " + value);
      request->id = *id;
      request->file.id = *id;
      haveDialog = true;
    } else if (key == "codepage") {
      std::optional<int64_t> number = ParseInteger(value, 1, 65535);
      if (!number) return Fail(error, "bad code page");
      *codePage = static_cast<uint32_t>(*number);
    } else if (std::string* slot = FileValue(&request->file.values, key)) {
      *slot = value;
    } else if (key == "min" || key == "max") {
      std::optional<int64_t> number = ParseInteger(value, INT32_MIN, INT32_MAX);
      if (!number) return Fail(error, "bad " + key);
      (key == "min" ? request->file.passwdMinLength : request->file.passwdMaxLength) =
          static_cast<int32_t>(*number);
    } else if (key == "title") {
      request->file.title = value;
      request->openFile.title = value;
    } else if (key == "row") {
      if (!value.empty()) return Fail(error, "row takes no value");
      request->rows.emplace_back();
    } else if (key.rfind("row-", 0) == 0) {
      if (request->rows.empty()) return Fail(error, key + " before row");
      CertificateRow& row = request->rows.back();
      if (key == "row-subject") {
        row.subject = value;
      } else if (key == "row-serial") {
        row.serial = value;
      } else if (key == "row-not-before") {
        row.notBefore = value;
      } else if (key == "row-not-after") {
        row.notAfter = value;
      } else if (key == "row-issuer") {
        row.issuer = value;
      } else if (key == "row-der") {
        if (!BytesFromHex(value, &row.der)) return Fail(error, "bad row-der");
      } else {
        return Fail(error, "unknown key " + key);
      }
    } else if (key == "content") {
      request->signing.content = WideFromUtf8(value);
    } else if (key == "origin") {
      request->signing.origin = WideFromUtf8(value);
    } else if (key == "serial") {
      request->signing.serial = value;
    } else if (key == "common-name") {
      request->signing.commonName = value;
    } else if (key == "not-before") {
      request->signing.notBefore = value;
    } else if (key == "not-after") {
      request->signing.notAfter = value;
    } else if (key == "filter") {
      request->openFile.filter = value;
    } else if (key == "default-extension") {
      request->openFile.defaultExtension = value;
    } else if (key == "hide-read-only" || key == "validate-name") {
      std::optional<int64_t> flag = ParseInteger(value, 0, 1);
      if (!flag) return Fail(error, "bad " + key);
      (key == "hide-read-only" ? request->openFile.hideReadOnly
                               : request->openFile.validateName) = *flag == 1;
    } else if (key == "step") {
      std::optional<ScriptAction::Kind> kind = StepKind(value);
      if (!kind) return Fail(error, "unknown step " + value);
      ScriptAction step;
      step.kind = *kind;
      steps->push_back(std::move(step));
    } else if (key.rfind("step-", 0) == 0) {
      if (steps->empty()) return Fail(error, key + " before step");
      ScriptAction& step = steps->back();
      if (key == "step-field") {
        std::optional<PasswordField> field = PasswordFieldFromName(value);
        if (!field) return Fail(error, "unknown field " + value);
        step.field = *field;
      } else if (key == "step-text") {
        step.text = value;
      } else if (key == "step-number") {
        std::optional<int64_t> number = ParseInteger(value, 0, INT32_MAX);
        if (!number) return Fail(error, "bad step-number");
        step.number = *number;
      } else {
        return Fail(error, "unknown key " + key);
      }
    } else {
      return Fail(error, "unknown key " + key);
    }
  }
  if (!haveDialog) return Fail(error, "no dialog");
  return true;
}

// ---- Helper messages ----------------------------------------------------------

ProtocolMessage EncodeShown(DialogId id) {
  Builder b;
  b.add("message", "shown");
  b.addNumber("dialog", static_cast<int32_t>(id));
  return b.take();
}

ProtocolMessage EncodeResult(DialogId id, const DialogResult& result) {
  Builder b;
  b.add("message", "result");
  b.addNumber("dialog", static_cast<int32_t>(id));
  b.add("outcome", std::string(OutcomeName(result.outcome)));
  AddFileValues(&b, result.values);
  if (id == DialogId::kCertificateList) b.addNumber("index", result.index);
  b.addIfSet("path", result.path);
  for (const std::string& text : result.messages) b.add("shown-message", text);
  for (const std::string& text : result.notes) b.add("note", text);
  return b.take();
}

bool DecodeHelperMessage(const ProtocolMessage& message, const DialogRequest& request,
                         HelperEvent* event, DialogResult* result, std::string* error) {
  *result = DialogResult();
  if (message.size() < 2 || message[0].key != "message" || message[1].key != "dialog") {
    return Fail(error, "not a helper message");
  }
  std::optional<int64_t> dialog = ParseInteger(message[1].value, 0, 999);
  if (!dialog || *dialog != static_cast<int32_t>(request.id)) {
    return Fail(error, "a message about another dialog");
  }
  if (message[0].value == "shown") {
    if (message.size() != 2) return Fail(error, "unexpected keys in shown");
    *event = HelperEvent::kShown;
    return true;
  }
  if (message[0].value != "result") return Fail(error, "unknown message " + message[0].value);
  *event = HelperEvent::kResult;
  bool haveOutcome = false;
  bool haveIndex = false;
  OnceKeys once;
  for (size_t i = 2; i < message.size(); ++i) {
    const std::string& key = message[i].key;
    const std::string& value = message[i].value;
    if (key == "shown-message") {
      result->messages.push_back(value);
      continue;
    }
    if (key == "note") {
      result->notes.push_back(value);
      continue;
    }
    if (!once.first(key)) return Fail(error, "repeated key " + key);
    if (key == "outcome") {
      if (value == "ok") {
        result->outcome = DialogOutcome::kOk;
      } else if (value == "cancel") {
        result->outcome = DialogOutcome::kCancel;
      } else if (value == "cannot-create") {
        result->outcome = DialogOutcome::kCannotCreate;
      } else {
        return Fail(error, "unknown outcome " + value);
      }
      haveOutcome = true;
    } else if (std::string* slot = FileValue(&result->values, key)) {
      *slot = value;
    } else if (key == "index") {
      std::optional<int64_t> index = ParseInteger(value, 0, INT32_MAX);
      if (!index) return Fail(error, "bad index");
      result->index = static_cast<int32_t>(*index);
      haveIndex = true;
    } else if (key == "path") {
      result->path = value;
    } else {
      return Fail(error, "unknown key " + key);
    }
  }
  if (!haveOutcome) return Fail(error, "no outcome");
  if (result->outcome == DialogOutcome::kOk && request.id == DialogId::kCertificateList &&
      (!haveIndex || static_cast<size_t>(result->index) >= request.rows.size())) {
    return Fail(error, "index outside the list");
  }
  if (result->outcome == DialogOutcome::kOk && request.id == DialogId::kOpenFile &&
      result->path.empty()) {
    return Fail(error, "no path picked");
  }
  return true;
}

}  // namespace quorvant
