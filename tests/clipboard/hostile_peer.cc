// Clipboard peers for the tests, one program with modes, each playing what
// no standard tool (xclip, xsel, wl-copy, wl-paste) can. Owners offer
// FILE's bytes as UTF-8 text, print "ready" once they hold their selection
// and end when another program takes it.
//
//   wayland-blocking FILE: a wlr data-control owner writing with a plain
//     blocking loop on the fd as it gets it (wl-copy makes its end blocking
//     first), so a receiver that made it non-blocking sees it stop at
//     EAGAIN. Prints "wrote N of M" per paste, as all Wayland modes do.
//   wayland-trickle FILE: the same, one byte every 1.5 s (a child a paste).
//   wayland-types TYPE FILE [TYPE FILE...]: offers only the TYPEs, each with
//     its FILE's bytes; wl-copy offers every text type with the same bytes.
//   wayland-copy-after-read FILE NEWER: offers FILE; its first reader is
//     held (ptrace) once it has closed its end of the pipe, which it does
//     only after its last check of the read, while this peer copies
//     NEWER's bytes as another owner would. No tool can copy at a chosen
//     moment of another program's run: without the hold, the copy would
//     race the run's write.
//   wayland-copy-when-asked FILE NEWER: asked for FILE's bytes, first copies
//     NEWER, then answers as the owner it was; a stopped wl-copy cannot say
//     when it has been asked, nor be sure to answer after the copy.
//   x11-incr-trickle FILE: answers through INCR, one byte every 1.5 s;
//     xclip's INCR goes at full speed.
//   x11-incr-flood FILE TOTAL: answers through INCR with 64 KiB chunks of
//     FILE's bytes, over and over, TOTAL bytes in all, announcing one less
//     (the announcement is only a lower bound); xclip sends what it has.
//   x11-types TARGET FILE [TARGET FILE...]: offers only the TARGETs, each
//     with its FILE's bytes (xclip offers one target, xsel all with the same
//     bytes); unlike them, it shrugs off X errors, so it lives on after
//     answering, once stopped and resumed, a requestor whose window is gone.
//   x11-copy-while-read WHEN OLD NEWER: offers OLD and, on the first request
//     for it, copies NEWER: from the same window, once OLD is in the
//     requestor's property but before it is told (retake: an application
//     copying again, which only the time of the selection shows); from a
//     second window at that same moment (replace); or from a second window
//     once the requestor has taken the first of two INCR pieces (incr). The
//     copy must land at one exact point of the reader's work, which only
//     the owner knows; a standard tool copying from outside lands anywhere.
//     When NEWER is OLD, it plays a clipboard manager taking the clipboard
//     again with the text it just handed out.
//   x11-manager FILE: a clipboard manager; no standard tool answers
//     SAVE_TARGETS and the desktops' managers never take the text over as
//     the protocol has it. Owns CLIPBOARD_MANAGER; asked for SAVE_TARGETS,
//     fetches UTF8_STRING from the CLIPBOARD owner, writes it to FILE, takes
//     CLIPBOARD and serves the text, then answers.
//   x11-lazy-manager: owns CLIPBOARD_MANAGER and says yes to SAVE_TARGETS
//     without fetching anything, as weston's XWayland window manager does:
//     asked, it prints "asked", answers once sent SIGUSR1 (so that others
//     can fetch the text in between), and prints "acknowledged".
//   x11-targets-flood: asks the CLIPBOARD owner for TARGETS until killed,
//     never waiting.
//   x11-incr-reader vanish|stall: asks for UTF8_STRING and, given INCR,
//     takes the announcement, then destroys its window before the owner can
//     write the first piece (vanish), or takes that piece 6 s late and asks
//     for TARGETS, printing "served on" if a next piece came before their
//     answer, else "dropped" (stall). xclip -o takes INCR at full speed.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

constexpr useconds_t kTrickle = 1500000;  // 1.5 s a byte

std::string text;  // what an owner offers
bool trickle = false;

int Ready() {
  std::printf("ready\n");
  return std::fflush(stdout);
}

