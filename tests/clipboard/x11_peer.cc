// x11_peer: the clipboard programs the X11 tests need that xclip and xsel
// cannot stand in for. Written directly on xcb and sharing no code with the
// backend under test, so the two can disagree.
//
//   x11_peer own FILE TARGET [QUIRK]
//     Owns CLIPBOARD, offering FILE's bytes under TARGET only (plus TARGETS).
//     QUIRK "notargets" refuses TARGETS; "incr-stall" sends the text as INCR
//     but stops after the first chunk.
//     Unlike xclip and xsel it shrugs off X errors, so it survives answering
//     a request whose requestor is long gone (after SIGSTOP and SIGCONT).
//     Prints "ready" once it owns the selection; exits when it loses it.
//
//   x11_peer manager FILE
//     A clipboard manager: owns CLIPBOARD_MANAGER and, asked to convert
//     SAVE_TARGETS, fetches TARGETS and then, through one MULTIPLE request,
//     UTF8_STRING, TIMESTAMP and image/png from the CLIPBOARD owner; writes
//     the text to FILE and a report to FILE.log, takes CLIPBOARD itself
//     (serving the text as UTF8_STRING), then answers the requestor.
//
//   x11_peer request TARGET WHEN PROPERTY
//     Asks the CLIPBOARD owner once for TARGET, stamped WHEN ("now": the
//     server's time; "current": CurrentTime; "old": a time long before any
//     owner took it), into our own property or, for PROPERTY "none", into
//     none as obsolete clients do. Prints "refused" or the answer as
//     "TYPE FORMAT VALUE" (atom names for atoms, numbers for other 32-bit
//     data, the bytes for 8-bit data).
//
//   x11_peer abandon
//     Asks for UTF8_STRING, and if the answer is INCR, reads one chunk and
//     exits in the middle of the transfer, leaving the owner a requestor
//     whose window is gone. Prints "incr" or "whole".
//
// Every mode ends itself after 60 s at the latest, so a failed test never
// leaves it behind.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XPtr = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* c;
xcb_window_t window;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "x11_peer: %s\n", message.c_str());
  std::exit(2);
}

xcb_atom_t Atom(const char* name) {
  XPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr));
  if (!reply) Die(std::string("cannot intern ") + name);
  return reply->atom;
}

std::string AtomName(xcb_atom_t atom) {
  if (atom == XCB_NONE) return "None";
  XPtr<xcb_get_atom_name_reply_t> reply(
      xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
  if (!reply) return "?";
  return std::string(xcb_get_atom_name_name(reply.get()),
                     xcb_get_atom_name_name_length(reply.get()));
}

// Blocks for the next event of the given type, dropping everything else
// (errors included: this peer ignores X errors by design).
XPtr<xcb_generic_event_t> WaitFor(std::uint8_t type) {
  for (;;) {
    XPtr<xcb_generic_event_t> event(xcb_wait_for_event(c));
    if (!event) Die("connection lost");
    if ((event->response_type & 0x7F) == type) return event;
  }
}

xcb_timestamp_t ServerTime() {
  const xcb_atom_t stamp = Atom("X11_PEER_TIME");
  xcb_change_property(c, XCB_PROP_MODE_APPEND, window, stamp, XCB_ATOM_INTEGER,
                      32, 0, nullptr);
  xcb_flush(c);
  for (;;) {
    auto event = WaitFor(XCB_PROPERTY_NOTIFY);
    const auto* notify =
        reinterpret_cast<xcb_property_notify_event_t*>(event.get());
    if (notify->atom == stamp) return notify->time;
  }
}

void Own(xcb_atom_t selection, xcb_timestamp_t time) {
  xcb_set_selection_owner(c, window, selection, time);
  XPtr<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
      c, xcb_get_selection_owner(c, selection), nullptr));
  if (!reply || reply->owner != window) Die("cannot own the selection");
}

void Notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
  xcb_selection_notify_event_t notify{};
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  notify.property = property;
  xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&notify));
  xcb_flush(c);
}

