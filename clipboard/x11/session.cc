// The X11 session's connection, its wait loop, reading the clipboard, and
// the hand-over of our text to a program that outlives this one. What the
// session is, and why it waits as it does: session.h.
#include "clipboard/x11/session.h"

#include <errno.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "clipboard/linux/clipboard_server.h"
#include "clipboard/linux/text_codecs.h"

namespace quillmore::x11_clipboard {

using linux_clipboard::kAnswerTimeout;
using linux_clipboard::Latin1ToUtf8;

std::unique_ptr<Session> Session::Open(Operation operation,
                                       const Atoms* known_atoms) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    linux_clipboard::Fail(status::kFail, operation,
                          "no X display to use (DISPLAY is not set)");
  }
  int screen_number = 0;
  Connection connection(xcb_connect(nullptr, &screen_number));
  xcb_connection_t* c = connection.get();
  if (xcb_connection_has_error(c)) {
    linux_clipboard::Fail(
        status::kFail, operation,
        std::string("cannot connect to the X display \"") + display + "\"");
  }
  // BIG-REQUESTS takes two round trips of its own; started now, they run
  // alongside the atoms.
  xcb_prefetch_maximum_request_length(c);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_number && screens.rem > 0; ++i) {
    xcb_screen_next(&screens);
  }
  if (screens.rem == 0) {
    linux_clipboard::Fail(
        status::kFail, operation,
        std::string("the X display \"") + display + "\" has no such screen");
  }

  // An unmapped input-only window: it never shows, it only owns the
  // selection, receives the answers and gives us server timestamps.
  const xcb_window_t id = xcb_generate_id(c);
  const std::uint32_t event_mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_void_cookie_t created = xcb_create_window_checked(
      c, XCB_COPY_FROM_PARENT, id, screens.data->root, 0, 0, 1, 1, 0,
      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
      &event_mask);

  Atoms atoms;
  if (known_atoms != nullptr) {
    atoms = *known_atoms;
  } else {
    // All atoms in one round trip: send every request, then collect.
    static constexpr const char* kNames[] = {"CLIPBOARD",
                                             "TARGETS",
                                             "TIMESTAMP",
                                             "MULTIPLE",
                                             "SAVE_TARGETS",
                                             "UTF8_STRING",
                                             "text/plain;charset=utf-8",
                                             "TEXT",
                                             "INCR",
                                             "ATOM_PAIR",
                                             "CLIPBOARD_MANAGER",
                                             "NULL",
                                             "QUILLMORE_SELECTION",
                                             "QUILLMORE_TIME"};
    constexpr std::size_t kCount = sizeof kNames / sizeof kNames[0];
    static_assert(kCount == sizeof(Atoms) / sizeof(xcb_atom_t));
    xcb_intern_atom_cookie_t cookies[kCount];
    for (std::size_t i = 0; i < kCount; ++i) {
      cookies[i] = xcb_intern_atom(c, 0, std::strlen(kNames[i]), kNames[i]);
    }
    xcb_atom_t values[kCount];
    for (std::size_t i = 0; i < kCount; ++i) {
      XPtr<xcb_intern_atom_reply_t> reply(
          xcb_intern_atom_reply(c, cookies[i], nullptr));
      if (!reply) {
        linux_clipboard::Fail(
            status::kFail, operation,
            std::string("the X server refused the atom ") + kNames[i]);
      }
      values[i] = reply->atom;
    }
    std::memcpy(&atoms, values, sizeof atoms);
  }

  XPtr<xcb_generic_error_t> error(xcb_request_check(c, created));
  if (error) {
    linux_clipboard::Fail(status::kFail, operation,
                          "the X server refused to create a window (X error " +
                              std::to_string(error->error_code) + ")");
  }
  Window window(WindowId{c, id});

  // In 4-byte units; with BIG-REQUESTS this is far above the 256 KiB core
  // limit. A single property write must fit into one request.
  const std::size_t max_request =
      static_cast<std::size_t>(xcb_get_maximum_request_length(c)) * 4;
  const std::size_t incr_limit = std::min(kIncrLimit, max_request / 4);

  std::unique_ptr<Session> session(
      new Session(std::move(connection), std::move(window), atoms, incr_limit));
  session->set_operation(operation);
  return session;
}