bool Read(const char* path, std::string* bytes) {
  std::ifstream file(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(file), {});
  return !file.bad() && file.is_open();
}

// --- Wayland -------------------------------------------------------------

using Offers = std::map<std::string, std::string>;  // type to bytes
Offers offers, newer_offers;
const Offers* current = &offers;  // the source that holds the selection
wl_seat* seat;
zwlr_data_control_manager_v1* manager;
zwlr_data_control_device_v1* device;
bool replaced;
std::string newer;            // what the copy modes copy
bool after_read, when_asked;  // the copy modes
int asked = -1;               // the first reader's pipe, in a copy mode

void Global(void*, wl_registry* registry, std::uint32_t name,
            const char* interface, std::uint32_t) {
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat)
    seat = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, 1));
  if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
    manager = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_data_control_manager_v1_interface, 1));
}
void GlobalRemove(void*, wl_registry*, std::uint32_t) {}

// The plain loop: whatever the fd's flags, write until done or refused.
void WriteAll(int fd, const std::string& bytes) {
  std::size_t written = 0;
  for (ssize_t n; written < bytes.size(); written += n) {
    if (trickle && written > 0) usleep(kTrickle);
    n = write(fd, bytes.data() + written, trickle ? 1 : bytes.size() - written);
    if (n < 0) break;
  }
  const int error = written < bytes.size() ? errno : 0;
  std::printf("wrote %zu of %zu%s%s\n", written, bytes.size(),
              error ? ": " : "", error ? std::strerror(error) : "");
  std::fflush(stdout);
}

void Send(void* data, zwlr_data_control_source_v1*, const char* type,
          int32_t fd) {
  const Offers& source = *static_cast<const Offers*>(data);
  const auto offer = source.find(type);
  if (offer != source.end() && asked == -1 && (after_read || when_asked) &&
      &source == &offers) {
    asked = fd;  // the main loop's to answer
    return;
  }
  // A child per trickled paste, so the owner keeps serving and notices a
  // new owner.
  if (offer != source.end() && (!trickle || fork() == 0)) {
    WriteAll(fd, offer->second);
    if (trickle) _exit(0);
  }
  close(fd);
}
void Cancelled(void* data, zwlr_data_control_source_v1*) {
  replaced = replaced || data == current;
}
const zwlr_data_control_source_v1_listener kSourceListener = {Send, Cancelled};

void Copy(wl_display* display, const Offers& what) {
  auto* source = zwlr_data_control_manager_v1_create_data_source(manager);
  zwlr_data_control_source_v1_add_listener(source, &kSourceListener,
                                           const_cast<Offers*>(&what));
  for (const auto& offer : what)
    zwlr_data_control_source_v1_offer(source, offer.first.c_str());
  current = &what;
  zwlr_data_control_device_v1_set_selection(device, source);
  wl_display_roundtrip(display);
}

// The process reading the pipe that fd writes to, and its end's number.
bool FindReader(int fd, pid_t* pid, int* number) {
  struct stat pipe;
  if (fstat(fd, &pipe) != 0) return false;
  const std::string name = "pipe:[" + std::to_string(pipe.st_ino) + "]";
  DIR* proc = opendir("/proc");
  while (dirent* process = proc ? readdir(proc) : nullptr) {
    const std::string dir = std::string("/proc/") + process->d_name;
    if (std::atoi(process->d_name) <= 0) continue;
    DIR* fds = opendir((dir + "/fd").c_str());
    while (dirent* entry = fds ? readdir(fds) : nullptr) {
      char link[64];
      const ssize_t n =
          readlink((dir + "/fd/" + entry->d_name).c_str(), link, sizeof link);
      if (name.compare(0, name.size(), link, n > 0 ? n : 0) != 0) continue;
      std::ifstream info(dir + "/fdinfo/" + entry->d_name);
      std::string key;
      unsigned flags = O_WRONLY;
      while (info >> key && key != "flags:") {
      }
      info >> std::oct >> flags;
      if ((flags & O_ACCMODE) == O_RDONLY) {
        *pid = std::atoi(process->d_name);
        *number = std::atoi(entry->d_name);
      }
    }
    if (fds) closedir(fds);
  }
  if (proc) closedir(proc);
  return *number >= 0;
}

