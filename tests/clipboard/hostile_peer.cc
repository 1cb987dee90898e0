// Hostile clipboard peers for the tests, one program with modes. Each plays
// a misbehaving program that no standard tool can play: wl-copy makes its
// end of a pipe blocking and writes at full speed, xclip answers INCR at
// full speed and ends, and neither floods. The text is a FILE's bytes,
// offered as UTF-8 text; an owner prints "ready" once it holds the
// clipboard and ends when another program takes it.
//
//   hostile_peer wayland-blocking FILE [ext]
//     Wayland owner (wlr data-control; ext-data-control with "ext", which no
//     standard tool speaks) writing with a plain blocking loop on the fd as
//     it gets it, so a receiver that made that end non-blocking sees it stop
//     at EAGAIN; given a blocking pipe, an ordinary owner. Prints "wrote N
//     of M" per paste.
//   hostile_peer wayland-trickle FILE [ext]
//     Wayland owner writing one byte every 1.5 s (a child per paste).
//   hostile_peer x11-incr-trickle FILE
//     X11 CLIPBOARD owner answering through INCR, one byte every 1.5 s.
//   hostile_peer x11-incr-flood FILE
//     X11 CLIPBOARD owner answering through INCR with 64 KiB chunks of the
//     FILE's bytes, over and over, never the closing empty chunk.
//   hostile_peer x11-targets-flood
//     X11 requestor asking the CLIPBOARD's owner for TARGETS until killed,
//     without waiting for the answers.
#include <fcntl.h>
#include <signal.h>
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
#include <utility>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

const char* const kTypes[] = {"text/plain;charset=utf-8", "text/plain",
                              "UTF8_STRING", "STRING", "TEXT"};
constexpr useconds_t kTrickle = 1500000;  // 1.5 s a byte

std::string text;
bool trickle = false;

int Ready() {
  std::printf("ready\n");
  return std::fflush(stdout);
}

// --- Wayland -------------------------------------------------------------

// Both data-control protocols have the same requests and events in the same
// order; only the interfaces of the objects differ, so the requests are made
// through libwayland's generic call with the chosen protocol's interfaces.
struct Wayland {
  const wl_interface* manager_interface;
  const wl_interface* device_interface;
  const wl_interface* source_interface;
  wl_seat* seat = nullptr;
  wl_proxy* manager = nullptr;
  bool done = false;
};

void Global(void* data, wl_registry* registry, std::uint32_t name,
            const char* interface, std::uint32_t) {
  auto* w = static_cast<Wayland*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !w->seat)
    w->seat = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, 1));
  if (std::strcmp(interface, w->manager_interface->name) == 0)
    w->manager = static_cast<wl_proxy*>(
        wl_registry_bind(registry, name, w->manager_interface, 1));
}
void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry = {Global, GlobalRemove};

// The plain loop: whatever the fd's flags, write until done or refused.
void WriteAll(int fd) {
  std::size_t written = 0;
  int error = 0;
  while (written < text.size()) {
    const std::size_t step = trickle ? 1 : text.size() - written;
    const ssize_t n = write(fd, text.data() + written, step);
    if (n < 0) {
      error = errno;
      break;
    }
    written += static_cast<std::size_t>(n);
    if (trickle && written < text.size()) usleep(kTrickle);
  }
  std::printf("wrote %zu of %zu%s%s\n", written, text.size(), error ? ": " : "",
              error ? std::strerror(error) : "");
  std::fflush(stdout);
}

void Send(void*, zwlr_data_control_source_v1*, const char*, int32_t fd) {
  if (trickle) {
    // A child per paste, so the owner keeps serving and notices a new owner.
    if (fork() == 0) {
      WriteAll(fd);
      _exit(0);
    }
  } else {
    WriteAll(fd);
  }
  close(fd);
}
void Cancelled(void* data, zwlr_data_control_source_v1*) {
  static_cast<Wayland*>(data)->done = true;
}
const zwlr_data_control_source_v1_listener kSource = {Send, Cancelled};

int RunWayland(bool ext) {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return std::perror("wl_display_connect"), 1;
  Wayland w = ext ? Wayland{&ext_data_control_manager_v1_interface,
                            &ext_data_control_device_v1_interface,
                            &ext_data_control_source_v1_interface}
                  : Wayland{&zwlr_data_control_manager_v1_interface,
                            &zwlr_data_control_device_v1_interface,
                            &zwlr_data_control_source_v1_interface};
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistry, &w);
  wl_display_roundtrip(display);
  if (w.seat == nullptr || w.manager == nullptr)
    return std::fprintf(stderr, "no seat or %s\n", w.manager_interface->name),
           1;
  // manager.create_data_source, source.offer, manager.get_data_device and
  // device.set_selection, by their opcodes.
  wl_proxy* source =
      wl_proxy_marshal_flags(w.manager, 0, w.source_interface, 1, 0, nullptr);
  wl_proxy_add_listener(
      source,
      reinterpret_cast<void (**)()>(
          const_cast<zwlr_data_control_source_v1_listener*>(&kSource)),
      &w);
  for (const char* type : kTypes)
    wl_proxy_marshal_flags(source, 0, nullptr, 1, 0, type);
  wl_proxy* device = wl_proxy_marshal_flags(w.manager, 1, w.device_interface, 1,
                                            0, nullptr, w.seat);
  wl_proxy_marshal_flags(device, 0, nullptr, 1, 0, source);
  wl_display_roundtrip(display);
  Ready();
  while (!w.done && wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}

