// quorvant-dialogs: shows one of the component's dialogs with GTK 3 and
// tells the library what the user did. The library starts it for every
// dialog (src/dialogs/helper_dialog_host.h) with a socket as its standard
// input and output; the messages are those of src/dialogs/dialog_protocol.h.
//
//   quorvant-dialogs --serve
//
// Exit status 0 after an answer, 2 when no request could be read.
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "dialog_window.h"
#include "dialogs/dialog_protocol.h"
#include "driver.h"
#include "encoding/code_page.h"

namespace quorvant {
namespace {

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadRequest(int fd, ProtocolMessage* message) {
  FrameReader reader;
  char buffer[16384];
  for (;;) {
    switch (reader.next(message)) {
      case FrameReader::Status::kFrame:
        return true;
      case FrameReader::Status::kBroken:
        return false;
      case FrameReader::Status::kNeedMore:
        break;
    }
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    reader.append(buffer, static_cast<size_t>(n));
  }
}

void Answer(int fd, DialogId id, const DialogResult& result) {
  WriteAll(fd, EncodeFrame(EncodeResult(id, result)));
}

// The library closed its end (it was killed, or gave up on us): nobody
// waits for this dialog any more.
gboolean OnLibraryGone(gint, GIOCondition, gpointer) {
  _exit(0);
  return G_SOURCE_REMOVE;
}

int Serve(int argc, char** argv) {
  // The protocol keeps the socket; stray output of libraries goes to the log
  // (standard error) instead of into the protocol.
  const int in = fcntl(0, F_DUPFD_CLOEXEC, 3);
  const int out = fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (in < 0 || out < 0) return 2;
  const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (devnull >= 0) dup2(devnull, 0);
  dup2(2, 1);
  signal(SIGPIPE, SIG_IGN);

  ProtocolMessage message;
  if (!ReadRequest(in, &message)) return 2;
  DialogWindow window;
  std::vector<ScriptAction> steps;
  uint32_t codePage = 0;
  std::string error;
  if (!DecodeRequest(message, &window.request, &steps, &codePage, &error)) {
    std::fprintf(stderr, "quorvant-dialogs: bad request: %s\n", error.c_str());
    return 2;
  }
  const DialogId id = window.request.id;
  if (codePage != 0 && !SetActiveCodePage(codePage)) {
    window.result.notes.push_back("code page " + std::to_string(codePage) + " not supported");
    Answer(out, id, window.result);  // kCannotCreate
    return 0;
  }
  if (id == DialogId::kCertificateList && window.request.rows.empty()) {
    window.result.notes.push_back("an empty certificate list");  // nothing to choose from
    Answer(out, id, window.result);
    return 0;
  }
  g_set_prgname("quorvant-dialogs");
  if (!gtk_init_check(&argc, &argv)) {
    window.result.notes.push_back("no display");
    Answer(out, id, window.result);
    return 0;
  }
  window.platform = MakeLinuxDialogPlatform();
  window.onShown = [&] {
    if (!WriteAll(out, EncodeFrame(EncodeShown(id)))) _exit(0);
    if (!steps.empty()) StartDriver(&window, std::move(steps));
  };
  g_unix_fd_add(in, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnLibraryGone,
                nullptr);
  ShowDialogWindow(&window);
  gtk_main();
  Answer(out, id, window.result);
  return 0;
}

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--serve") != 0) {
    std::fprintf(stderr,
                 "usage: quorvant-dialogs --serve\n"
                 "Shows one QuorvantATL dialog; started by the library, which sends the\n"
                 "request on standard input and reads the answer on standard output.\n");
    return 2;
  }
  return quorvant::Serve(argc, argv);
}
