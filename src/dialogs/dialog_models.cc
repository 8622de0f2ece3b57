#include "dialogs/dialog_models.h"

#include <string.h>  // explicit_bzero

#include <algorithm>

#include "dialogs/dialog_texts.h"
#include "encoding/code_page.h"

namespace quorvant {
namespace {

void Wipe(std::string& s) {
  if (!s.empty()) explicit_bzero(s.data(), s.size());
  s.clear();
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

int FieldSlot(PasswordField field) { return static_cast<int>(field); }

}  // namespace

// ---- Shared rules ---------------------------------------------------------

PasswordRange PasswordRange::Normalised(int32_t min, int32_t max) {
  if (max < min) std::swap(min, max);
  if (min < 1) min = 0;
  if (max < 1) max = 16;
  return PasswordRange{min, max};
}

size_t EditTextLength(std::string_view narrow) {
  std::u16string wide;
  if (!WideFromNarrow(narrow, &wide)) return narrow.size();
  return wide.size();
}

size_t InsertableLength(size_t existing, size_t inserted, size_t limit) {
  if (existing >= limit) return 0;
  return std::min(inserted, limit - existing);
}

std::string LimitTypedText(std::string_view narrow, size_t limit) {
  std::u16string wide;
  if (!WideFromNarrow(narrow, &wide)) return std::string();
  if (wide.size() <= limit) return std::string(narrow);
  size_t keep = limit;
  if (keep > 0 && IsHighSurrogate(wide[keep - 1])) --keep;
  std::string out;
  if (!NarrowFromWide(std::u16string_view(wide).substr(0, keep), &out)) return std::string();
  return out;
}

std::string DisplayPath(std::string_view directory, std::string_view fileName) {
  if (directory.empty()) return std::string();
  std::string path(directory);
  if (path.back() != '/') path += '/';
  path += fileName;
  return path;
}

// "/" never occurs as a trail byte of a double-byte character in the code
// pages the component supports, so a byte search is safe on narrow text.
SplitPath SplitChosenPath(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return SplitPath{std::string(), std::string(path)};
  if (slash == 0) return SplitPath{"/", std::string(path.substr(1))};
  return SplitPath{std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

std::vector<FileFilter> ParseFileFilter(std::string_view filter) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= filter.size()) {
    size_t bar = filter.find('|', start);
    if (bar == std::string_view::npos) {
      parts.push_back(filter.substr(start));
      break;
    }
    parts.push_back(filter.substr(start, bar - start));
    start = bar + 1;
  }
  std::vector<FileFilter> out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty()) break;  // "||" ends the list
    FileFilter entry;
    entry.name = std::string(parts[i]);
    std::string_view patterns = parts[i + 1];
    size_t from = 0;
    while (from <= patterns.size()) {
      size_t semi = patterns.find(';', from);
      std::string_view pattern = patterns.substr(
          from, semi == std::string_view::npos ? std::string_view::npos : semi - from);
      while (!pattern.empty() && pattern.front() == ' ') pattern.remove_prefix(1);
      while (!pattern.empty() && pattern.back() == ' ') pattern.remove_suffix(1);
      if (pattern == "*.*") pattern = "*";
      if (!pattern.empty()) entry.patterns.emplace_back(pattern);
      if (semi == std::string_view::npos) break;
      from = semi + 1;
    }
    if (!entry.patterns.empty()) out.push_back(std::move(entry));
  }
  return out;
}

std::string NarrowText(std::u16string_view text) { return ToNarrow(text); }

std::string MissingFileMessage(std::string_view path) {
  std::string message = NarrowText(dialog_text::kFileMessageStart);
  message += path.empty() ? NarrowText(dialog_text::kUnspecified) : std::string(path);
  message += NarrowText(dialog_text::kFileMessageEnd);
  return message;
}

std::string DirectoryMessage(std::string_view directory) {
  std::string message = NarrowText(dialog_text::kDirectoryMessageStart);
  message += directory.empty() ? NarrowText(dialog_text::kUnspecified) : std::string(directory);
  message += NarrowText(dialog_text::kDirectoryMessageEnd);
  return message;
}

