#include "dialogs/dialog_script.h"

#include <optional>

#include "encoding/code_page.h"

namespace quorvant {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

bool Tokenize(std::string_view line, std::vector<Token>* tokens, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (c == '#') break;  // a comment runs to the end of the line
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return Fail(error, "control character in the statement");
    }
    Token token;
    if (c == '"') {
      token.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\') {
          if (i >= line.size()) break;
          char e = line[i++];
          switch (e) {
            case '"':
            case '\\':
              token.text += e;
              break;
            case 'n':
              token.text += '\n';
              break;
            case 't':
              token.text += '\t';
              break;
            default:
              return Fail(error, std::string("unknown escape \\") + e);
          }
          continue;
        }
        token.text += d;
      }
      if (!closed) return Fail(error, "unterminated string");
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
        char d = line[i++];
        if (d == '"') return Fail(error, "quote inside a word");
        if (static_cast<unsigned char>(d) < 0x20 || d == 0x7F) {
          return Fail(error, "control character in the statement");
        }
        token.text += d;
      }
    }
    tokens->push_back(std::move(token));
  }
  return true;
}

std::optional<int64_t> Number(const Token& token, int64_t max) {
  if (token.quoted || token.text.empty() || token.text.size() > 10) return std::nullopt;
  int64_t value = 0;
  for (char c : token.text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// Script text is UTF-8; the models work in the code page.
std::string Narrow(const std::string& utf8) { return NarrowFromOsText(utf8); }

bool ParseActionTokens(const std::vector<Token>& t, ScriptAction* out, std::string* error) {
  const std::string& verb = t[0].text;
  auto arity = [&](size_t n) {
    return t.size() == n ? true : Fail(error, "'" + verb + "' takes " + std::to_string(n - 1) +
                                                  " argument" + (n == 2 ? "" : "s"));
  };
  ScriptAction action;
  if (verb == "type") {
    if (!arity(3)) return false;
    std::optional<PasswordField> field = PasswordFieldFromName(t[1].text);
    if (!field || t[1].quoted) return Fail(error, "unknown edit '" + t[1].text + "'");
    action.kind = ScriptAction::kType;
    action.field = *field;
    action.text = Narrow(t[2].text);
  } else if (verb == "press") {
    if (!arity(2)) return false;
    const std::string& button = t[1].text;
    if (button == "ok") {
      action.kind = ScriptAction::kPressOk;
    } else if (button == "cancel") {
      action.kind = ScriptAction::kPressCancel;
    } else if (button == "browse") {
      action.kind = ScriptAction::kPressBrowse;
    } else if (button == "view") {
      action.kind = ScriptAction::kPressView;
    } else {
      return Fail(error, "unknown button '" + button + "'");
    }
  } else if (verb == "browse" || verb == "pick" || verb == "screenshot") {
    if (!arity(2)) return false;
    action.kind = verb == "browse" ? ScriptAction::kBrowse
                  : verb == "pick" ? ScriptAction::kPick
                                   : ScriptAction::kScreenshot;
    action.text = Narrow(t[1].text);
  } else if (verb == "select") {
    if (!arity(2)) return false;
    if (t[1].text == "none" && !t[1].quoted) {
      action.kind = ScriptAction::kSelectNone;
    } else {
      std::optional<int64_t> row = Number(t[1], INT32_MAX);
      if (!row) return Fail(error, "bad row '" + t[1].text + "'");
      action.kind = ScriptAction::kSelect;
      action.number = *row;
    }
  } else if (verb == "dismiss") {
    if (!arity(1)) return false;
    action.kind = ScriptAction::kDismiss;
  } else if (verb == "wait") {
    if (!arity(2)) return false;
    std::optional<int64_t> ms = Number(t[1], 600000);
    if (!ms) return Fail(error, "bad wait '" + t[1].text + "'");
    action.kind = ScriptAction::kWait;
    action.number = *ms;
  } else {
    return Fail(error, "unknown statement '" + verb + "'");
  }
  *out = std::move(action);
  return true;
}

std::string Quote(const std::string& narrow) {
  std::string utf8 = Utf8FromWide(ToInterfaceText(narrow));
  std::string quoted = "\"";
  for (char c : utf8) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

bool ParseScriptAction(std::string_view line, ScriptAction* out, std::string* error) {
  if (line.size() > kMaxScriptLine) return Fail(error, "statement too long");
  std::vector<Token> tokens;
  if (!Tokenize(line, &tokens, error)) return false;
  if (tokens.empty()) return Fail(error, "empty statement");
  if (tokens[0].quoted) return Fail(error, "a statement starts with a word");
  return ParseActionTokens(tokens, out, error);
}

bool ParseDialogScript(std::string_view utf8, std::vector<ScriptedDialog>* out,
                       std::string* error) {
  if (utf8.size() > kMaxScriptBytes) return Fail(error, "script too long");
  size_t start = 0;
  int lineNumber = 0;
  while (start < utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string_view::npos) end = utf8.size();
    std::string_view line = utf8.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    std::string problem;
    if (line.size() > kMaxScriptLine) return Fail(error, where + "statement too long");
    std::vector<Token> tokens;
    if (!Tokenize(line, &tokens, &problem)) return Fail(error, where + problem);
    if (tokens.empty()) continue;
    if (tokens[0].quoted) return Fail(error, where + "a statement starts with a word");
    if (tokens[0].text == "dialog") {
      if (tokens.size() != 2) return Fail(error, where + "'dialog' takes 1 argument");
      ScriptedDialog dialog;
      if (tokens[1].text == "open-file" && !tokens[1].quoted) {
        dialog.id = DialogId::kOpenFile;
      } else if (tokens[1].text == "root" && !tokens[1].quoted) {
        dialog.id = DialogId::kRootConfirmation;
      } else {
        std::optional<int64_t> number = Number(tokens[1], 999);
        std::optional<DialogId> id =
            number && *number != 0 ? DialogIdFromNumber(*number) : std::nullopt;
        if (!id) return Fail(error, where + "unknown dialog '" + tokens[1].text + "'");
        dialog.id = *id;
      }
      out->push_back(std::move(dialog));
      continue;
    }
    if (out->empty()) return Fail(error, where + "an action before the first 'dialog'");
    ScriptAction action;
    if (!ParseActionTokens(tokens, &action, &problem)) return Fail(error, where + problem);
    out->back().actions.push_back(std::move(action));
  }
  return true;
}

std::string FormatScriptAction(const ScriptAction& action) {
  switch (action.kind) {
    case ScriptAction::kType:
      // Typed text is mostly a password: notes give its length only.
      return "type " + std::string(PasswordFieldName(action.field)) + " (" +
             std::to_string(EditTextLength(action.text)) + " characters)";
    case ScriptAction::kPressOk:
      return "press ok";
    case ScriptAction::kPressCancel:
      return "press cancel";
    case ScriptAction::kPressBrowse:
      return "press browse";
    case ScriptAction::kPressView:
      return "press view";
    case ScriptAction::kBrowse:
      return "browse " + Quote(action.text);
    case ScriptAction::kPick:
      return "pick " + Quote(action.text);
    case ScriptAction::kSelect:
      return "select " + std::to_string(action.number);
    case ScriptAction::kSelectNone:
      return "select none";
    case ScriptAction::kDismiss:
      return "dismiss";
    case ScriptAction::kScreenshot:
      return "screenshot " + Quote(action.text);
    case ScriptAction::kWait:
      return "wait " + std::to_string(action.number);
  }
  return std::string();
}

}  // namespace quorvant