// How an owner behaves beyond serving its one target.
enum class Quirk {
  kNone,
  kNoTargets,  // refuses TARGETS, like some old programs
  kIncrStall,  // sends INCR, then the first chunk, then nothing more
};

// Serves text under target on CLIPBOARD until another program takes it.
void Serve(xcb_atom_t clipboard, xcb_atom_t target, const std::string& text,
           Quirk quirk = Quirk::kNone) {
  const xcb_atom_t targets = Atom("TARGETS");
  const xcb_atom_t incr = Atom("INCR");
  xcb_window_t incr_requestor = XCB_NONE;
  xcb_atom_t incr_property = XCB_NONE;
  int chunks_sent = 0;
  for (;;) {
    XPtr<xcb_generic_event_t> event(xcb_wait_for_event(c));
    if (!event) return;
    const int type = event->response_type & 0x7F;
    if (type == XCB_SELECTION_CLEAR) return;
    if (type == XCB_PROPERTY_NOTIFY) {
      const auto* notify =
          reinterpret_cast<xcb_property_notify_event_t*>(event.get());
      if (notify->window == incr_requestor && notify->atom == incr_property &&
          notify->state == XCB_PROPERTY_DELETE && chunks_sent == 0) {
        // The first chunk, and then silence: the stalled sender.
        const std::size_t half = text.size() / 2;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, incr_requestor,
                            incr_property, target, 8, half, text.data());
        xcb_flush(c);
        ++chunks_sent;
      }
      continue;
    }
    if (type != XCB_SELECTION_REQUEST) continue;
    const auto& request =
        *reinterpret_cast<xcb_selection_request_event_t*>(event.get());
    const xcb_atom_t property =
        request.property == XCB_NONE ? request.target : request.property;
    if (request.selection != clipboard) {
      Notify(request, XCB_NONE);
    } else if (request.target == targets && quirk != Quirk::kNoTargets) {
      const xcb_atom_t list[] = {targets, target};
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                          XCB_ATOM_ATOM, 32, 2, list);
      Notify(request, property);
    } else if (request.target == target && quirk == Quirk::kIncrStall) {
      const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
      xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK,
                                   &mask);
      const auto size = static_cast<std::uint32_t>(text.size());
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                          incr, 32, 1, &size);
      incr_requestor = request.requestor;
      incr_property = property;
      chunks_sent = 0;
      Notify(request, property);
    } else if (request.target == target) {
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                          target, 8, text.size(), text.data());
      Notify(request, property);
    } else {
      Notify(request, XCB_NONE);
    }
  }
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Die(std::string("cannot read ") + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

XPtr<xcb_get_property_reply_t> TakeProperty(xcb_atom_t property) {
  return XPtr<xcb_get_property_reply_t>(xcb_get_property_reply(
      c,
      xcb_get_property(c, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                       UINT32_MAX / 4),
      nullptr));
}

// Asks the CLIPBOARD owner to convert target into property and waits for
// the answer; returns the property named in it (None: refused).
xcb_atom_t Convert(xcb_atom_t clipboard, xcb_atom_t target, xcb_atom_t property,
                   xcb_timestamp_t time) {
  xcb_convert_selection(c, window, clipboard, target, property, time);
  xcb_flush(c);
  auto event = WaitFor(XCB_SELECTION_NOTIFY);
  return reinterpret_cast<xcb_selection_notify_event_t*>(event.get())->property;
}

// Reads a text property on our window, following an INCR transfer: each
// deletion (TakeProperty deletes) asks for the next chunk, and an empty
// chunk ends it. Notes in log whether the text came incrementally.
std::string TakeText(xcb_atom_t property, std::ostringstream* log) {
  const xcb_atom_t incr = Atom("INCR");
  auto reply = TakeProperty(property);
  if (!reply || reply->type == XCB_NONE) return {};
  const auto bytes = [](const XPtr<xcb_get_property_reply_t>& r) {
    return std::string(
        static_cast<const char*>(xcb_get_property_value(r.get())),
        xcb_get_property_value_length(r.get()));
  };
  if (reply->type != incr) return bytes(reply);
  *log << " (incr)";
  std::string text;
  for (;;) {
    auto event = WaitFor(XCB_PROPERTY_NOTIFY);
    const auto* notify =
        reinterpret_cast<xcb_property_notify_event_t*>(event.get());
    if (notify->atom != property || notify->state != XCB_PROPERTY_NEW_VALUE) {
      continue;
    }
    auto chunk = TakeProperty(property);
    if (!chunk || xcb_get_property_value_length(chunk.get()) == 0) return text;
    text += bytes(chunk);
  }
}

int Manager(const char* out_path) {
  const xcb_atom_t clipboard = Atom("CLIPBOARD");
  const xcb_atom_t manager = Atom("CLIPBOARD_MANAGER");
  const xcb_atom_t save_targets = Atom("SAVE_TARGETS");
  const xcb_atom_t targets = Atom("TARGETS");
  const xcb_atom_t multiple = Atom("MULTIPLE");
  const xcb_atom_t atom_pair = Atom("ATOM_PAIR");
  const xcb_atom_t utf8 = Atom("UTF8_STRING");
  const xcb_atom_t timestamp = Atom("TIMESTAMP");
  const xcb_atom_t png = Atom("image/png");
  const xcb_atom_t p_targets = Atom("PEER_TARGETS");
  const xcb_atom_t p_multiple = Atom("PEER_MULTIPLE");
  const xcb_atom_t p_text = Atom("PEER_TEXT");
  const xcb_atom_t p_time = Atom("PEER_TIMESTAMP");
  const xcb_atom_t p_png = Atom("PEER_PNG");

  Own(manager, ServerTime());
  std::printf("ready\n");
  std::fflush(stdout);

  for (;;) {
    auto event = WaitFor(XCB_SELECTION_REQUEST);
    const auto request =
        *reinterpret_cast<xcb_selection_request_event_t*>(event.get());
    if (request.selection != manager || request.target != save_targets) {
      Notify(request, XCB_NONE);
      continue;
    }
    std::ostringstream log;
    const xcb_timestamp_t time = ServerTime();

    log << "targets:";
    if (Convert(clipboard, targets, p_targets, time) != XCB_NONE) {
      auto reply = TakeProperty(p_targets);
      if (!reply) Die("cannot read TARGETS");
      const auto* atoms =
          static_cast<xcb_atom_t*>(xcb_get_property_value(reply.get()));
      for (std::uint32_t i = 0; i < reply->value_len; ++i) {
        log << ' ' << AtomName(atoms[i]);
      }
    }
    log << '\n';

    const xcb_atom_t pairs[] = {utf8, p_text, timestamp, p_time, png, p_png};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, p_multiple, atom_pair,
                        32, 6, pairs);
    std::string text;
    log << "multiple:";
    if (Convert(clipboard, multiple, p_multiple, time) != XCB_NONE) {
      auto reply = TakeProperty(p_multiple);
      if (!reply) Die("cannot read MULTIPLE");
      const auto* back =
          static_cast<xcb_atom_t*>(xcb_get_property_value(reply.get()));
      for (std::uint32_t i = 0; i + 1 < reply->value_len; i += 2) {
        log << ' ' << AtomName(back[i]);
      }
      text = TakeText(p_text, &log);
      auto time_reply = TakeProperty(p_time);
      if (time_reply && time_reply->format == 32 &&
          time_reply->value_len == 1) {
        log << "\ntimestamp-type: " << AtomName(time_reply->type);
      }
    }
    log << '\n';
    std::ofstream(out_path, std::ios::binary) << text;
    std::ofstream(std::string(out_path) + ".log") << log.str();

    Own(clipboard, ServerTime());
    Notify(request,
           request.property == XCB_NONE ? request.target : request.property);
    Serve(clipboard, utf8, text);
    return 0;
  }
}

