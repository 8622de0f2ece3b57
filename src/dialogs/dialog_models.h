// The dialogs' behaviour without a toolkit: what each control shows, which
// controls are enabled, what typing, browsing and the buttons do, and what
// the dialog returns. The GTK front end and the scripted host both drive
// these models, so a script meets exactly the rules a person meets.
//
// Texts are narrow, in the component's code page. Lengths of edit texts are
// counted in UTF-16 code units, as the platform's edit controls count them.
#ifndef QUORVANT_DIALOGS_DIALOG_MODELS_H_
#define QUORVANT_DIALOGS_DIALOG_MODELS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dialogs/dialog_host.h"
#include "dialogs/dialog_platform.h"

namespace quorvant {

// ---- Shared rules ---------------------------------------------------------

// The password-length rule of PresetPasswdLengthRange: swap a reversed pair,
// then a minimum below 1 becomes 0 and a maximum below 1 becomes 16. The
// result always has 0 <= minLength <= maxLength and maxLength >= 1.
struct PasswordRange {
  int32_t minLength = 0;
  int32_t maxLength = 16;
  static PasswordRange Normalised(int32_t min, int32_t max);
  friend bool operator==(const PasswordRange&, const PasswordRange&) = default;
};

// What an edit accepts when nothing limits it: the platform's default of
// 32767 characters.
inline constexpr size_t kUnlimitedEdit = 32767;

// The length of an edit's text: UTF-16 code units of the narrow text.
size_t EditTextLength(std::string_view narrow);
// How many of `inserted` characters an edit limited to `limit` takes when it
// already holds `existing` (after any selection was deleted): typing past the
// limit is refused, a longer text that was put there by the program stays.
size_t InsertableLength(size_t existing, size_t inserted, size_t limit);
// `narrow` as typed into an empty edit limited to `limit`: cut after `limit`
// UTF-16 code units, never inside a character.
std::string LimitTypedText(std::string_view narrow, size_t limit);

// The path edit: the directory, a "/" unless the directory already ends with
// one, and the file name; empty when the directory is empty.
std::string DisplayPath(std::string_view directory, std::string_view fileName);

struct SplitPath {
  std::string directory;
  std::string fileName;
  friend bool operator==(const SplitPath&, const SplitPath&) = default;
};
// A chosen path split at its last "/": the directory is the text before it
// and the file name the text after it, except that a file directly under "/"
// keeps "/" as its directory. A path without "/" is a bare file name (empty
// directory).
SplitPath SplitChosenPath(std::string_view path);

// One entry of a "Name|pattern;pattern|...||" filter. Patterns are trimmed;
// "*.*" matches every name, also one without a dot, as it does on the
// platform the filters were written for, so it becomes "*".
struct FileFilter {
  std::string name;
  std::vector<std::string> patterns;
  friend bool operator==(const FileFilter&, const FileFilter&) = default;
};
std::vector<FileFilter> ParseFileFilter(std::string_view filter);

// The texts above, narrow in the active code page.
std::string NarrowText(std::u16string_view text);
// "憑證檔(" path ") : 錯誤或不存在", "未指定" for an empty path.
std::string MissingFileMessage(std::string_view path);
// "憑證目錄 (" directory ") : 錯誤或沒有寫入權限", "未指定" when empty.
std::string DirectoryMessage(std::string_view directory);
std::string PasswordMismatchMessage();

enum class DialogState { kOpen, kOk, kCancel };

// The result of pressing OK.
struct OkPress {
  enum Result {
    kDisabled,    // the button is disabled: nothing happens
    kMessage,     // a message box with `message` was shown; the dialog stays open
    kStaysOpen,   // the dialog stays open without a message
    kClosed,      // closed with OK
  } result = kDisabled;
  std::string message;
};

// The picker that a browse button opens.
struct PickerSetup {
  enum Kind { kOpenFile, kFolder } kind = kOpenFile;
  std::string title;
  std::vector<FileFilter> filters;  // kOpenFile only
  std::string initialFolder;        // empty: the picker's own choice
};

// ---- 202, 203, 206, 207 ---------------------------------------------------

enum class PasswordField { kPassword, kOldPassword, kNewPassword, kConfirmation };
// "password", "old-password", "new-password", "confirmation".
std::string_view PasswordFieldName(PasswordField field);
std::optional<PasswordField> PasswordFieldFromName(std::string_view name);

struct EditState {
  std::string text;
  bool enabled = true;
  size_t limit = kUnlimitedEdit;
};

class FileDialogModel {
 public:
  // `platform` must outlive the model.
  FileDialogModel(const FileDialogRequest& request, DialogPlatform* platform);
  ~FileDialogModel();
  FileDialogModel(const FileDialogModel&) = delete;
  FileDialogModel& operator=(const FileDialogModel&) = delete;

  DialogId id() const { return id_; }
  // The request's title when not empty, else the template's caption.
  std::string caption() const;
  PasswordRange range() const { return range_; }

