// Clipboard peers for the tests, one program with modes, each playing what
// no standard tool (xclip, xsel, wl-copy, wl-paste) can; X11's are in
// hostile_peer_x11.cc. Owners offer FILE's bytes as text, print "ready" once
// they hold the selection and end when another program takes it; Wayland's
// (wlr data-control) print "wrote N of M" per paste.
//   wayland-types TYPE FILE [TYPE FILE...]: only the TYPEs, each with its
//     FILE; wl-copy offers every text type with the same bytes. All modes
//     write with a plain loop on the fd as it comes; wl-copy makes it
//     blocking first, hiding a reader that made it not.
//   wayland-trickle FILE: every text type, a byte every 1.5 s (a child a
//     paste).
//   wayland-copy-after-read FILE NEWER: holds its first reader (ptrace) once
//     that has closed its end of the pipe, after its last check of the read,
//     and copies NEWER: no tool copies at a chosen moment of another's run.
//   wayland-copy-when-asked FILE NEWER: asked, copies NEWER, then answers as
//     the owner it was; a stopped wl-copy cannot say when it is asked.
#include "hostile_peer.h"

#include <fcntl.h>
#include <glob.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "wlr-data-control-unstable-v1-client-protocol.h"

bool ReadFile(const char* path, std::string* bytes) {
  std::ifstream file(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(file), {});
  return !file.bad() && file.is_open();
}

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

namespace {

using Offers = std::map<std::string, std::string>;  // type to bytes
Offers offers, newer;             // the first source's, and the copy's
const Offers* current = &offers;  // the source that holds the selection
wl_seat* seat;
zwlr_data_control_manager_v1* manager;
zwlr_data_control_device_v1* device;
bool replaced, trickle, copying, when_asked;
int asked = -1;  // the first reader's pipe, in a copy mode; -2 once answered

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
    if (trickle && written > 0) usleep(1500000);
    n = write(fd, bytes.data() + written, trickle ? 1 : bytes.size() - written);
    if (n < 0) break;
  }
  std::printf("wrote %zu of %zu\n", written, bytes.size());
  std::fflush(stdout);
}

void Send(void* data, zwlr_data_control_source_v1*, const char* type,
          int32_t fd) {
  const auto* source = static_cast<const Offers*>(data);
  const auto offer = source->find(type);
  if (offer == source->end()) return (void)close(fd);
  if (copying && asked == -1 && source == &offers)
    return (void)(asked = fd);  // the main loop's to answer
  // A child per trickled paste, so that the owner serves on and notices a
  // new owner.
  if (!trickle || fork() == 0) {
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
  glob_t fds;
  if (fstat(fd, &pipe) != 0 || glob("/proc/[0-9]*/fd/*", 0, nullptr, &fds))
    return false;
  const std::string name = "pipe:[" + std::to_string(pipe.st_ino) + "]";
  for (std::size_t i = 0; i < fds.gl_pathc; ++i) {
    char link[64];
    int p, d;
    if (readlink(fds.gl_pathv[i], link, sizeof link) !=
            static_cast<ssize_t>(name.size()) ||
        name.compare(0, name.size(), link, name.size()) != 0 ||
        std::sscanf(fds.gl_pathv[i], "/proc/%d/fd/%d", &p, &d) != 2)
      continue;
    const std::string info =
        "/proc/" + std::to_string(p) + "/fdinfo/" + std::to_string(d);
    unsigned flags = O_WRONLY;
    if (FILE* file = std::fopen(info.c_str(), "r"))
      std::fscanf(file, "pos: %*d flags: %o", &flags), std::fclose(file);
    if ((flags & O_ACCMODE) == O_RDONLY) *pid = p, *number = d;
  }
  globfree(&fds);
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

// The copy modes' part, once the first reader has asked. Every type has
// the same bytes in these modes.
void Answer(wl_display* display) {
  const std::string& text = offers.begin()->second;
  if (when_asked) {
    Copy(display, newer);
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
  Copy(display, newer);
  ptrace(PTRACE_DETACH, reader, 0, 0);
}

int RunWayland(const std::string& mode, char** args, int count) {
  trickle = mode == "wayland-trickle";
  when_asked = mode == "wayland-copy-when-asked";
  copying = when_asked || mode == "wayland-copy-after-read";
  std::string text, newer_text;
  if (mode == "wayland-types") {
    if (count < 2 || count % 2) return 2;
    for (int i = 0; i < count; i += 2)
      if (!ReadFile(args[i + 1], &offers[args[i]])) return 2;
  } else {
    if (!(copying || trickle) || count != 1 + copying ||
        !ReadFile(args[0], &text) ||
        (copying && !ReadFile(args[1], &newer_text)))
      return 2;
    for (const char* type : {"text/plain;charset=utf-8", "text/plain",
                             "UTF8_STRING", "STRING", "TEXT"})
      offers[type] = text, newer[type] = newer_text;
  }
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
  Say("ready");
  while (!replaced && wl_display_dispatch(display) >= 0)
    if (asked >= 0) Answer(display), asked = -2;  // only the first reader
  wl_display_disconnect(display);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  signal(SIGPIPE, SIG_IGN);
  signal(SIGCHLD, SIG_IGN);  // trickling children are not waited for
  const int status = mode.rfind("x11-", 0) == 0
                         ? RunX11(mode, argv + 2, argc - 2)
                         : RunWayland(mode, argv + 2, argc - 2);
  if (status == 2)
    std::fprintf(stderr, "usage: hostile_peer MODE ARGS (see its source)\n");
  return status;
}