// Stops pid, traced; it goes on only as HoldAfterClose lets it.
bool Seize(pid_t pid) {
  int status;
  return ptrace(PTRACE_SEIZE, pid, 0, PTRACE_O_TRACESYSGOOD) == 0 &&
         ptrace(PTRACE_INTERRUPT, pid, 0, 0) == 0 &&
         waitpid(pid, &status, __WALL) == pid && WIFSTOPPED(status);
}

// Lets pid, seized, run until it has closed its descriptor number, and
// leaves it stopped there.
bool HoldAfterClose(pid_t pid, int number) {
  bool closing = false;
  for (int status = 0, signal = 0;
       ptrace(PTRACE_SYSCALL, pid, 0, signal) == 0 &&
       waitpid(pid, &status, __WALL) == pid && WIFSTOPPED(status);) {
    signal = 0;
    if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
      __ptrace_syscall_info call;
      ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof call, &call);
      if (call.op == PTRACE_SYSCALL_INFO_EXIT && closing) return true;
      closing = call.op == PTRACE_SYSCALL_INFO_ENTRY &&
                call.entry.nr == SYS_close &&
                call.entry.args[0] == static_cast<unsigned>(number);
    } else if (status >> 16 == 0) {
      signal = WSTOPSIG(status);  // one of its own: passed on
    }
  }
  return false;
}

// The copy modes' part, once the first reader has asked.
void Answer(wl_display* display) {
  if (when_asked) {
    Copy(display, newer_offers);
    WriteAll(asked, text);
    close(asked);
    return;
  }
  pid_t reader = 0;
  int number = -1;
  const bool traced = FindReader(asked, &reader, &number) && Seize(reader);
  if (fork() == 0) {  // the reader runs on while traced, so it can take it
    WriteAll(asked, text);
    _exit(0);
  }
  close(asked);
  // Without the hold, no copy: one at a moment left to chance would make
  // the test pass or fail by it.
  if (!traced || !HoldAfterClose(reader, number))
    return (void)std::fprintf(stderr, "could not hold the reader\n");
  Copy(display, newer_offers);
  ptrace(PTRACE_DETACH, reader, 0, 0);
}

int RunWayland() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return std::perror("wl_display_connect"), 1;
  static const wl_registry_listener registry = {Global, GlobalRemove};
  wl_registry_add_listener(wl_display_get_registry(display), &registry,
                           nullptr);
  wl_display_roundtrip(display);
  if (seat == nullptr || manager == nullptr)
    return std::fprintf(stderr, "no seat or wlr data-control\n"), 1;
  device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
  Copy(display, offers);
  Ready();
  while (!replaced && wl_display_dispatch(display) >= 0) {
    if (asked >= 0) Answer(display);
    if (asked >= 0) asked = -2;  // only the first reader
  }
  wl_display_disconnect(display);
  return 0;
}

// --- X11 -----------------------------------------------------------------

xcb_connection_t* x;
xcb_atom_t clipboard, targets, utf8, incr, save_targets, property;

xcb_atom_t Atom(const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      x, xcb_intern_atom(x, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

xcb_window_t MakeWindow() {
  const xcb_window_t window = xcb_generate_id(x);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(x, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1,
                    0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                    XCB_CW_EVENT_MASK, &mask);
  return window;
}

bool Own(xcb_window_t window, xcb_atom_t selection, xcb_timestamp_t time) {
  xcb_set_selection_owner(x, window, selection, time);
  xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
      x, xcb_get_selection_owner(x, selection), nullptr);
  const bool owns = owner && owner->owner == window;
  std::free(owner);
  return owns;
}

// Tells the requestor its answer is in property, or refused with none.
void Notify(const xcb_selection_request_event_t& request, xcb_atom_t answer) {
  xcb_selection_notify_event_t notify{};
  notify.property = answer;  // the rest echoes the request
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  xcb_send_event(x, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&notify));
}

