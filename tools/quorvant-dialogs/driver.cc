#include "driver.h"

#include <memory>

#include "encoding/code_page.h"

namespace quorvant {
namespace {

constexpr guint kFirstStepDelayMs = 400;
constexpr guint kStepDelayMs = 150;
constexpr guint kPickPollMs = 50;
constexpr int kPickPolls = 60;  // 3 s for the picker to load the folder

struct Driver {
  DialogWindow* w = nullptr;
  std::vector<ScriptAction> steps;
  size_t next = 0;
  bool busy = false;  // a pick waits for the picker
  GtkWidget* pickTarget = nullptr;
  std::string pickPath;  // OS path
  int pickPolls = 0;
};

gboolean RunStep(gpointer data);
gboolean EndDrive(gpointer data);

void Note(Driver* d, std::string text) { d->w->result.notes.push_back(std::move(text)); }

void Schedule(Driver* d, guint delayMs, GSourceFunc step) { g_timeout_add(delayMs, step, d); }

bool Screenshot(GtkWidget* top, const std::string& osPath, std::string* error) {
  GdkWindow* window = gtk_widget_get_window(top);
  if (window == nullptr) {
    *error = "no window";
    return false;
  }
  gdk_display_sync(gdk_window_get_display(window));
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                 gdk_window_get_height(window));
  if (pixbuf == nullptr) {
    *error = "the window could not be read";
    return false;
  }
  GError* failure = nullptr;
  const gboolean saved = gdk_pixbuf_save(pixbuf, osPath.c_str(), "png", &failure, nullptr);
  g_object_unref(pixbuf);
  if (!saved) {
    *error = failure != nullptr ? failure->message : "gdk_pixbuf_save failed";
    if (failure != nullptr) g_error_free(failure);
    return false;
  }
  return true;
}

bool PickerHas(GtkWidget* chooser, const std::string& osPath) {
  const bool folder = gtk_file_chooser_get_action(GTK_FILE_CHOOSER(chooser)) ==
                      GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
  gchar* current = folder ? gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser))
                          : gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
  const bool same = current != nullptr && osPath == current;
  g_free(current);
  return same;
}

// Waits until the picker shows the path, then confirms it.
gboolean FinishPick(gpointer data) {
  auto* d = static_cast<Driver*>(data);
  DialogWindow* w = d->w;
  GtkWidget* target = d->pickTarget;
  const bool stillOpen = target != nullptr && !w->finished &&
                         (target == w->chooser || (w->picker && target == w->window));
  if (!stillOpen) {
    d->busy = false;
    return G_SOURCE_REMOVE;
  }
  if (!PickerHas(target, d->pickPath) && ++d->pickPolls < kPickPolls) return G_SOURCE_CONTINUE;
  if (!PickerHas(target, d->pickPath)) {
    Note(d, "pick: the picker did not take up " + d->pickPath + " in time; picked it directly");
    w->pickOverride = NarrowFromOsText(d->pickPath);
  }
  d->busy = false;
  d->pickTarget = nullptr;
  gtk_dialog_response(GTK_DIALOG(target), GTK_RESPONSE_ACCEPT);
  return G_SOURCE_REMOVE;
}

void Pick(Driver* d, const std::string& narrow) {
  DialogWindow* w = d->w;
  GtkWidget* target = w->chooser != nullptr ? w->chooser : (w->picker ? w->window : nullptr);
  if (target == nullptr) {
    Note(d, "pick: no picker is open");
    return;
  }
  const std::string os = OsPathFromNarrow(narrow);
  if (os.empty()) {
    Note(d, "pick: an empty name keeps the picker open");
    return;
  }
  if (gtk_file_chooser_get_action(GTK_FILE_CHOOSER(target)) ==
      GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER) {
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(target), os.c_str());
  } else {
    gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(target), os.c_str());
  }
  d->busy = true;
  d->pickTarget = target;
  d->pickPath = os;
  d->pickPolls = 0;
  g_timeout_add(kPickPollMs, FinishPick, d);
}

void Click(Driver* d, GtkWidget* button, const char* what) {
  if (button == nullptr) {
    Note(d, std::string("press ") + what + ": no such button in this dialog");
  } else if (!gtk_widget_is_sensitive(button)) {
    Note(d, std::string("press ") + what + ": the button is disabled");
  } else {
    gtk_button_clicked(GTK_BUTTON(button));
  }
}

void Type(Driver* d, const ScriptAction& step) {
  DialogWindow* w = d->w;
  const std::string field(PasswordFieldName(step.field));
  if (w->chooser != nullptr) {
    Note(d, "type: the picker is open");
    return;
  }
  PasswordEntry* e = FindEntry(w, step.field);
  if (e == nullptr) {
    Note(d, "type: no edit " + field + " in this dialog");
    return;
  }
  if (!gtk_widget_is_sensitive(e->entry)) {
    Note(d, "type: " + field + " is disabled");
    return;
  }
  gtk_widget_grab_focus(e->entry);
  GtkEditable* editable = GTK_EDITABLE(e->entry);
  gtk_editable_delete_text(editable, 0, -1);
  const std::string utf8 = Utf8(step.text);
  gint position = 0;
  gtk_editable_insert_text(editable, utf8.c_str(), static_cast<gint>(utf8.size()), &position);
}