// ---------------------------------------------------------------------------
// The wait loop.

// Serves requests and transfers until an event that wanted() accepts (moved
// to *event), extra_fd (if not -1) becomes readable, stop() holds, the
// deadline passes or the connection breaks.
template <typename Wanted, typename Stop>
Wake Session::Wait(Clock::time_point deadline, Wanted&& wanted, Event* event,
                   int extra_fd, Stop&& stop) {
  for (;;) {
    if (stop()) return Wake::kStop;
    Event next(xcb_poll_for_event(c()));
    if (next) {
      if (wanted(next.get())) {
        *event = std::move(next);
        return Wake::kEvent;
      }
      Dispatch(next.get());
      continue;
    }
    if (xcb_connection_has_error(c())) return Wake::kBroken;
    const Clock::time_point now = Clock::now();
    transfers_.Expire(now, [&](auto it) { EndTransfer(it); });
    if (stop()) return Wake::kStop;
    if (now >= deadline) return Wake::kTimeout;
    if (xcb_flush(c()) <= 0) return Wake::kBroken;

    const int timeout =
        linux_clipboard::PollTimeout(now, transfers_.WakeAt(deadline));
    pollfd fds[2] = {{xcb_get_file_descriptor(c()), POLLIN, 0},
                     {extra_fd, POLLIN, 0}};
    const int ready = poll(fds, extra_fd >= 0 ? 2 : 1, timeout);
    if (ready < 0 && errno != EINTR) return Wake::kBroken;
    if (ready > 0 && extra_fd >= 0 && fds[1].revents != 0) return Wake::kFd;
  }
}

void Session::Own(TextOffer offer) {
  const xcb_timestamp_t time = ServerTime();
  transfers_.clear();
  offer_ = std::move(offer);
  xcb_set_selection_owner(c(), window(), atoms_.clipboard, time);
  if (SelectionOwner(atoms_.clipboard) != window()) {
    owned_ = false;
    Fail(status::kAccessDenied,
         "another program took the clipboard at the same moment");
  }
  owned_ = true;
  owned_since_ = time;
}

// ---------------------------------------------------------------------------
// Reading.

xcb_window_t Session::SelectionOwner(xcb_atom_t selection) {
  XPtr<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
      c(), xcb_get_selection_owner(c(), selection), nullptr));
  if (!reply) FailConnection();
  return reply->owner;
}

// ICCCM asks for real timestamps, not CurrentTime, in selection requests
// and ownership. The server stamps the PropertyNotify of a zero-length
// append to our own window with its current time.
xcb_timestamp_t Session::ServerTime() {
  xcb_change_property(c(), XCB_PROP_MODE_APPEND, window(), atoms_.time_property,
                      XCB_ATOM_INTEGER, 32, 0, nullptr);
  Event event;
  const Wake wake = WaitForEvent<xcb_property_notify_event_t>(
      Clock::now() + kAnswerTimeout, XCB_PROPERTY_NOTIFY,
      [&](const xcb_property_notify_event_t& n) {
        return n.window == window() && n.atom == atoms_.time_property;
      },
      &event);
  if (wake == Wake::kBroken) FailConnection();
  if (wake != Wake::kEvent) {
    Fail(status::kTimeout, "the X server did not answer within 2 s");
  }
  return reinterpret_cast<const xcb_property_notify_event_t*>(event.get())
      ->time;
}