std::string PasswordMismatchMessage() { return NarrowText(dialog_text::kPasswordMismatch); }

// ---- 202, 203, 206, 207 ---------------------------------------------------

std::string_view PasswordFieldName(PasswordField field) {
  switch (field) {
    case PasswordField::kPassword:
      return "password";
    case PasswordField::kOldPassword:
      return "old-password";
    case PasswordField::kNewPassword:
      return "new-password";
    case PasswordField::kConfirmation:
      return "confirmation";
  }
  return "password";
}

std::optional<PasswordField> PasswordFieldFromName(std::string_view name) {
  for (PasswordField field : {PasswordField::kPassword, PasswordField::kOldPassword,
                              PasswordField::kNewPassword, PasswordField::kConfirmation}) {
    if (PasswordFieldName(field) == name) return field;
  }
  return std::nullopt;
}

FileDialogModel::FileDialogModel(const FileDialogRequest& request, DialogPlatform* platform)
    : id_(request.id),
      range_(PasswordRange::Normalised(request.passwdMinLength, request.passwdMaxLength)),
      title_(request.title),
      platform_(platform),
      values_(request.values) {
  const size_t max = static_cast<size_t>(range_.maxLength);
  // A caller's password that already satisfies the range is used as given:
  // its edit starts disabled.
  auto prefilled = [&](PasswordField field, const std::string& text, bool lockable) {
    EditState& edit = editRef(field);
    edit.text = text;
    edit.limit = max;
    const size_t length = EditTextLength(text);
    edit.enabled = !(lockable && length >= 1 && length >= static_cast<size_t>(range_.minLength));
  };
  switch (id_) {
    case DialogId::kChangePassword:
      fields_ = {PasswordField::kOldPassword, PasswordField::kNewPassword,
                 PasswordField::kConfirmation};
      values_.confirmation = values_.newPassword;
      prefilled(PasswordField::kOldPassword, values_.oldPassword, true);
      prefilled(PasswordField::kNewPassword, values_.newPassword, true);
      prefilled(PasswordField::kConfirmation, values_.confirmation, true);
      break;
    case DialogId::kExportPfx:
      fields_ = {PasswordField::kPassword, PasswordField::kConfirmation};
      values_.confirmation.clear();
      prefilled(PasswordField::kPassword, values_.password, false);
      editRef(PasswordField::kConfirmation) = EditState{};  // empty, not limited
      break;
    case DialogId::kMobilePfx:
      fields_ = {PasswordField::kPassword};
      prefilled(PasswordField::kPassword, values_.password, false);
      break;
    default:  // 202
      fields_ = {PasswordField::kPassword};
      prefilled(PasswordField::kPassword, values_.password, true);
      break;
  }
  refreshPath();
  if (id_ == DialogId::kChangePassword) browseEnabled_ = !platform_->fileExists(pathText_);
}

FileDialogModel::~FileDialogModel() {
  for (EditState& edit : edits_) Wipe(edit.text);
  Wipe(values_.password);
  Wipe(values_.oldPassword);
  Wipe(values_.newPassword);
  Wipe(values_.confirmation);
}

std::string FileDialogModel::caption() const {
  if (!title_.empty()) return title_;
  return NarrowText(id_ == DialogId::kChangePassword ? dialog_text::kCaptionChangePassword
                                                     : dialog_text::kCaptionPfxFile);
}

bool FileDialogModel::hasField(PasswordField field) const {
  return std::find(fields_.begin(), fields_.end(), field) != fields_.end();
}

const EditState& FileDialogModel::edit(PasswordField field) const {
  return edits_[FieldSlot(field)];
}

EditState& FileDialogModel::editRef(PasswordField field) { return edits_[FieldSlot(field)]; }

bool FileDialogModel::okEnabled() const {
  if (state_ != DialogState::kOpen) return false;
  for (PasswordField field : fields_) {
    if (EditTextLength(edit(field).text) < static_cast<size_t>(range_.minLength)) return false;
  }
  return true;
}

bool FileDialogModel::type(PasswordField field, std::string_view text) {
  if (state_ != DialogState::kOpen || !hasField(field) || !edit(field).enabled) return false;
  storeEdit(field, LimitTypedText(text, edit(field).limit));
  return true;
}