int Request(const char* target_name, const std::string& when,
            const std::string& property_mode) {
  const xcb_atom_t clipboard = Atom("CLIPBOARD");
  const xcb_atom_t target = Atom(target_name);
  const xcb_timestamp_t time = when == "now"       ? ServerTime()
                               : when == "current" ? XCB_CURRENT_TIME
                                                   : 1;
  const xcb_atom_t asked =
      property_mode == "none" ? XCB_NONE : Atom("PEER_REQUEST");
  const xcb_atom_t answer = Convert(clipboard, target, asked, time);
  if (answer == XCB_NONE) {
    std::printf("refused\n");
    return 0;
  }
  auto reply = TakeProperty(answer);
  if (!reply) Die("cannot read the answer");
  std::printf("%s %d ", AtomName(reply->type).c_str(), reply->format);
  const void* value = xcb_get_property_value(reply.get());
  if (reply->format == 8) {
    std::fwrite(value, 1, xcb_get_property_value_length(reply.get()), stdout);
  } else if (reply->format == 32) {
    const auto* items = static_cast<const std::uint32_t*>(value);
    for (std::uint32_t i = 0; i < reply->value_len; ++i) {
      if (i > 0) std::printf(" ");
      if (reply->type == XCB_ATOM_ATOM) {
        std::printf("%s", AtomName(items[i]).c_str());
      } else {
        std::printf("%u", items[i]);
      }
    }
  }
  std::printf("\n");
  return 0;
}