std::string Session::Read() {
  if (SelectionOwner(atoms_.clipboard) == XCB_NONE) return {};
  const xcb_timestamp_t time = ServerTime();

  // The owner's own list of formats decides, in our order of preference. An
  // owner that refuses TARGETS may still have text under the common names.
  std::vector<xcb_atom_t> order;
  std::optional<Received> targets = Request(atoms_.targets, time);
  if (targets && targets->format == 32) {
    std::vector<xcb_atom_t> offered(targets->bytes.size() / 4);
    std::memcpy(offered.data(), targets->bytes.data(), offered.size() * 4);
    for (xcb_atom_t wanted : {atoms_.utf8_string, atoms_.text_plain_utf8,
                              xcb_atom_t{XCB_ATOM_STRING}, atoms_.text}) {
      if (std::find(offered.begin(), offered.end(), wanted) != offered.end()) {
        order.push_back(wanted);
      }
    }
  } else {
    order = {atoms_.utf8_string, XCB_ATOM_STRING};
  }
  for (const xcb_atom_t target : order) {
    std::optional<Received> text = Request(target, time);
    if (!text) continue;  // refused after all: try the next format
    // STRING is Latin-1 by definition; everything else comes as it is.
    if (text->type == XCB_ATOM_STRING) return Latin1ToUtf8(text->bytes);
    return std::move(text->bytes);
  }
  return {};  // no text on the clipboard (an image only, say)
}

// Asks the owner of selection to convert it to target into our property,
// and waits for the answer until timeout has passed. Returns the answer, or
// nothing when none came in time; a broken connection throws. A reply to
// the clipboard manager's SAVE_TARGETS is taken whatever target it names.
Event Session::ConvertSelection(xcb_atom_t selection, xcb_atom_t target,
                                xcb_timestamp_t time, Clock::duration timeout) {
  xcb_delete_property(c(), window(), atoms_.property);
  xcb_convert_selection(c(), window(), selection, target, atoms_.property,
                        time);
  const bool any_target = target == atoms_.save_targets;
  Event event;
  const Wake wake = WaitForEvent<xcb_selection_notify_event_t>(
      Clock::now() + timeout, XCB_SELECTION_NOTIFY,
      [&](const xcb_selection_notify_event_t& n) {
        return n.requestor == window() && n.selection == selection &&
               (any_target || n.target == target);
      },
      &event);
  if (wake == Wake::kBroken) FailConnection();
  if (wake != Wake::kEvent) event.reset();
  return event;
}

std::optional<Received> Session::Request(xcb_atom_t target,
                                         xcb_timestamp_t time) {
  const Event event =
      ConvertSelection(atoms_.clipboard, target, time, kAnswerTimeout);
  if (!event) {
    Fail(status::kTimeout, "the owning program did not answer within 2 s");
  }
  const auto* notify =
      reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
  if (notify->property == XCB_NONE) return std::nullopt;  // refused
  return ReadProperty(notify->property);
}

XPtr<xcb_get_property_reply_t> Session::GetOwnProperty(xcb_atom_t property) {
  // Read and deleted at once: deleting is what tells an INCR sender to
  // start, and then to send each next chunk.
  xcb_generic_error_t* raw_error = nullptr;
  XPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      c(),
      xcb_get_property(c(), 1, window(), property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                       UINT32_MAX / 4),
      &raw_error));
  XPtr<xcb_generic_error_t> error(raw_error);
  if (!reply) {
    if (!error) FailConnection();
    Fail(status::kFail,
         "the X server refused to hand over the answer (X error " +
             std::to_string(error->error_code) + ")");
  }
  return reply;
}

std::optional<Received> Session::ReadProperty(xcb_atom_t property) {
  XPtr<xcb_get_property_reply_t> reply = GetOwnProperty(property);
  if (reply->type == XCB_NONE) return std::nullopt;  // said yes, wrote nothing
  const auto* value =
      static_cast<const char*>(xcb_get_property_value(reply.get()));
  const int length = xcb_get_property_value_length(reply.get());
  if (reply->type == atoms_.incr) {
    std::uint32_t size_hint = 0;
    if (reply->format == 32 && length >= 4) std::memcpy(&size_hint, value, 4);
    reply.reset();
    return ReadIncr(property, size_hint);
  }
  return Received{reply->type, reply->format, std::string(value, length)};
}