bool FileDialogModel::setEditText(PasswordField field, std::string_view text) {
  if (state_ != DialogState::kOpen || !hasField(field) || !edit(field).enabled) return false;
  storeEdit(field, std::string(text));
  return true;
}

void FileDialogModel::storeEdit(PasswordField field, std::string text) {
  EditState& edit = editRef(field);
  Wipe(edit.text);
  edit.text = std::move(text);
}

void FileDialogModel::refreshPath() { pathText_ = DisplayPath(values_.directory, values_.fileName); }

PickerSetup FileDialogModel::picker() const {
  PickerSetup setup;
  if (id_ == DialogId::kExportPfx) {
    setup.kind = PickerSetup::kFolder;
    setup.title = NarrowText(dialog_text::kFolderPickerTitle);
    return setup;
  }
  setup.kind = PickerSetup::kOpenFile;
  setup.title = NarrowText(dialog_text::kPfxPickerTitle);
  setup.filters = ParseFileFilter(NarrowText(dialog_text::kPfxFilter));
  if (id_ == DialogId::kPfxFile || id_ == DialogId::kChangePassword) {
    setup.initialFolder = values_.directory;
  }
  return setup;
}

bool FileDialogModel::browsePicked(std::string_view path) {
  if (state_ != DialogState::kOpen || !browseEnabled_) return false;
  switch (id_) {
    case DialogId::kExportPfx:
      values_.directory = std::string(path);
      refreshPath();
      break;
    case DialogId::kChangePassword:
    case DialogId::kMobilePfx: {
      SplitPath split = SplitChosenPath(path);
      values_.directory = std::move(split.directory);
      values_.fileName = std::move(split.fileName);
      refreshPath();
      break;
    }
    default:  // 202 shows the path and splits it at OK
      pathText_ = std::string(path);
      break;
  }
  return true;
}

OkPress FileDialogModel::pressOk() {
  OkPress press;
  if (!okEnabled()) return press;  // kDisabled
  for (PasswordField field : fields_) {
    std::string& value = field == PasswordField::kPassword      ? values_.password
                         : field == PasswordField::kOldPassword ? values_.oldPassword
                         : field == PasswordField::kNewPassword ? values_.newPassword
                                                                : values_.confirmation;
    Wipe(value);
    value = edit(field).text;
  }
  switch (id_) {
    case DialogId::kExportPfx: {
      if (values_.password != values_.confirmation) {
        press.result = OkPress::kMessage;
        press.message = PasswordMismatchMessage();
        return press;
      }
      if (!platform_->directoryExists(values_.directory) &&
          !platform_->createDirectory(values_.directory)) {
        press.result = OkPress::kMessage;
        press.message = DirectoryMessage(values_.directory);
        return press;
      }
      switch (platform_->probeWritable(pathText_)) {
        case ProbeResult::kNotWritable:
          press.result = OkPress::kMessage;
          press.message = DirectoryMessage(values_.directory);
          return press;
        case ProbeResult::kProbeNotRemoved:
          press.result = OkPress::kStaysOpen;
          return press;
        case ProbeResult::kWritable:
          break;
      }
      break;
    }
    default:
      if (!platform_->fileExists(pathText_)) {
        press.result = OkPress::kMessage;
        press.message = MissingFileMessage(pathText_);
        return press;
      }
      if (id_ == DialogId::kPfxFile) {
        SplitPath split = SplitChosenPath(pathText_);
        values_.directory = std::move(split.directory);
        values_.fileName = std::move(split.fileName);
      }
      break;
  }
  state_ = DialogState::kOk;
  press.result = OkPress::kClosed;
  return press;
}

void FileDialogModel::pressCancel() {
  if (state_ != DialogState::kOpen) return;
  Wipe(values_.directory);
  Wipe(values_.password);
  Wipe(values_.confirmation);
  if (id_ == DialogId::kChangePassword) {
    Wipe(values_.fileName);
    Wipe(values_.oldPassword);
    Wipe(values_.newPassword);
  }
  state_ = DialogState::kCancel;
}

// ---- 204 --------------------------------------------------------------------