int Abandon() {
  const xcb_atom_t clipboard = Atom("CLIPBOARD");
  const xcb_atom_t incr = Atom("INCR");
  const xcb_atom_t property = Atom("PEER_ABANDON");
  const xcb_atom_t answer =
      Convert(clipboard, Atom("UTF8_STRING"), property, ServerTime());
  if (answer == XCB_NONE) Die("refused");
  auto reply = TakeProperty(property);
  if (!reply || reply->type != incr) {
    std::printf("whole\n");
    return 0;
  }
  // Deleting the INCR property (done by TakeProperty) asks for the first
  // chunk; read it, then vanish without asking for the next.
  for (;;) {
    auto event = WaitFor(XCB_PROPERTY_NOTIFY);
    const auto* notify =
        reinterpret_cast<xcb_property_notify_event_t*>(event.get());
    if (notify->atom == property && notify->state == XCB_PROPERTY_NEW_VALUE) {
      break;
    }
  }
  TakeProperty(property);
  std::printf("incr\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  alarm(60);
  if (argc < 2) Die("usage: x11_peer own FILE TARGET | manager FILE | abandon");
  c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) Die("cannot connect to the X display");
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  window = xcb_generate_id(c);
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1,
                    0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                    XCB_CW_EVENT_MASK, &mask);
  const std::string mode = argv[1];
  int result = 2;
  if (mode == "own" && (argc == 4 || argc == 5)) {
    const std::string quirk_name = argc == 5 ? argv[4] : "";
    const Quirk quirk = quirk_name == "notargets"    ? Quirk::kNoTargets
                        : quirk_name == "incr-stall" ? Quirk::kIncrStall
                                                     : Quirk::kNone;
    const std::string text = ReadFile(argv[2]);
    const xcb_atom_t clipboard = Atom("CLIPBOARD");
    const xcb_atom_t target = Atom(argv[3]);
    Own(clipboard, ServerTime());
    std::printf("ready\n");
    std::fflush(stdout);
    Serve(clipboard, target, text, quirk);
    result = 0;
  } else if (mode == "manager" && argc == 3) {
    result = Manager(argv[2]);
  } else if (mode == "request" && argc == 5) {
    result = Request(argv[2], argv[3], argv[4]);
  } else if (mode == "abandon" && argc == 2) {
    result = Abandon();
  } else {
    Die("unknown mode");
  }
  std::fflush(stdout);
  xcb_disconnect(c);
  return result;
}