Received Session::ReadIncr(xcb_atom_t property, std::size_t size_hint) {
  Received received{XCB_NONE, 8, {}};
  // The announced size is only a lower bound; it saves most reallocations.
  received.bytes.reserve(size_hint);
  for (;;) {
    Event event;
    const Wake wake = WaitForEvent<xcb_property_notify_event_t>(
        Clock::now() + kAnswerTimeout, XCB_PROPERTY_NOTIFY,
        [&](const xcb_property_notify_event_t& n) {
          return n.window == window() && n.atom == property &&
                 n.state == XCB_PROPERTY_NEW_VALUE;
        },
        &event);
    if (wake == Wake::kBroken) FailConnection();
    if (wake != Wake::kEvent) {
      Fail(status::kTimeout,
           "the owning program stopped sending the text for 2 s");
    }
    XPtr<xcb_get_property_reply_t> reply = GetOwnProperty(property);
    const int length = xcb_get_property_value_length(reply.get());
    if (length == 0) return received;  // the zero-length chunk: all sent
    if (received.type == XCB_NONE) {
      received.type = reply->type;
      received.format = reply->format;
    }
    received.bytes.append(
        static_cast<const char*>(xcb_get_property_value(reply.get())), length);
  }
}

// ---------------------------------------------------------------------------
// Hand-over: the text must outlive this process.

void Session::HandOver() {
  if (HandToManager()) return;
  ForkServer();
}

// The clipboard manager protocol: we ask the owner of CLIPBOARD_MANAGER to
// convert SAVE_TARGETS; it then asks us for the text (we serve it while
// waiting), takes CLIPBOARD itself and answers. A manager that does not
// answer in time, refuses, or does not end up owning CLIPBOARD has not
// taken the text, and we fall back to our own server.
bool Session::HandToManager() {
  if (SelectionOwner(atoms_.clipboard_manager) == XCB_NONE) return false;
  const Event event =
      ConvertSelection(atoms_.clipboard_manager, atoms_.save_targets,
                       owned_since_, kManagerTimeout);
  if (!event) return false;
  xcb_delete_property(c(), window(), atoms_.property);
  const auto* notify =
      reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
  if (notify->property == XCB_NONE) return false;
  const xcb_window_t owner = SelectionOwner(atoms_.clipboard);
  return owner != XCB_NONE && owner != window();
}

// No clipboard manager: a child process takes the selection over on its own
// connection and serves it after we are gone. We return once it says it owns
// the selection, so a paste right after we end finds the text; until then we
// serve our own requests, so a paste in this moment works too.
void Session::ForkServer() {
  xcb_flush(c());
  std::unique_ptr<Session> server;
  linux_clipboard::ServerSteps steps;
  steps.abandon_parent = [&] {
    linux_clipboard::AbandonAfterFork(connection_);
  };
  steps.take_over = [&] {
    server = Session::Open(Operation::kSetText, &atoms_);
    server->Own(offer_);
  };
  steps.serve = [&] { server->ServeUntilTaken(); };
  linux_clipboard::StartClipboardServer(
      operation_, steps, [&](int fd, Clock::time_point deadline) {
        Event unused;
        const Wake wake = Wait(
            deadline, [](const xcb_generic_event_t*) { return false; }, &unused,
            fd, [] { return false; });
        if (wake == Wake::kBroken) FailConnection();
        return wake == Wake::kFd;
      });
}

void Session::ServeUntilTaken() {
  Event unused;
  linux_clipboard::ServeUntilTaken(
      [&](Clock::time_point deadline, const auto& stop) {
        const auto never = [](const xcb_generic_event_t*) { return false; };
        return Wait(deadline, never, &unused, -1, stop) == Wake::kStop;
      },
      [&] { return !owned_; }, [] {}, [&] { return transfers_.empty(); });
}

}  // namespace quillmore::x11_clipboard
