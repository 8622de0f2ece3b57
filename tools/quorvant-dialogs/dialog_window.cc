#include "dialog_window.h"

#include <cstring>

#include "dialogs/dialog_texts.h"
#include "encoding/code_page.h"

namespace quorvant {
namespace {

namespace text = dialog_text;

std::string U8(std::u16string_view wide) { return Utf8FromWide(wide); }

// UTF-16 code units of UTF-8 text, as the models count edit lengths.
size_t Utf16Length(const char* utf8, gssize bytes) {
  size_t units = 0;
  const char* end = bytes < 0 ? nullptr : utf8 + bytes;
  for (const char* p = utf8; end ? p < end : *p != '\0'; p = g_utf8_next_char(p)) {
    units += g_utf8_get_char(p) >= 0x10000 ? 2 : 1;
  }
  return units;
}

// The byte length of the first `units` UTF-16 code units of UTF-8 text,
// never cutting a character.
gssize Utf8PrefixBytes(const char* utf8, gssize bytes, size_t units) {
  const char* p = utf8;
  const char* end = utf8 + bytes;
  while (p < end) {
    size_t need = g_utf8_get_char(p) >= 0x10000 ? 2 : 1;
    if (need > units) break;
    units -= need;
    p = g_utf8_next_char(p);
  }
  return p - utf8;
}

// Window file patterns match without regard to case; GTK's globs do not.
std::string CaseFreePattern(const std::string& pattern) {
  std::string out;
  for (char c : pattern) {
    if (g_ascii_isalpha(c)) {
      out += '[';
      out += g_ascii_tolower(c);
      out += g_ascii_toupper(c);
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

GtkWidget* Label(std::u16string_view wide) {
  GtkWidget* label = gtk_label_new(U8(wide).c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  return label;
}

GtkWidget* Button(std::u16string_view wide) { return gtk_button_new_with_label(U8(wide).c_str()); }

GtkWidget* ReadOnlyEntry(const std::string& utf8) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), utf8.c_str());
  gtk_editable_set_editable(GTK_EDITABLE(entry), FALSE);
  gtk_widget_set_can_focus(entry, TRUE);
  return entry;
}

GtkWidget* ReadOnlyTextView(const std::string& utf8) {
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_CHAR);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), utf8.c_str(), -1);
  return view;
}

// ---- Refreshing the controls from the model ---------------------------------

void Refresh(DialogWindow* w) {
  if (w->file) {
    gtk_widget_set_sensitive(w->okButton, w->file->okEnabled());
    if (w->browseButton) gtk_widget_set_sensitive(w->browseButton, w->file->browseEnabled());
    if (w->pathView) {
      const std::string shown = Utf8(w->file->pathText());
      if (shown != gtk_label_get_text(GTK_LABEL(w->pathView))) {
        gtk_label_set_text(GTK_LABEL(w->pathView), shown.c_str());
      }
    }
  } else if (w->password) {
    gtk_widget_set_sensitive(w->okButton, w->password->okEnabled());
  }
}

void Finish(DialogWindow* w, DialogState state) {
  if (w->finished) return;
  w->finished = true;
  DialogResult& r = w->result;
  r.outcome = state == DialogState::kOk ? DialogOutcome::kOk : DialogOutcome::kCancel;
  if (w->file) r.values = w->file->values();
  if (w->password) r.values.password = w->password->password();
  if (w->list) r.index = w->list->chosenIndex();
  if (w->picker && state == DialogState::kOk) r.path = w->picker->path();
  gtk_widget_hide(w->window);
  gtk_main_quit();
}

// ---- Message boxes -----------------------------------------------------------

gboolean OnMessageDelete(GtkWidget*, GdkEvent*, gpointer data) {
  DismissMessage(static_cast<DialogWindow*>(data));
  return TRUE;
}

void OnMessageOk(GtkButton*, gpointer data) { DismissMessage(static_cast<DialogWindow*>(data)); }

