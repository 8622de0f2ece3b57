#include "dialogs/scripted_dialog_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "base/file_reader.h"
#include "base/unique_fd.h"
#include "base/win32_errors.h"
#include "encoding/code_page.h"

namespace quorvant {
namespace {

// Plays actions against the model of one dialog, with the browse button's
// picker as a small state of its own.
class ScriptPlayer {
 public:
  ScriptPlayer(const DialogRequest& request, DialogPlatform& platform, DialogResult* result)
      : result_(result) {
    switch (request.id) {
      case DialogId::kPfxFile:
      case DialogId::kChangePassword:
      case DialogId::kExportPfx:
      case DialogId::kMobilePfx: {
        FileDialogRequest fileRequest = request.file;
        fileRequest.id = request.id;
        file_ = std::make_unique<FileDialogModel>(fileRequest, &platform);
        break;
      }
      case DialogId::kCertificateList:
        list_ = std::make_unique<CertificateListModel>(request.rows, &platform);
        break;
      case DialogId::kExportPassword:
        password_ = std::make_unique<ExportPasswordModel>();
        break;
      case DialogId::kSignConfirmation:
        sign_ = std::make_unique<SignConfirmationModel>(request.signing);
        break;
      case DialogId::kRootConfirmation:  // a yes/no question, as 201 is
        sign_ = std::make_unique<SignConfirmationModel>(SignConfirmation{});
        break;
      case DialogId::kOpenFile:
        picker_ = std::make_unique<OpenFileModel>(request.openFile);
        break;
    }
  }

  DialogState state() const {
    if (file_) return file_->state();
    if (list_) return list_->state();
    if (password_) return password_->state();
    if (sign_) return sign_->state();
    return picker_->state();
  }

  void apply(const ScriptAction& action) {
    switch (action.kind) {
      case ScriptAction::kType:
        type(action);
        break;
      case ScriptAction::kPressOk:
        pressOk();
        break;
      case ScriptAction::kPressCancel:
        pressCancel();
        break;
      case ScriptAction::kPressBrowse:
        openPicker();
        break;
      case ScriptAction::kBrowse:
        if (openPicker()) pick(action.text);
        break;
      case ScriptAction::kPick:
        pick(action.text);
        break;
      case ScriptAction::kPressView:
        if (!list_) {
          note("no view button in this dialog");
        } else {
          std::string path = list_->view();
          note(path.empty() ? "view: the certificate could not be written or opened"
                            : "view: opened " + path);
        }
        break;
      case ScriptAction::kSelect:
        if (!list_ || !list_->select(static_cast<size_t>(action.number))) {
          note("select: no row " + std::to_string(action.number));
        }
        break;
      case ScriptAction::kSelectNone:
        if (list_) {
          list_->selectNone();
        } else {
          note("select: no list in this dialog");
        }
        break;
      case ScriptAction::kScreenshot:
        note("screenshot: no screen to capture");
        break;
      case ScriptAction::kDismiss:  // message boxes are dismissed at once
      case ScriptAction::kWait:
        break;
    }
  }

  // The user walks away: the picker and the dialog are cancelled.
  void abandon() {
    note("the script ended with the dialog open: cancelled");
    pickerOpen_ = false;
    pressCancel();
  }

  void finish() {
    result_->outcome =
        state() == DialogState::kOk ? DialogOutcome::kOk : DialogOutcome::kCancel;
    if (file_) result_->values = file_->values();
    if (password_) result_->values.password = password_->password();
    if (list_) result_->index = list_->chosenIndex();
    if (picker_ && state() == DialogState::kOk) result_->path = picker_->path();
  }

  void note(std::string text) { result_->notes.push_back(std::move(text)); }

 private:
  void type(const ScriptAction& action) {
    const std::string field(PasswordFieldName(action.field));
    if (pickerOpen_) {
      note("type: the picker is open");
    } else if (file_ && file_->hasField(action.field)) {
      if (!file_->type(action.field, action.text)) note("type: " + field + " is disabled");
    } else if (password_ && action.field == PasswordField::kPassword) {
      password_->type(action.text);
    } else {
      note("type: no edit " + field + " in this dialog");
    }
  }

  void pressOk() {
    if (pickerOpen_) {
      note("press ok: the picker has no file picked");
      return;
    }
    OkPress press;
    if (file_) {
      press = file_->pressOk();
    } else if (password_) {
      press = password_->pressOk();
    } else if (list_) {
      list_->pressOk();
      press.result = OkPress::kClosed;
    } else if (sign_) {
      sign_->pressOk();
      press.result = OkPress::kClosed;
    } else {
      note("press ok: no file picked");
      return;
    }
    switch (press.result) {
      case OkPress::kDisabled:
        note("press ok: the button is disabled");
        break;
      case OkPress::kMessage:
        result_->messages.push_back(press.message);
        break;
      case OkPress::kStaysOpen:
        note("press ok: the dialog stays open");
        break;
      case OkPress::kClosed:
        break;
    }
  }

  void pressCancel() {
    if (pickerOpen_) {
      pickerOpen_ = false;
      return;
    }
    if (file_) file_->pressCancel();
    if (list_) list_->pressCancel();
    if (password_) password_->pressCancel();
    if (sign_) sign_->pressCancel();
    if (picker_) picker_->pressCancel();
  }

