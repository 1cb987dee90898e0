// The peer's X11 modes (see hostile_peer.cc), what xclip and xsel cannot
// play. Its owners shrug off X errors, so live on after answering a gone
// requestor (once stopped, say); xclip ends on them.
//   x11-types TARGET FILE [TARGET FILE...]: only the TARGETs, each with its
//     FILE; xclip offers one target, xsel all with the same bytes.
//   x11-incr-trickle FILE: INCR, a byte every 1.5 s; xclip's goes at speed.
//   x11-incr-flood FILE TOTAL: INCR, 64 KiB pieces of FILE over and over,
//     TOTAL bytes, announcing one less (a lower bound); xclip sends FILE.
//   x11-copy-while-read WHEN OLD NEWER: offers OLD and copies NEWER at one
//     exact point of a read, which only the owner knows: once OLD is in the
//     requestor's property but before it is told, from the same window
//     (retake, which only the selection's time shows; when NEWER is OLD, a
//     manager taking it over) or another (replace); or from another window
//     once the first of two INCR pieces is taken (incr).
//   x11-manager FILE: owns CLIPBOARD_MANAGER; asked for SAVE_TARGETS,
//     fetches the text into FILE, takes CLIPBOARD with it, then answers.
//   x11-lazy-manager: says yes to SAVE_TARGETS fetching nothing (weston's
//     XWayland), and prints "acknowledged".
//   x11-targets-flood: asks for TARGETS until killed, 256 requests always
//     unanswered: the owner's queue never runs dry, yet its backlog stays
//     what it answers at once.
//   x11-incr-reader vanish|stall: given INCR, takes the announcement, then
//     destroys its window (vanish), or takes the first piece 6 s late and
//     asks for TARGETS: "served on" if a next piece came first, else
//     "dropped" (stall). xclip -o takes INCR at full speed.
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

#include "hostile_peer.h"