// A modal box with the caption "錯誤訊息", an error icon and one OK button;
// returns when it is dismissed.
void ShowMessage(DialogWindow* w, const std::string& narrow) {
  w->result.messages.push_back(narrow);
  GtkWidget* box = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* header = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(header), U8(text::kCaptionMessageBox).c_str());
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), TRUE);
  gtk_window_set_titlebar(GTK_WINDOW(box), header);
  gtk_window_set_modal(GTK_WINDOW(box), TRUE);
  gtk_window_set_transient_for(GTK_WINDOW(box), GTK_WINDOW(w->window));
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER_ON_PARENT);
  gtk_window_set_type_hint(GTK_WINDOW(box), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);

  GtkWidget* body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(body), 16);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_box_pack_start(GTK_BOX(row),
                     gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG), FALSE,
                     FALSE, 0);
  GtkWidget* label = gtk_label_new(Utf8(narrow).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(body), row, TRUE, TRUE, 0);
  GtkWidget* ok = Button(text::kOk);
  GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  gtk_container_add(GTK_CONTAINER(buttons), ok);
  gtk_box_pack_start(GTK_BOX(body), buttons, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(box), body);
  gtk_widget_set_can_default(ok, TRUE);
  gtk_window_set_default(GTK_WINDOW(box), ok);
  g_signal_connect(ok, "clicked", G_CALLBACK(OnMessageOk), w);
  g_signal_connect(box, "delete-event", G_CALLBACK(OnMessageDelete), w);

  w->messageBox = box;
  w->messageLoop = g_main_loop_new(nullptr, FALSE);
  gtk_widget_show_all(box);
  gtk_widget_grab_focus(ok);
  g_main_loop_run(w->messageLoop);
  g_main_loop_unref(w->messageLoop);
  w->messageLoop = nullptr;
  w->messageBox = nullptr;
  gtk_widget_destroy(box);
}

// ---- Signal handlers ---------------------------------------------------------

// EM_LIMITTEXT: what would pass the limit is not taken; a longer text the
// dialog was filled with stays.
void OnInsertText(GtkEditable* editable, const gchar* newText, gint length, gint* position,
                  gpointer data) {
  auto* e = static_cast<PasswordEntry*>(data);
  if (length < 0) length = static_cast<gint>(std::strlen(newText));
  const size_t existing = Utf16Length(gtk_entry_get_text(GTK_ENTRY(editable)), -1);
  const size_t inserted = Utf16Length(newText, length);
  const size_t allowed = InsertableLength(existing, inserted, e->limit);
  if (allowed == inserted) return;
  g_signal_stop_emission_by_name(editable, "insert-text");
  gtk_widget_error_bell(GTK_WIDGET(editable));
  if (allowed == 0) return;
  g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(OnInsertText), data);
  gtk_editable_insert_text(editable, newText, static_cast<gint>(Utf8PrefixBytes(newText, length, allowed)),
                           position);
  g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(OnInsertText), data);
}

void OnEntryChanged(GtkEditable* editable, gpointer data) {
  auto* e = static_cast<PasswordEntry*>(data);
  DialogWindow* w = e->window;
  const std::string narrow = NarrowFromUtf8(gtk_entry_get_text(GTK_ENTRY(editable)));
  if (w->file) w->file->setEditText(e->field, narrow);
  if (w->password) w->password->setEditText(narrow);
  Refresh(w);
}

void OnOk(GtkButton*, gpointer data) {
  auto* w = static_cast<DialogWindow*>(data);
  if (w->finished) return;
  OkPress press;
  if (w->file) {
    press = w->file->pressOk();
  } else if (w->password) {
    press = w->password->pressOk();
  } else if (w->list) {
    SyncSelection(w);
    w->list->pressOk();
    press.result = OkPress::kClosed;
  } else if (w->sign) {
    w->sign->pressOk();
    press.result = OkPress::kClosed;
  }
  switch (press.result) {
    case OkPress::kClosed:
      Finish(w, DialogState::kOk);
      break;
    case OkPress::kMessage:
      ShowMessage(w, press.message);
      break;
    case OkPress::kStaysOpen:
      w->result.notes.push_back("OK: the dialog stays open");
      break;
    case OkPress::kDisabled:
      break;
  }
}

}  // namespace