CertificateListModel::CertificateListModel(std::vector<CertificateRow> rows,
                                           DialogPlatform* platform)
    : rows_(std::move(rows)), platform_(platform) {
  if (!rows_.empty()) selected_ = 0;
}

std::string CertificateListModel::caption() const {
  return NarrowText(dialog_text::kCaptionCertificateList);
}

std::string CertificateListModel::columnTitle(int column) {
  if (column < 0 || column >= kColumnCount) return std::string();
  return NarrowText(dialog_text::kCertificateColumns[column].title);
}

int CertificateListModel::columnWidth(int column) {
  if (column < 0 || column >= kColumnCount) return 0;
  return dialog_text::kCertificateColumns[column].widthPixels;
}

const std::string& CertificateListModel::cellText(const CertificateRow& row, int column) {
  switch (column) {
    case 0:
      return row.subject;
    case 1:
      return row.serial;
    case 2:
      return row.notBefore;
    case 3:
      return row.notAfter;
    default:
      return row.issuer;
  }
}

bool CertificateListModel::select(size_t row) {
  if (state_ != DialogState::kOpen || row >= rows_.size()) return false;
  selected_ = row;
  return true;
}

void CertificateListModel::selectNone() {
  if (state_ == DialogState::kOpen) selected_.reset();
}

std::string CertificateListModel::view() {
  const size_t row = selected_.value_or(0);
  if (state_ != DialogState::kOpen || row >= rows_.size()) return std::string();
  std::string path;
  if (!platform_->writeTemporaryCertificate(rows_[row].der, &path)) return std::string();
  if (!platform_->openWithDesktop(path)) return std::string();
  return path;
}

void CertificateListModel::pressOk() {
  if (state_ != DialogState::kOpen) return;
  chosen_ = static_cast<int32_t>(selected_.value_or(0));
  state_ = DialogState::kOk;
}

void CertificateListModel::pressCancel() {
  if (state_ == DialogState::kOpen) state_ = DialogState::kCancel;
}

// ---- 205 --------------------------------------------------------------------

ExportPasswordModel::~ExportPasswordModel() {
  Wipe(edit_.text);
  Wipe(password_);
}

std::string ExportPasswordModel::caption() const {
  return NarrowText(dialog_text::kCaptionExportPassword);
}

bool ExportPasswordModel::okEnabled() const {
  return state_ == DialogState::kOpen &&
         EditTextLength(edit_.text) >= static_cast<size_t>(range().minLength);
}

bool ExportPasswordModel::type(std::string_view text) {
  return setEditText(LimitTypedText(text, edit_.limit));
}

bool ExportPasswordModel::setEditText(std::string_view text) {
  if (state_ != DialogState::kOpen) return false;
  Wipe(edit_.text);
  edit_.text = std::string(text);
  return true;
}

OkPress ExportPasswordModel::pressOk() {
  OkPress press;
  if (!okEnabled()) return press;
  password_ = edit_.text;
  state_ = DialogState::kOk;
  press.result = OkPress::kClosed;
  return press;
}

void ExportPasswordModel::pressCancel() {
  if (state_ != DialogState::kOpen) return;
  Wipe(password_);
  state_ = DialogState::kCancel;
}

// ---- 201 and the open-file picker -------------------------------------------

std::string SignConfirmationModel::caption() const {
  return NarrowText(dialog_text::kCaptionSign);
}

PickerSetup OpenFileModel::picker() const {
  PickerSetup setup;
  setup.kind = PickerSetup::kOpenFile;
  setup.title = request_.title;
  setup.filters = ParseFileFilter(request_.filter);
  return setup;
}

OkPress OpenFileModel::pick(std::string_view path) {
  OkPress press;
  if (state_ != DialogState::kOpen) return press;
  if (path.empty()) {
    press.result = OkPress::kStaysOpen;
    return press;
  }
  path_ = std::string(path);
  state_ = DialogState::kOk;
  press.result = OkPress::kClosed;
  return press;
}

void OpenFileModel::pressCancel() {
  if (state_ == DialogState::kOpen) state_ = DialogState::kCancel;
}

}  // namespace quorvant