template <typename Wanted>
xcb_generic_event_t* WaitFor(Wanted&& wanted) {
  xcb_flush(x);
  while (xcb_generic_event_t* event = xcb_wait_for_event(x)) {
    if (wanted(event->response_type & 0x7f, event)) return event;
    std::free(event);
  }
  std::exit(1);
}

// Asks for CLIPBOARD as target into our property, and waits for the answer.
bool Ask(xcb_window_t window, xcb_atom_t target) {
  xcb_convert_selection(x, window, clipboard, target, property,
                        XCB_CURRENT_TIME);
  auto* event = reinterpret_cast<xcb_selection_notify_event_t*>(
      WaitFor([](int kind, auto*) { return kind == XCB_SELECTION_NOTIFY; }));
  const bool answered = event->property != XCB_ATOM_NONE;
  std::free(event);
  return answered;
}

// The requestors: x11-targets-flood, x11-incr-reader.
int RunX11Requestor(const std::string& mode, const std::string& how) {
  const xcb_window_t window = MakeWindow();
  if (mode == "x11-targets-flood") {
    Ready();
    for (long i = 0;; ++i) {
      xcb_convert_selection(x, window, clipboard, targets, property,
                            XCB_CURRENT_TIME);
      // Answers are read and dropped, so that the server never blocks on us.
      while (xcb_generic_event_t* event = xcb_poll_for_event(x))
        std::free(event);
      if (i % 64 == 63 && xcb_flush(x) <= 0) return 1;
    }
  }
  if (!Ask(window, utf8)) return std::printf("refused\n"), 1;
  const auto new_value = [&](int kind, xcb_generic_event_t* e) {
    auto* n = reinterpret_cast<xcb_property_notify_event_t*>(e);
    return kind == XCB_PROPERTY_NOTIFY && n->atom == property &&
           n->state == XCB_PROPERTY_NEW_VALUE;
  };
  // Taking the announcement asks for the first piece.
  xcb_delete_property(x, window, property);
  if (how == "vanish") {
    // Gone before the owner can write that piece.
    xcb_destroy_window(x, window);
    xcb_flush(x);
    return std::printf("vanished\n"), 0;
  }
  std::free(WaitFor(new_value));
  usleep(6000000);  // longer than an owner waits on a reader
  // Takes the first piece, which asks for the next, then asks for TARGETS:
  // the owner handles both in order, so a next piece comes first if at all.
  xcb_delete_property(x, window, property);
  xcb_convert_selection(x, window, clipboard, targets, Atom("HOSTILE_PEER_2"),
                        XCB_CURRENT_TIME);
  xcb_generic_event_t* event = WaitFor([&](int kind, auto* e) {
    return kind == XCB_SELECTION_NOTIFY || new_value(kind, e);
  });
  const bool dropped = (event->response_type & 0x7f) == XCB_SELECTION_NOTIFY;
  std::free(event);
  return std::printf(dropped ? "dropped\n" : "served on\n"), 0;
}

// The lazy manager: says yes to SAVE_TARGETS, fetching nothing, once told.
int RunLazyManager() {
  sigset_t told;
  sigemptyset(&told);
  sigaddset(&told, SIGUSR1);
  sigprocmask(SIG_BLOCK, &told, nullptr);
  const xcb_window_t window = MakeWindow();
  if (!Own(window, Atom("CLIPBOARD_MANAGER"), XCB_CURRENT_TIME))
    return std::fprintf(stderr, "could not own the selection\n"), 1;
  Ready();
  for (;;) {
    auto* request = reinterpret_cast<xcb_selection_request_event_t*>(
        WaitFor([](int kind, auto*) { return kind == XCB_SELECTION_REQUEST; }));
    const bool save = request->target == save_targets;
    int signal = 0;
    if (save)
      std::printf("asked\n"), std::fflush(stdout), sigwait(&told, &signal);
    Notify(*request, save ? request->property : xcb_atom_t{XCB_ATOM_NONE});
    std::free(request);
    xcb_flush(x);
    if (save) std::printf("acknowledged\n"), std::fflush(stdout);
  }
}

// An INCR transfer under way to one requestor's property.
struct Transfer {
  const std::string* bytes;
  std::size_t sent = 0;
  std::size_t total;         // bytes to send, cycling through *bytes
  std::size_t chunk;         // bytes a piece
  std::size_t copy_at = -1;  // the racing copy, once this much was taken
};