void CancelDialog(DialogWindow* w) {
  if (w->finished) return;
  if (w->file) w->file->pressCancel();
  if (w->list) w->list->pressCancel();
  if (w->password) w->password->pressCancel();
  if (w->sign) w->sign->pressCancel();
  if (w->picker) w->picker->pressCancel();
  Finish(w, DialogState::kCancel);
}

namespace {

void Cancel(DialogWindow* w) { CancelDialog(w); }

void OnCancel(GtkButton*, gpointer data) { Cancel(static_cast<DialogWindow*>(data)); }

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  Cancel(static_cast<DialogWindow*>(data));
  return TRUE;
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  Cancel(static_cast<DialogWindow*>(data));
  return TRUE;
}

void OnBrowse(GtkButton*, gpointer data) { RunBrowsePicker(static_cast<DialogWindow*>(data)); }

void OnView(GtkButton*, gpointer data) {
  auto* w = static_cast<DialogWindow*>(data);
  SyncSelection(w);
  std::string path = w->list->view();
  w->result.notes.push_back(path.empty() ? "view: the certificate could not be written or opened"
                                         : "view: opened " + path);
}

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer data) {
  auto* w = static_cast<DialogWindow*>(data);
  if (w->onShown) {
    auto shown = std::move(w->onShown);
    w->onShown = nullptr;
    shown();
  }
  return FALSE;
}

void OnPickerResponse(GtkDialog* dialog, gint response, gpointer data) {
  auto* w = static_cast<DialogWindow*>(data);
  if (w->finished) return;
  if (response != GTK_RESPONSE_ACCEPT) {
    Cancel(w);
    return;
  }
  std::string picked;
  if (w->pickOverride) {
    picked = *w->pickOverride;
    w->pickOverride.reset();
  } else {
    gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    if (name != nullptr) picked = NarrowFromOsText(name);
    g_free(name);
  }
  OkPress press = w->picker->pick(picked);
  if (press.result == OkPress::kClosed) Finish(w, DialogState::kOk);
}

// ---- Building ----------------------------------------------------------------

GtkWidget* NewDialogWindow(DialogWindow* w, const std::string& captionUtf8) {
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  // A header bar draws the caption in the window itself, so it shows on any
  // desktop (and without a window manager).
  GtkWidget* header = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(header), captionUtf8.c_str());
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), TRUE);
  gtk_window_set_titlebar(GTK_WINDOW(win), header);
  gtk_window_set_modal(GTK_WINDOW(win), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(win), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(GTK_WINDOW(win), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(win), TRUE);
  g_signal_connect(win, "delete-event", G_CALLBACK(OnDelete), w);
  g_signal_connect(win, "key-press-event", G_CALLBACK(OnKey), w);
  g_signal_connect(win, "map-event", G_CALLBACK(OnMapped), w);
  return win;
}

GtkWidget* Body() {
  GtkWidget* body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(body), 12);
  return body;
}

// OK and Cancel at the bottom right, in that order.
void AddButtons(DialogWindow* w, GtkWidget* body, std::u16string_view ok,
                std::u16string_view cancel) {
  GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  gtk_box_set_spacing(GTK_BOX(buttons), 6);
  w->okButton = Button(ok);
  w->cancelButton = Button(cancel);
  gtk_container_add(GTK_CONTAINER(buttons), w->okButton);
  gtk_container_add(GTK_CONTAINER(buttons), w->cancelButton);
  gtk_widget_set_margin_top(buttons, 6);
  gtk_box_pack_end(GTK_BOX(body), buttons, FALSE, FALSE, 0);
  gtk_widget_set_can_default(w->okButton, TRUE);
  gtk_window_set_default(GTK_WINDOW(w->window), w->okButton);
  g_signal_connect(w->okButton, "clicked", G_CALLBACK(OnOk), w);
  g_signal_connect(w->cancelButton, "clicked", G_CALLBACK(OnCancel), w);
}