void Perform(Driver* d, const ScriptAction& step) {
  DialogWindow* w = d->w;
  switch (step.kind) {
    case ScriptAction::kType:
      Type(d, step);
      break;
    case ScriptAction::kPressOk:
      if (w->chooser != nullptr) {
        gtk_dialog_response(GTK_DIALOG(w->chooser), GTK_RESPONSE_ACCEPT);
      } else if (w->picker) {
        gtk_dialog_response(GTK_DIALOG(w->window), GTK_RESPONSE_ACCEPT);
      } else {
        Click(d, w->okButton, "ok");
      }
      break;
    case ScriptAction::kPressCancel:
      if (w->chooser != nullptr) {
        gtk_dialog_response(GTK_DIALOG(w->chooser), GTK_RESPONSE_CANCEL);
      } else if (w->picker) {
        gtk_dialog_response(GTK_DIALOG(w->window), GTK_RESPONSE_CANCEL);
      } else {
        Click(d, w->cancelButton, "cancel");
      }
      break;
    case ScriptAction::kPressBrowse:
      Click(d, w->browseButton, "browse");  // runs the picker until it closes
      break;
    case ScriptAction::kBrowse:
      if (w->browseButton != nullptr && gtk_widget_is_sensitive(w->browseButton)) {
        ScriptAction pick;
        pick.kind = ScriptAction::kPick;
        pick.text = step.text;
        d->steps.insert(d->steps.begin() + static_cast<std::ptrdiff_t>(d->next), pick);
      }
      Click(d, w->browseButton, "browse");
      break;
    case ScriptAction::kPick:
      Pick(d, step.text);
      break;
    case ScriptAction::kPressView:
      Click(d, w->viewButton, "view");
      break;
    case ScriptAction::kSelect:
    case ScriptAction::kSelectNone: {
      if (w->tree == nullptr) {
        Note(d, "select: no list in this dialog");
        break;
      }
      GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree));
      if (step.kind == ScriptAction::kSelectNone) {
        gtk_tree_selection_unselect_all(selection);
      } else if (static_cast<size_t>(step.number) < w->request.rows.size()) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(static_cast<gint>(step.number), -1);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(w->tree), path, nullptr, FALSE);
        gtk_tree_path_free(path);
      } else {
        Note(d, "select: no row " + std::to_string(step.number));
      }
      break;
    }
    case ScriptAction::kDismiss:
      if (w->messageBox != nullptr) {
        DismissMessage(w);
      } else {
        Note(d, "dismiss: no message box is open");
      }
      break;
    case ScriptAction::kScreenshot: {
      std::string error;
      if (!Screenshot(TopWindow(w), OsPathFromNarrow(step.text), &error)) {
        Note(d, "screenshot: " + error);
      }
      break;
    }
    case ScriptAction::kWait:
      break;
  }
}

gboolean RunStep(gpointer data) {
  auto* d = static_cast<Driver*>(data);
  DialogWindow* w = d->w;
  if (w->finished) return G_SOURCE_REMOVE;
  if (d->busy) {
    Schedule(d, kStepDelayMs, RunStep);
    return G_SOURCE_REMOVE;
  }
  if (d->next >= d->steps.size()) {
    Schedule(d, kStepDelayMs, EndDrive);
    return G_SOURCE_REMOVE;
  }
  const ScriptAction step = d->steps[d->next];
  const bool reachesMessageBox = step.kind == ScriptAction::kDismiss ||
                                 step.kind == ScriptAction::kScreenshot ||
                                 step.kind == ScriptAction::kWait;
  if (w->messageBox != nullptr && !reachesMessageBox) {
    // A person reads the message and presses its OK before anything else.
    Note(d, "a message box was dismissed before: " + FormatScriptAction(step));
    DismissMessage(w);
    Schedule(d, kStepDelayMs, RunStep);
    return G_SOURCE_REMOVE;
  }
  ++d->next;
  // The next step is due before this one runs: pressing a button may run a
  // picker or a message box in a loop of its own, and the steps go on there.
  Schedule(d, step.kind == ScriptAction::kWait ? static_cast<guint>(step.number) : kStepDelayMs,
           RunStep);
  Perform(d, step);
  return G_SOURCE_REMOVE;
}

gboolean EndDrive(gpointer data) {
  auto* d = static_cast<Driver*>(data);
  DialogWindow* w = d->w;
  if (w->finished) return G_SOURCE_REMOVE;
  if (w->messageBox != nullptr) {
    DismissMessage(w);
  } else if (w->chooser != nullptr) {
    gtk_dialog_response(GTK_DIALOG(w->chooser), GTK_RESPONSE_CANCEL);
  } else {
    Note(d, "the steps ended with the dialog open: cancelled");
    CancelDialog(w);
    return G_SOURCE_REMOVE;
  }
  Schedule(d, kStepDelayMs, EndDrive);
  return G_SOURCE_REMOVE;
}

}  // namespace

void StartDriver(DialogWindow* window, std::vector<ScriptAction> steps) {
  // The helper shows one dialog and ends; the driver lives until then.
  static std::unique_ptr<Driver> driver;
  driver = std::make_unique<Driver>();
  Driver* d = driver.get();
  d->w = window;
  d->steps = std::move(steps);
  Schedule(d, kFirstStepDelayMs, RunStep);
}

}  // namespace quorvant