// --- X11 -----------------------------------------------------------------

xcb_connection_t* x;

xcb_atom_t Atom(const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      x,
      xcb_intern_atom(x, 0, static_cast<std::uint16_t>(std::strlen(name)),
                      name),
      nullptr);
  const xcb_atom_t atom =
      reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
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

int RunX11Owner(bool flood) {
  const xcb_atom_t clipboard = Atom("CLIPBOARD"), targets = Atom("TARGETS"),
                   utf8 = Atom("UTF8_STRING"), incr = Atom("INCR");
  const xcb_window_t window = MakeWindow();
  xcb_set_selection_owner(x, window, clipboard, XCB_CURRENT_TIME);
  xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
      x, xcb_get_selection_owner(x, clipboard), nullptr);
  const bool owns = owner && owner->owner == window;
  std::free(owner);
  if (!owns) return std::fprintf(stderr, "could not own CLIPBOARD\n"), 1;
  Ready();
  // Transfers under way: (requestor, property) to the bytes sent so far.
  std::map<std::pair<xcb_window_t, xcb_atom_t>, std::size_t> transfers;
  const std::size_t chunk = flood ? 65536 : 1;
  while (xcb_generic_event_t* event = xcb_wait_for_event(x)) {
    const std::uint8_t kind = event->response_type & 0x7f;
    if (kind == XCB_SELECTION_CLEAR) return std::free(event), 0;
    if (kind == XCB_SELECTION_REQUEST) {
      auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
      xcb_selection_notify_event_t notify{};
      notify.response_type = XCB_SELECTION_NOTIFY;
      notify.time = request->time;
      notify.requestor = request->requestor;
      notify.selection = request->selection;
      notify.target = request->target;
      notify.property = request->property;
      if (request->target == targets) {
        const xcb_atom_t offered[] = {targets, utf8};
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, request->requestor,
                            request->property, XCB_ATOM_ATOM, 32, 2, offered);
      } else if (request->target == utf8) {
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(x, request->requestor, XCB_CW_EVENT_MASK,
                                     &mask);
        const std::uint32_t size = static_cast<std::uint32_t>(text.size());
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, request->requestor,
                            request->property, incr, 32, 1, &size);
        transfers[{request->requestor, request->property}] = 0;
      } else {
        notify.property = XCB_ATOM_NONE;
      }
      xcb_send_event(x, 0, request->requestor, 0,
                     reinterpret_cast<const char*>(&notify));
    } else if (kind == XCB_PROPERTY_NOTIFY) {
      auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
      auto it = transfers.find({change->window, change->atom});
      if (change->state == XCB_PROPERTY_DELETE && it != transfers.end()) {
        // The requestor took the last chunk: the next one, slowly or
        // without end; the empty chunk closes a trickle.
        std::size_t& sent = it->second;
        if (!flood && sent < text.size()) usleep(kTrickle);
        const std::size_t offset = flood ? sent % text.size() : sent;
        const std::size_t length = std::min(chunk, text.size() - offset);
        xcb_change_property(
            x, XCB_PROP_MODE_REPLACE, change->window, change->atom, utf8, 8,
            static_cast<std::uint32_t>(length), text.data() + offset);
        sent += length;
        if (length == 0) transfers.erase(it);
      }
    }
    std::free(event);
    xcb_flush(x);
  }
  return 0;
}

int RunTargetsFlood() {
  const xcb_atom_t clipboard = Atom("CLIPBOARD"), targets = Atom("TARGETS"),
                   property = Atom("HOSTILE_PEER");
  const xcb_window_t window = MakeWindow();
  Ready();
  for (long i = 0;; ++i) {
    xcb_convert_selection(x, window, clipboard, targets, property,
                          XCB_CURRENT_TIME);
    // Answers are read and dropped, so that the server never blocks on us.
    while (xcb_generic_event_t* event = xcb_poll_for_event(x)) std::free(event);
    if (i % 64 == 63 && xcb_flush(x) <= 0) return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  signal(SIGPIPE, SIG_IGN);
  signal(SIGCHLD, SIG_IGN);  // trickling children are not waited for
  if (mode != "x11-targets-flood") {
    std::ifstream file(argc > 2 ? argv[2] : "", std::ios::binary);
    if (!file)
      return std::fprintf(stderr,
                          "usage: hostile_peer MODE FILE (see its source)\n"),
             2;
    text.assign(std::istreambuf_iterator<char>(file), {});
  }
  trickle = mode == "wayland-trickle";
  if (mode == "wayland-blocking" || trickle)
    return RunWayland(argc > 3 && std::strcmp(argv[3], "ext") == 0);
  x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x))
    return std::fprintf(stderr, "no X display\n"), 1;
  if (mode == "x11-incr-trickle") return RunX11Owner(false);
  if (mode == "x11-incr-flood") return RunX11Owner(true);
  if (mode == "x11-targets-flood") return RunTargetsFlood();
  return std::fprintf(stderr, "unknown mode %s\n", mode.c_str()), 2;
}