GtkWidget* AddPasswordEntry(DialogWindow* w, GtkWidget* body, PasswordField field,
                            const EditState& state) {
  auto e = std::make_unique<PasswordEntry>();
  e->field = field;
  e->limit = state.limit;
  e->window = w;
  e->entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(e->entry), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(e->entry), GTK_INPUT_PURPOSE_PASSWORD);
  gtk_entry_set_activates_default(GTK_ENTRY(e->entry), TRUE);
  gtk_widget_set_name(e->entry, std::string(PasswordFieldName(field)).c_str());
  // The filled text first: the limit binds typing, not the caller's text.
  gtk_entry_set_text(GTK_ENTRY(e->entry), Utf8(state.text).c_str());
  gtk_widget_set_sensitive(e->entry, state.enabled);
  g_signal_connect(e->entry, "insert-text", G_CALLBACK(OnInsertText), e.get());
  g_signal_connect(e->entry, "changed", G_CALLBACK(OnEntryChanged), e.get());
  gtk_box_pack_start(GTK_BOX(body), e->entry, FALSE, FALSE, 0);
  GtkWidget* entry = e->entry;
  w->entries.push_back(std::move(e));
  return entry;
}

// The read-only, multi-line path edit: a selectable label in a frame. A
// path is broken anywhere, and without the hyphens Pango would add, which
// would read as part of the path.
GtkWidget* PathView(DialogWindow* w) {
  GtkWidget* label = gtk_label_new(Utf8(w->file->pathText()).c_str());
  gtk_label_set_selectable(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_CHAR);
  gtk_label_set_width_chars(GTK_LABEL(label), 40);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
  gtk_widget_set_size_request(label, -1, 48);
  gtk_widget_set_can_focus(label, TRUE);
  w->pathView = label;
  GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_set_border_width(GTK_CONTAINER(inner), 4);
  gtk_box_pack_start(GTK_BOX(inner), label, TRUE, TRUE, 0);
  GtkWidget* frame = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(frame), inner);
  return frame;
}

void BuildFileDialog(DialogWindow* w) {
  FileDialogRequest request = w->request.file;
  request.id = w->request.id;
  w->file = std::make_unique<FileDialogModel>(request, w->platform.get());
  FileDialogModel& m = *w->file;
  w->window = NewDialogWindow(w, Utf8(m.caption()));
  GtkWidget* body = Body();
  w->browseButton = Button(text::kBrowse);
  g_signal_connect(w->browseButton, "clicked", G_CALLBACK(OnBrowse), w);

  const bool exportLayout = m.id() == DialogId::kExportPfx || m.id() == DialogId::kMobilePfx;
  if (exportLayout) {
    // 206, 207: label, path, browse.
    gtk_box_pack_start(GTK_BOX(body), Label(text::kExportPathLabel), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(body), PathView(w), FALSE, FALSE, 0);
    gtk_widget_set_halign(w->browseButton, GTK_ALIGN_END);
    gtk_box_pack_start(GTK_BOX(body), w->browseButton, FALSE, FALSE, 0);
  } else {
    // 202, 203: label, browse, path.
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_pack_start(GTK_BOX(row), Label(text::kPathLabel), TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(row), w->browseButton, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(body), row, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(body), PathView(w), FALSE, FALSE, 0);
  }
  for (PasswordField field : m.fields()) {
    std::u16string_view label;
    switch (m.id()) {
      case DialogId::kChangePassword:
        label = field == PasswordField::kOldPassword   ? text::kOldPasswordLabel
                : field == PasswordField::kNewPassword ? text::kNewPasswordLabel
                                                       : text::kNewConfirmationLabel;
        break;
      case DialogId::kExportPfx:
      case DialogId::kMobilePfx:
        label = field == PasswordField::kPassword ? text::kExportPasswordLabel
                                                  : text::kExportConfirmationLabel;
        break;
      default:
        label = text::kPasswordLabel;
    }
    GtkWidget* l = Label(label);
    gtk_widget_set_margin_top(l, 6);
    gtk_box_pack_start(GTK_BOX(body), l, FALSE, FALSE, 0);
    AddPasswordEntry(w, body, field, m.edit(field));
  }
  AddButtons(w, body, text::kOk, text::kCancel);
  gtk_container_add(GTK_CONTAINER(w->window), body);
  gtk_window_set_resizable(GTK_WINDOW(w->window), FALSE);
  Refresh(w);
}