namespace {

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

void Put(xcb_window_t window, xcb_atom_t at, xcb_atom_t type, int format,
         std::size_t count, const void* data) {
  xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, at, type, format,
                      static_cast<std::uint32_t>(count), data);
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

bool Answered(int kind, xcb_generic_event_t*) {
  return kind == XCB_SELECTION_NOTIFY;
}

// Asks for CLIPBOARD as target into our property, and waits for the answer.
bool Ask(xcb_window_t window, xcb_atom_t target) {
  xcb_convert_selection(x, window, clipboard, target, property,
                        XCB_CURRENT_TIME);
  auto* event =
      reinterpret_cast<xcb_selection_notify_event_t*>(WaitFor(Answered));
  const bool answered = event->property != XCB_ATOM_NONE;
  std::free(event);
  return answered;
}

int RunRequestor(const std::string& mode, const std::string& how) {
  const xcb_window_t window = MakeWindow();
  if (mode == "x11-targets-flood") {
    Say("ready");
    for (int unanswered = 0;; --unanswered) {
      for (; unanswered < 256; ++unanswered) {
        xcb_convert_selection(x, window, clipboard, targets, property,
                              XCB_CURRENT_TIME);
      }
      std::free(WaitFor(Answered));
    }
  }
  if (!Ask(window, utf8)) return Say("refused"), 1;
  const auto new_value = [&](int kind, xcb_generic_event_t* e) {
    auto* n = reinterpret_cast<xcb_property_notify_event_t*>(e);
    return kind == XCB_PROPERTY_NOTIFY && n->atom == property &&
           n->state == XCB_PROPERTY_NEW_VALUE;
  };
  xcb_delete_property(x, window, property);  // asks for the first piece
  if (how == "vanish") {
    xcb_destroy_window(x, window);
    xcb_flush(x);
    return Say("vanished"), 0;
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
  return Say(dropped ? "dropped" : "served on"), 0;
}

// An INCR transfer under way to one requestor's property.
struct Transfer {
  const std::string* bytes;
  std::size_t sent = 0;
  std::size_t total;         // bytes to send, cycling through *bytes
  std::size_t chunk;         // bytes a piece
  std::size_t copy_at = -1;  // the racing copy, once this much was taken
};

// The owners and managers. args are the mode's.
int RunOwner(const std::string& mode, char** args, int count) {
  const bool manager = mode == "x11-manager", lazy = mode == "x11-lazy-manager",
             flood = mode == "x11-incr-flood",
             trickle = mode == "x11-incr-trickle",
             racing = mode == "x11-copy-while-read";
  const std::string when = racing ? args[0] : "";
  std::map<xcb_window_t, std::map<xcb_atom_t, std::string>> offers;
  xcb_window_t window = MakeWindow(), current = window;
  std::string newer;
  for (int i = 0; mode == "x11-types" && i < count; i += 2)
    if (!ReadFile(args[i + 1], &offers[window][Atom(args[i])])) return 2;
  if ((racing && (!ReadFile(args[1], &offers[window][utf8]) ||
                  !ReadFile(args[2], &newer))) ||
      ((flood || trickle) && !ReadFile(args[0], &offers[window][utf8])))
    return 2;
  bool copied = !racing;
  const auto copy = [&] {  // NEWER, from the same window only for a retake
    copied = true;
    if (when != "retake") current = MakeWindow();
    offers[current][utf8] = newer;
    Own(current, clipboard, XCB_CURRENT_TIME);
  };
  // The manager's part: fetches the owner's text into FILE, and takes the
  // clipboard with it.
  const auto save = [&](xcb_timestamp_t time) {
    if (!Ask(window, utf8)) return false;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        x, xcb_get_property(x, 1, window, property, XCB_ATOM_ANY, 0, 1 << 24),
        nullptr);
    const bool got = reply && reply->type != XCB_ATOM_NONE;
    std::string& text = offers[window][utf8];
    if (got)
      text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                  xcb_get_property_value_length(reply));
    std::free(reply);
    if (got) std::ofstream(args[0], std::ios::binary) << text;
    return got && Own(window, clipboard, time);
  };
  if (!Own(window, manager || lazy ? Atom("CLIPBOARD_MANAGER") : clipboard,
           XCB_CURRENT_TIME))
    return std::fprintf(stderr, "could not own the selection\n"), 1;
  Say("ready");
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
      const bool saving = request.selection != clipboard &&
                          request.target == save_targets && (manager || lazy);
      xcb_atom_t answer = request.property;
      if (request.selection != clipboard) {
        if (!saving || (manager && !save(request.time))) answer = XCB_ATOM_NONE;
      } else if (request.target == targets) {
        std::vector<xcb_atom_t> offered = {targets};
        for (const auto& type : offer) offered.push_back(type.first);
        Put(request.requestor, request.property, XCB_ATOM_ATOM, 32,
            offered.size(), offered.data());
      } else if (found == offer.end()) {
        answer = XCB_ATOM_NONE;
      } else if (flood || trickle || (!copied && when == "incr")) {
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(x, request.requestor, XCB_CW_EVENT_MASK,
                                     &mask);
        Transfer transfer{&found->second, 0, found->second.size(),
                          trickle ? 1 : std::size_t{65536}};
        if (flood) transfer.total = std::stoul(args[1]);
        if (!copied)  // two pieces; the copy once the first is taken
          transfer.chunk = transfer.copy_at = (transfer.total + 1) / 2;
        // The announced size is a lower bound; the flood's, the cap.
        const std::uint32_t size = static_cast<std::uint32_t>(
            std::min<std::size_t>(transfer.total - flood, UINT32_MAX));
        Put(request.requestor, request.property, incr, 32, 1, &size);
        transfers[{request.requestor, request.property}] = transfer;
      } else {
        Put(request.requestor, request.property, request.target, 8,
            found->second.size(), found->second.data());
        if (!copied && when != "incr") copy();
      }
      Notify(request, answer);
      xcb_flush(x);
      if (saving && lazy) Say("acknowledged");
    } else if (kind == XCB_PROPERTY_NOTIFY) {
      auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
      auto it = transfers.find({change->window, change->atom});
      if (change->state == XCB_PROPERTY_DELETE && it != transfers.end()) {
        // The requestor took the last piece: the next one, slowly or
        // without end; the empty piece closes it.
        Transfer& t = it->second;
        if (trickle && t.sent > 0 && t.sent < t.total) usleep(1500000);
        if (t.sent == t.copy_at && !copied) copy();
        const std::size_t offset = t.sent % t.bytes->size();
        const std::size_t length =
            std::min({t.chunk, t.total - t.sent, t.bytes->size() - offset});
        Put(change->window, change->atom, utf8, 8, length,
            t.bytes->data() + offset);
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

int RunX11(const std::string& mode, char** args, int count) {
  static const std::map<std::string, int> kCounts = {
      {"x11-incr-trickle", 1},    {"x11-incr-flood", 2},
      {"x11-copy-while-read", 3}, {"x11-manager", 1},
      {"x11-lazy-manager", 0},    {"x11-targets-flood", 0},
      {"x11-incr-reader", 1}};
  const auto known = kCounts.find(mode);
  if (mode == "x11-types" ? count < 2 || count % 2
                          : known == kCounts.end() || known->second != count)
    return 2;
  x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x))
    return std::fprintf(stderr, "no X display\n"), 1;
  clipboard = Atom("CLIPBOARD"), targets = Atom("TARGETS");
  utf8 = Atom("UTF8_STRING"), incr = Atom("INCR");
  save_targets = Atom("SAVE_TARGETS"), property = Atom("HOSTILE_PEER");
  if (mode == "x11-targets-flood" || mode == "x11-incr-reader")
    return RunRequestor(mode, count ? args[0] : "");
  return RunOwner(mode, args, count);
}