  // The password edits of this dialog, in control order (203: old, new,
  // confirmation; 206: password, confirmation; 202, 207: password).
  const std::vector<PasswordField>& fields() const { return fields_; }
  bool hasField(PasswordField field) const;
  const EditState& edit(PasswordField field) const;
  const std::string& pathText() const { return pathText_; }
  bool browseEnabled() const { return browseEnabled_; }
  bool okEnabled() const;
  DialogState state() const { return state_; }
  const FileDialogValues& values() const { return values_; }

  // A person selects the edit's whole text and types `text`; false (and
  // nothing changes) when the edit is disabled or absent or the dialog is
  // closed. Past the edit's limit the keystrokes are refused.
  bool type(PasswordField field, std::string_view text);
  // The edit's text as a front end's own edit holds it; the front end has
  // applied the limit (InsertableLength) while the user typed.
  bool setEditText(PasswordField field, std::string_view text);

  PickerSetup picker() const;
  // The browse button's picker was confirmed with `path` (a file, or a
  // folder for 206); false when the button is disabled.
  bool browsePicked(std::string_view path);

  OkPress pressOk();
  void pressCancel();

 private:
  EditState& editRef(PasswordField field);
  void storeEdit(PasswordField field, std::string text);
  void refreshPath();

  const DialogId id_;
  const PasswordRange range_;
  const std::string title_;
  DialogPlatform* const platform_;
  std::vector<PasswordField> fields_;
  EditState edits_[4];
  FileDialogValues values_;
  std::string pathText_;
  bool browseEnabled_ = true;
  DialogState state_ = DialogState::kOpen;
};

// ---- 204 --------------------------------------------------------------------

class CertificateListModel {
 public:
  static constexpr int kColumnCount = 5;
  // `platform` must outlive the model.
  CertificateListModel(std::vector<CertificateRow> rows, DialogPlatform* platform);

  std::string caption() const;
  // The column titles, narrow.
  static std::string columnTitle(int column);
  static int columnWidth(int column);
  const std::vector<CertificateRow>& rows() const { return rows_; }
  // The text of a row in a column (0 subject ... 4 issuer).
  static const std::string& cellText(const CertificateRow& row, int column);

  // The first row is selected when the dialog opens.
  std::optional<size_t> selected() const { return selected_; }
  bool select(size_t row);
  void selectNone();
  // "檢視憑證": writes the selected row's certificate (row 0 when none is
  // selected) to temp.cer and opens it; the dialog stays open. The written
  // path, or empty when nothing could be written or opened.
  std::string view();

  // OK: the chosen index is the selected row, 0 when none is selected.
  void pressOk();
  void pressCancel();
  DialogState state() const { return state_; }
  int32_t chosenIndex() const { return chosen_; }

 private:
  const std::vector<CertificateRow> rows_;
  DialogPlatform* const platform_;
  std::optional<size_t> selected_;
  int32_t chosen_ = 0;
  DialogState state_ = DialogState::kOpen;
};

// ---- 205 --------------------------------------------------------------------

class ExportPasswordModel {
 public:
  ExportPasswordModel() = default;
  ~ExportPasswordModel();
  ExportPasswordModel(const ExportPasswordModel&) = delete;
  ExportPasswordModel& operator=(const ExportPasswordModel&) = delete;

  std::string caption() const;
  // The dialog's own range; no caller changes it.
  PasswordRange range() const { return PasswordRange{}; }
  const EditState& edit() const { return edit_; }
  bool okEnabled() const;
  bool type(std::string_view text);
  bool setEditText(std::string_view text);
  OkPress pressOk();
  void pressCancel();
  DialogState state() const { return state_; }
  // On OK the password; empty after Cancel.
  const std::string& password() const { return password_; }

 private:
  EditState edit_;
  std::string password_;
  DialogState state_ = DialogState::kOpen;
};

// ---- 201 --------------------------------------------------------------------

class SignConfirmationModel {
 public:
  explicit SignConfirmationModel(SignConfirmation details) : details_(std::move(details)) {}
  std::string caption() const;
  const SignConfirmation& details() const { return details_; }
  void pressOk() { state_ = DialogState::kOk; }
  void pressCancel() { state_ = DialogState::kCancel; }
  DialogState state() const { return state_; }

 private:
  const SignConfirmation details_;
  DialogState state_ = DialogState::kOpen;
};

// ---- The open-file picker ----------------------------------------------------

class OpenFileModel {
 public:
  explicit OpenFileModel(OpenFileRequest request) : request_(std::move(request)) {}
  const OpenFileRequest& request() const { return request_; }
  PickerSetup picker() const;
  // The user picks (or types) `path` and confirms. Without validation of the
  // name any text is taken; an empty name keeps the picker open.
  OkPress pick(std::string_view path);
  void pressCancel();
  DialogState state() const { return state_; }
  const std::string& path() const { return path_; }

 private:
  const OpenFileRequest request_;
  std::string path_;
  DialogState state_ = DialogState::kOpen;
};

}  // namespace quorvant

#endif  // QUORVANT_DIALOGS_DIALOG_MODELS_H_