void BuildCertificateList(DialogWindow* w) {
  w->list = std::make_unique<CertificateListModel>(w->request.rows, w->platform.get());
  CertificateListModel& m = *w->list;
  w->window = NewDialogWindow(w, Utf8(m.caption()));
  GtkWidget* body = Body();

  GtkListStore* store = gtk_list_store_new(CertificateListModel::kColumnCount, G_TYPE_STRING,
                                           G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                                           G_TYPE_STRING);
  for (const CertificateRow& row : m.rows()) {
    GtkTreeIter iter;
    gtk_list_store_append(store, &iter);
    for (int c = 0; c < CertificateListModel::kColumnCount; ++c) {
      gtk_list_store_set(store, &iter, c, Utf8(CertificateListModel::cellText(row, c)).c_str(),
                         -1);
    }
  }
  w->tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  int totalWidth = 0;
  for (int c = 0; c < CertificateListModel::kColumnCount; ++c) {
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "xalign", 0.0f, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
        Utf8(CertificateListModel::columnTitle(c)).c_str(), renderer, "text", c, nullptr);
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(column, CertificateListModel::columnWidth(c));
    gtk_tree_view_column_set_resizable(column, TRUE);
    gtk_tree_view_column_set_alignment(column, 0.0f);
    gtk_tree_view_append_column(GTK_TREE_VIEW(w->tree), column);
    totalWidth += CertificateListModel::columnWidth(c);
  }
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree));
  gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
  if (m.selected()) {
    GtkTreePath* first = gtk_tree_path_new_from_indices(static_cast<gint>(*m.selected()), -1);
    gtk_tree_selection_select_path(selection, first);
    gtk_tree_path_free(first);
  }
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
  gtk_widget_set_size_request(scroll, totalWidth + 8, 180);
  gtk_container_add(GTK_CONTAINER(scroll), w->tree);
  GtkWidget* group = gtk_frame_new(U8(text::kCertificateGroup).c_str());
  GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_set_border_width(GTK_CONTAINER(inner), 6);
  gtk_box_pack_start(GTK_BOX(inner), scroll, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(group), inner);
  gtk_box_pack_start(GTK_BOX(body), group, TRUE, TRUE, 0);

  w->viewButton = Button(text::kViewCertificate);
  g_signal_connect(w->viewButton, "clicked", G_CALLBACK(OnView), w);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(row), w->viewButton, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(body), row, FALSE, FALSE, 0);
  AddButtons(w, body, text::kOk, text::kCancel);
  gtk_container_add(GTK_CONTAINER(w->window), body);
}

void BuildExportPassword(DialogWindow* w) {
  w->password = std::make_unique<ExportPasswordModel>();
  w->window = NewDialogWindow(w, Utf8(w->password->caption()));
  GtkWidget* body = Body();
  gtk_box_pack_start(GTK_BOX(body), Label(text::kPasswordLabel), FALSE, FALSE, 0);
  GtkWidget* entry = AddPasswordEntry(w, body, PasswordField::kPassword, w->password->edit());
  gtk_widget_set_size_request(entry, 260, -1);
  AddButtons(w, body, text::kOk, text::kCancel);
  gtk_container_add(GTK_CONTAINER(w->window), body);
  gtk_window_set_resizable(GTK_WINDOW(w->window), FALSE);
  Refresh(w);
}