// The owners. args are the mode's: FILE, or TARGET FILE..., or WHEN OLD NEWER.
int RunX11Owner(const std::string& mode, char** args, int count) {
  const bool manager = mode == "x11-manager", flood = mode == "x11-incr-flood",
             trickle = mode == "x11-incr-trickle",
             racing = mode == "x11-copy-while-read";
  const std::string when = racing ? args[0] : "";
  // Each window's offer: target to bytes.
  std::map<xcb_window_t, std::map<xcb_atom_t, std::string>> offers;
  xcb_window_t window = MakeWindow(), current = window;
  std::string newer;
  if (mode == "x11-types") {
    for (int i = 0; i + 1 < count; i += 2)
      if (!Read(args[i + 1], &offers[window][Atom(args[i])])) return 2;
  } else if (racing) {
    if (!Read(args[1], &offers[window][utf8]) || !Read(args[2], &newer))
      return 2;
  } else if (!manager) {
    offers[window][utf8] = text;
  }
  // The racing owner's copy: its text becomes NEWER, from the same window
  // (retake) or from a second one.
  bool copied = !racing;
  const auto copy = [&] {
    copied = true;
    if (when != "retake") current = MakeWindow();
    offers[current][utf8] = newer;
    Own(current, clipboard, XCB_CURRENT_TIME);
  };
  // The manager's part: fetches the owner's text into `text` and FILE, and
  // takes the clipboard.
  const auto save = [&](xcb_timestamp_t time) {
    if (!Ask(window, utf8)) return false;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        x, xcb_get_property(x, 1, window, property, XCB_ATOM_ANY, 0, 1 << 24),
        nullptr);
    const bool got = reply && reply->type != XCB_ATOM_NONE;
    if (got)
      text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                  xcb_get_property_value_length(reply));
    std::free(reply);
    if (got) std::ofstream(args[0], std::ios::binary) << text;
    if (got) offers[window][utf8] = text;
    return got && Own(window, clipboard, time);
  };
  if (!Own(window, manager ? Atom("CLIPBOARD_MANAGER") : clipboard,
           XCB_CURRENT_TIME))
    return std::fprintf(stderr, "could not own the selection\n"), 1;
  Ready();
  std::map<std::pair<xcb_window_t, xcb_atom_t>, Transfer> transfers;
  // Errors (about requestors gone meanwhile) come as events and are dropped.
  while (xcb_generic_event_t* event = xcb_wait_for_event(x)) {
    const std::uint8_t kind = event->response_type & 0x7f;
    if (kind == XCB_SELECTION_CLEAR &&
        reinterpret_cast<xcb_selection_clear_event_t*>(event)->owner == current)
      return std::free(event), 0;
    if (kind == XCB_SELECTION_REQUEST) {
      const auto& request =
          *reinterpret_cast<xcb_selection_request_event_t*>(event);
      const auto& offer = offers[request.owner];
      const auto found = offer.find(request.target);
      xcb_atom_t answer = request.property;
      if (request.selection != clipboard) {
        if (!manager || request.target != save_targets || !save(request.time))
          answer = XCB_ATOM_NONE;
      } else if (request.target == targets) {
        std::vector<xcb_atom_t> offered = {targets};
        for (const auto& type : offer) offered.push_back(type.first);
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, request.requestor,
                            request.property, XCB_ATOM_ATOM, 32, offered.size(),
                            offered.data());
      } else if (found == offer.end()) {
        answer = XCB_ATOM_NONE;
      } else if (flood || trickle || (!copied && when == "incr")) {
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(x, request.requestor, XCB_CW_EVENT_MASK,
                                     &mask);
        Transfer transfer{&found->second, 0, found->second.size(),
                          trickle ? 1 : std::size_t{65536}};
        if (flood) transfer.total = std::stoul(args[1]);
        if (!copied) {  // two pieces; the copy once the first is taken
          transfer.chunk = transfer.copy_at = (transfer.total + 1) / 2;
        }
        // The announced size is a lower bound; the flood's, the cap.
        const std::uint32_t size = static_cast<std::uint32_t>(
            std::min<std::size_t>(transfer.total - flood, UINT32_MAX));
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, request.requestor,
                            request.property, incr, 32, 1, &size);
        transfers[{request.requestor, request.property}] = transfer;
      } else {
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, request.requestor,
                            request.property, request.target, 8,
                            static_cast<std::uint32_t>(found->second.size()),
                            found->second.data());
        if (!copied && when != "incr") copy();
      }
      Notify(request, answer);
    } else if (kind == XCB_PROPERTY_NOTIFY) {
      auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
      auto it = transfers.find({change->window, change->atom});
      if (change->state == XCB_PROPERTY_DELETE && it != transfers.end()) {
        // The requestor took the last piece: the next one, slowly or
        // without end; the empty piece closes it.
        Transfer& t = it->second;
        if (trickle && t.sent > 0 && t.sent < t.total) usleep(kTrickle);
        if (t.sent == t.copy_at && !copied) copy();
        const std::size_t offset = t.sent % t.bytes->size();
        const std::size_t length =
            std::min({t.chunk, t.total - t.sent, t.bytes->size() - offset});
        xcb_change_property(
            x, XCB_PROP_MODE_REPLACE, change->window, change->atom, utf8, 8,
            static_cast<std::uint32_t>(length), t.bytes->data() + offset);
        t.sent += length;
        if (length == 0) transfers.erase(it);
      }
    }
    std::free(event);
    xcb_flush(x);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  signal(SIGPIPE, SIG_IGN);
  signal(SIGCHLD, SIG_IGN);  // trickling children are not waited for
  after_read = mode == "wayland-copy-after-read";
  when_asked = mode == "wayland-copy-when-asked";
  const bool pairs = mode == "wayland-types" || mode == "x11-types";
  bool ok = pairs ? argc >= 4 && argc % 2 == 0
            : mode == "x11-targets-flood" || mode == "x11-lazy-manager"
                ? argc == 2
            : mode == "x11-incr-flood" || after_read || when_asked ? argc == 4
            : mode == "x11-copy-while-read"                        ? argc == 5
                                                                   : argc == 3;
  for (int i = 2; ok && mode == "wayland-types" && i < argc; i += 2)
    ok = Read(argv[i + 1], &offers[argv[i]]);
  const bool owner = mode == "x11-incr-trickle" || mode == "x11-incr-flood" ||
                     mode.rfind("wayland-", 0) == 0;
  if (ok && owner && mode != "wayland-types") {
    ok = Read(argv[2], &text) &&
         (!(after_read || when_asked) || Read(argv[3], &newer));
  }
  trickle = mode == "wayland-trickle";
  const bool wayland =
      trickle || after_read || when_asked || mode == "wayland-blocking";
  for (const char* type : {"text/plain;charset=utf-8", "text/plain",
                           "UTF8_STRING", "STRING", "TEXT"}) {
    if (wayland) offers[type] = text;
    if (wayland) newer_offers[type] = newer;
  }
  if (ok && (wayland || mode == "wayland-types")) return RunWayland();
  const bool requestor =
      mode == "x11-targets-flood" || mode == "x11-incr-reader";
  if (!ok || !(owner || requestor || mode == "x11-manager" ||
               mode == "x11-lazy-manager" || mode == "x11-types" ||
               mode == "x11-copy-while-read"))
    return std::fprintf(stderr,
                        "usage: hostile_peer MODE ARGS (see its source)\n"),
           2;
  x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x))
    return std::fprintf(stderr, "no X display\n"), 1;
  clipboard = Atom("CLIPBOARD"), targets = Atom("TARGETS"),
  utf8 = Atom("UTF8_STRING"), incr = Atom("INCR"),
  save_targets = Atom("SAVE_TARGETS"), property = Atom("HOSTILE_PEER");
  if (requestor) return RunX11Requestor(mode, argc > 2 ? argv[2] : "");
  if (mode == "x11-lazy-manager") return RunLazyManager();
  return RunX11Owner(mode, argv + 2, argc - 2);
}