  bool openPicker() {
    if (!file_) {
      note("browse: no browse button in this dialog");
      return false;
    }
    if (!file_->browseEnabled()) {
      note("browse: the button is disabled");
      return false;
    }
    pickerOpen_ = true;
    return true;
  }

  void pick(const std::string& path) {
    if (pickerOpen_) {
      if (path.empty()) {
        note("pick: an empty name keeps the picker open");
        return;
      }
      pickerOpen_ = false;
      file_->browsePicked(path);
    } else if (picker_) {
      if (picker_->pick(path).result == OkPress::kStaysOpen) {
        note("pick: an empty name keeps the picker open");
      }
    } else {
      note("pick: no picker is open");
    }
  }

  DialogResult* const result_;
  // Exactly one is set: the model of the dialog shown.
  std::unique_ptr<FileDialogModel> file_;
  std::unique_ptr<CertificateListModel> list_;
  std::unique_ptr<ExportPasswordModel> password_;
  std::unique_ptr<SignConfirmationModel> sign_;
  std::unique_ptr<OpenFileModel> picker_;
  bool pickerOpen_ = false;
};

void AppendJsonString(std::string* out, std::string_view utf8) {
  out->push_back('"');
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out->append(escape);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
  out->push_back('"');
}

std::string OutcomeName(DialogOutcome outcome) {
  switch (outcome) {
    case DialogOutcome::kOk:
      return "ok";
    case DialogOutcome::kCancel:
      return "cancel";
    case DialogOutcome::kCannotCreate:
      break;
  }
  return "cannot-create";
}

void AppendLogLine(const std::string& path, const DialogRequest& request,
                   const DialogResult& result) {
  std::string line = "{\"dialog\":" + std::to_string(static_cast<int>(request.id)) +
                     ",\"outcome\":\"" + OutcomeName(result.outcome) + "\"";
  if (request.id == DialogId::kSignConfirmation) {
    line += ",\"origin\":";
    AppendJsonString(&line, Utf8FromWide(request.signing.origin));
    line += ",\"content\":";
    AppendJsonString(&line, Utf8FromWide(request.signing.content));
  }
  line += "}\n";
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
  if (!fd.valid()) return;
  // One write per line: O_APPEND keeps lines of several processes whole.
  [[maybe_unused]] ssize_t written = ::write(fd.get(), line.data(), line.size());
}

}  // namespace

DialogResult RunScriptedDialog(const DialogRequest& request,
                               const std::vector<ScriptAction>& actions,
                               DialogPlatform& platform) {
  DialogResult result;
  ScriptPlayer player(request, platform, &result);
  size_t done = 0;
  while (done < actions.size() && player.state() == DialogState::kOpen) {
    player.apply(actions[done++]);
  }
  if (done < actions.size()) {
    player.note(std::to_string(actions.size() - done) +
                " action(s) left over after the dialog closed");
  }
  if (player.state() == DialogState::kOpen) player.abandon();
  player.finish();
  return result;
}

ScriptedDialogHost::ScriptedDialogHost(std::shared_ptr<DialogPlatform> platform)
    : platform_(std::move(platform)) {}

void ScriptedDialogHost::setLogFile(std::string osPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  logPath_ = std::move(osPath);
}

void ScriptedDialogHost::enqueue(ScriptedDialog dialog) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(dialog));
}

bool ScriptedDialogHost::enqueueScript(std::string_view utf8, std::string* error) {
  std::vector<ScriptedDialog> dialogs;
  if (!ParseDialogScript(utf8, &dialogs, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  for (ScriptedDialog& dialog : dialogs) queue_.push_back(std::move(dialog));
  return true;
}

bool ScriptedDialogHost::enqueueScriptFile(const std::string& osPath, std::string* error) {
  const Result<std::string> text = ReadRegularFile(osPath, kMaxScriptBytes);
  if (!text.ok()) {
    if (error != nullptr) {
      *error = text.outcome().systemError() == win32::kErrorFileTooLarge
                   ? "the dialog script is too long"
                   : "cannot open the dialog script " + osPath;
    }
    return false;
  }
  return enqueueScript(*text, error);
}

size_t ScriptedDialogHost::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

std::vector<TranscriptEntry> ScriptedDialogHost::transcript() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transcript_;
}

DialogResult ScriptedDialogHost::run(const DialogRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  DialogResult result;
  if (queue_.empty()) {
    result.notes.push_back("no scripted answer left");
  } else if (queue_.front().id != request.id) {
    result.notes.push_back("the script expects dialog " +
                           std::to_string(static_cast<int>(queue_.front().id)));
  } else {
    ScriptedDialog dialog = std::move(queue_.front());
    queue_.pop_front();
    result = RunScriptedDialog(request, dialog.actions, *platform_);
  }
  transcript_.push_back(TranscriptEntry{request.id, result.outcome, result.messages, result.notes});
  if (!logPath_.empty()) AppendLogLine(logPath_, request, result);
  return result;
}

DialogOutcome ScriptedDialogHost::confirmRootAddition(const RootAddition&) {
  DialogRequest request;
  request.id = DialogId::kRootConfirmation;
  return run(request).outcome;
}

}  // namespace quorvant