void BuildSignConfirmation(DialogWindow* w) {
  w->sign = std::make_unique<SignConfirmationModel>(w->request.signing);
  const SignConfirmation& d = w->sign->details();
  w->window = NewDialogWindow(w, Utf8(w->sign->caption()));
  GtkWidget* body = Body();

  // A web site's request names the site above everything else, so the user
  // knows who asks before reading what.
  if (!d.origin.empty()) {
    GtkWidget* site = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("%s <b>%s</b>", U8(text::kSignOriginLabel).c_str(),
                                            Utf8FromWide(d.origin).c_str());
    gtk_label_set_markup(GTK_LABEL(site), markup);
    g_free(markup);
    gtk_label_set_xalign(GTK_LABEL(site), 0.0f);
    gtk_box_pack_start(GTK_BOX(body), site, FALSE, FALSE, 0);
  }

  GtkWidget* contentGroup = gtk_frame_new(U8(text::kSignContentGroup).c_str());
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER,
                                 GTK_POLICY_ALWAYS);
  gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroll), FALSE);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
  gtk_widget_set_size_request(scroll, 440, 120);
  gtk_container_add(GTK_CONTAINER(scroll), ReadOnlyTextView(Utf8FromWide(d.content)));
  gtk_container_set_border_width(GTK_CONTAINER(scroll), 6);
  gtk_container_add(GTK_CONTAINER(contentGroup), scroll);
  gtk_box_pack_start(GTK_BOX(body), contentGroup, TRUE, TRUE, 0);

  GtkWidget* certGroup = gtk_frame_new(U8(text::kSignCertificateGroup).c_str());
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 6);
  auto add = [&](int row, std::u16string_view label, std::u16string_view sub,
                 const std::string& narrow) {
    gtk_grid_attach(GTK_GRID(grid), Label(label), 0, row, 1, 1);
    if (!sub.empty()) gtk_grid_attach(GTK_GRID(grid), Label(sub), 1, row, 1, 1);
    GtkWidget* entry = ReadOnlyEntry(Utf8(narrow));
    gtk_widget_set_hexpand(entry, TRUE);
    gtk_grid_attach(GTK_GRID(grid), entry, 2, row, 1, 1);
  };
  add(0, text::kSignSerialLabel, u"", d.serial);
  add(1, text::kSignCommonNameLabel, u"", d.commonName);
  add(2, text::kSignValidityLabel, text::kSignFromLabel, d.notBefore);
  add(3, u"", text::kSignToLabel, d.notAfter);
  gtk_container_add(GTK_CONTAINER(certGroup), grid);
  gtk_box_pack_start(GTK_BOX(body), certGroup, FALSE, FALSE, 0);
  AddButtons(w, body, text::kSignOk, text::kSignCancel);
  gtk_container_add(GTK_CONTAINER(w->window), body);
}

GtkWidget* NewChooser(const PickerSetup& setup, GtkWindow* parent) {
  const bool folder = setup.kind == PickerSetup::kFolder;
  GtkWidget* chooser = GTK_WIDGET(g_object_new(
      GTK_TYPE_FILE_CHOOSER_DIALOG, "title", Utf8(setup.title).c_str(), "action",
      folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
      "use-header-bar", TRUE, nullptr));
  gtk_dialog_add_button(GTK_DIALOG(chooser), U8(text::kCancel).c_str(), GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(GTK_DIALOG(chooser), U8(text::kOk).c_str(), GTK_RESPONSE_ACCEPT);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  if (parent != nullptr) gtk_window_set_transient_for(GTK_WINDOW(chooser), parent);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_CENTER);
  gtk_window_set_default_size(GTK_WINDOW(chooser), 760, 480);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  for (const FileFilter& f : setup.filters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, Utf8(f.name).c_str());
    for (const std::string& pattern : f.patterns) {
      gtk_file_filter_add_pattern(filter, CaseFreePattern(pattern).c_str());
    }
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
  }
  if (!setup.initialFolder.empty()) {
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser),
                                        OsPathFromNarrow(setup.initialFolder).c_str());
  }
  return chooser;
}

void BuildOpenFile(DialogWindow* w) {
  w->picker = std::make_unique<OpenFileModel>(w->request.openFile);
  w->window = NewChooser(w->picker->picker(), nullptr);
  g_signal_connect(w->window, "map-event", G_CALLBACK(OnMapped), w);
  g_signal_connect(w->window, "response", G_CALLBACK(OnPickerResponse), w);
  // The dialog's own delete-event answers GTK_RESPONSE_DELETE_EVENT: Cancel.
}

}  // namespace

std::string Utf8(const std::string& narrow) { return Utf8FromWide(ToInterfaceText(narrow)); }

std::string NarrowFromUtf8(const char* utf8) {
  return utf8 == nullptr ? std::string() : NarrowFromOsText(utf8);
}

void ShowDialogWindow(DialogWindow* w) {
  switch (w->request.id) {
    case DialogId::kPfxFile:
    case DialogId::kChangePassword:
    case DialogId::kExportPfx:
    case DialogId::kMobilePfx:
      BuildFileDialog(w);
      break;
    case DialogId::kCertificateList:
      BuildCertificateList(w);
      break;
    case DialogId::kExportPassword:
      BuildExportPassword(w);
      break;
    case DialogId::kSignConfirmation:
      BuildSignConfirmation(w);
      break;
    case DialogId::kOpenFile:
      BuildOpenFile(w);
      break;
    case DialogId::kRootConfirmation:  // the protocol refuses it
      break;
  }
  gtk_widget_show_all(w->window);
  // The first edit the user can type into, else OK (201's default button).
  GtkWidget* focus = w->okButton;
  for (auto& e : w->entries) {
    if (gtk_widget_is_sensitive(e->entry)) {
      focus = e->entry;
      break;
    }
  }
  if (focus != nullptr) gtk_widget_grab_focus(focus);
}

PasswordEntry* FindEntry(DialogWindow* w, PasswordField field) {
  for (auto& e : w->entries) {
    if (e->field == field) return e.get();
  }
  return nullptr;
}

void RunBrowsePicker(DialogWindow* w) {
  if (!w->file || w->chooser != nullptr || w->finished) return;
  GtkWidget* chooser = NewChooser(w->file->picker(), GTK_WINDOW(w->window));
  w->chooser = chooser;
  const gint response = gtk_dialog_run(GTK_DIALOG(chooser));
  if (response == GTK_RESPONSE_ACCEPT) {
    if (w->pickOverride) {
      w->file->browsePicked(*w->pickOverride);
    } else {
      gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
      if (name != nullptr) w->file->browsePicked(NarrowFromOsText(name));
      g_free(name);
    }
  }
  w->pickOverride.reset();
  w->chooser = nullptr;
  gtk_widget_destroy(chooser);
  Refresh(w);
}

void DismissMessage(DialogWindow* w) {
  if (w->messageLoop != nullptr && g_main_loop_is_running(w->messageLoop)) {
    g_main_loop_quit(w->messageLoop);
  }
}

GtkWidget* TopWindow(DialogWindow* w) {
  if (w->messageBox != nullptr) return w->messageBox;
  if (w->chooser != nullptr) return w->chooser;
  return w->window;
}

void SyncSelection(DialogWindow* w) {
  if (!w->list || w->tree == nullptr) return;
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree));
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  if (!gtk_tree_selection_get_selected(selection, &model, &iter)) {
    w->list->selectNone();
    return;
  }
  GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
  const gint* indices = gtk_tree_path_get_indices(path);
  if (indices != nullptr) w->list->select(static_cast<size_t>(indices[0]));
  gtk_tree_path_free(path);
}

}  // namespace quorvant
