// The X11 session's connection, its wait loop, taking the selection, and the
// forked server that keeps our text after the run. What the session is, and
// why it waits as it does: session.h.
#include "clipboard/x11/session.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/bigreq.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "base/error.h"
#include "clipboard/linux/clipboard_server.h"

namespace quillmore::x11_clipboard {

using linux_clipboard::kAnswerTimeout;

namespace {

// Asks for every atom's number by its name; TakeAtoms collects the answers.
struct AtomCookies {
#define QUILLMORE_ATOM_COOKIE(field, name) xcb_intern_atom_cookie_t field;
  QUILLMORE_X11_ATOMS(QUILLMORE_ATOM_COOKIE)
#undef QUILLMORE_ATOM_COOKIE
};

AtomCookies AskAtoms(xcb_connection_t* c) {
  AtomCookies cookies;
#define QUILLMORE_ASK_ATOM(field, name) \
  cookies.field = xcb_intern_atom(c, 0, sizeof name - 1, name);
  QUILLMORE_X11_ATOMS(QUILLMORE_ASK_ATOM)
#undef QUILLMORE_ASK_ATOM
  return cookies;
}

xcb_atom_t TakeAtom(xcb_connection_t* c, xcb_intern_atom_cookie_t cookie,
                    const char* name) {
  XPtr<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(c, cookie, nullptr));
  if (!reply)
    Fail(status::kFail, std::string("the X server refused the atom ") + name);
  return reply->atom;
}

Atoms TakeAtoms(xcb_connection_t* c, const AtomCookies& cookies) {
  Atoms atoms;
#define QUILLMORE_TAKE_ATOM(field, name) \
  atoms.field = TakeAtom(c, cookies.field, name);
  QUILLMORE_X11_ATOMS(QUILLMORE_TAKE_ATOM)
#undef QUILLMORE_TAKE_ATOM
  return atoms;
}

}  // namespace

std::unique_ptr<Session> Session::Open() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    Fail(status::kFail, "no X display to use (DISPLAY is not set)");
  }
  int screen_number = 0;
  Connection connection(ConnectToDisplay(display, &screen_number));
  xcb_connection_t* c = connection.get();
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_number && screens.rem > 0; ++i) {
    xcb_screen_next(&screens);
  }
  if (screens.rem == 0) {
    Fail(status::kFail,
         std::string("the X display \"") + display + "\" has no such screen");
  }

  // One round trip for all of it: the atoms, our window, a first server
  // timestamp, and whether BIG-REQUESTS is there for the server to use.
  const AtomCookies cookies = AskAtoms(c);
  xcb_prefetch_extension_data(c, &xcb_big_requests_id);
  // An unmapped input-only window: it never shows, it only owns the
  // selection, receives the answers and gives us server timestamps.
  const xcb_window_t id = xcb_generate_id(c);
  const std::uint32_t event_mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_void_cookie_t created = xcb_create_window_checked(
      c, XCB_COPY_FROM_PARENT, id, screens.data->root, 0, 0, 1, 1, 0,
      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
      &event_mask);
  Window window(WindowId{c, id});
  xcb_change_property(c, XCB_PROP_MODE_APPEND, id, kTimeProperty,
                      XCB_ATOM_STRING, 8, 0, nullptr);

  const Atoms atoms = TakeAtoms(c, cookies);
  XPtr<xcb_generic_error_t> error(xcb_request_check(c, created));
  if (error) {
    window.Abandon();
    Fail(status::kFail, "the X server refused to create a window (X error " +
                            std::to_string(error->error_code) + ")");
  }
  return std::unique_ptr<Session>(
      new Session(std::move(connection), std::move(window), atoms));
}

// ---------------------------------------------------------------------------
// The wait loop.

// Serves requests and transfers until an event that wanted() accepts (moved
// to *event), stop() holds, the deadline passes or the connection breaks.
// Any xcb call may move events from the socket into xcb's queue (a flush
// that would block reads, a reply reads what came before it), so the queue
// is emptied before every poll: an event left there would wait for the next
// one on the socket, which may never come.
Wake Session::Wait(Clock::time_point deadline, const Wanted& wanted,
                   Event* event, const std::function<bool()>& stop) {
  bool read_socket = true;
  for (;;) {
    if (stop()) return Wake::kStop;
    Event next(read_socket ? xcb_poll_for_event(c())
                           : xcb_poll_for_queued_event(c()));
    read_socket = true;
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
    Event queued(xcb_poll_for_queued_event(c()));
    if (queued) {
      if (wanted(queued.get())) {
        *event = std::move(queued);
        return Wake::kEvent;
      }
      Dispatch(queued.get());
      read_socket = false;  // and look at the queue again first
      continue;
    }
    pollfd fd = {xcb_get_file_descriptor(c()), POLLIN, 0};
    const int timeout =
        linux_clipboard::PollTimeout(now, transfers_.WakeAt(deadline));
    if (poll(&fd, 1, timeout) < 0 && errno != EINTR) return Wake::kBroken;
  }
}

// ---------------------------------------------------------------------------
// Taking the selection.

void Session::Own(TextOffer offer, std::string_view read,
                  linux_clipboard::SignalHold& hold) {
  transfers_.clear();
  transfer_index_.clear();
  requestor_transfers_.clear();
  offer_ = std::move(offer);
  // Sent along: BIG-REQUESTS, which only the server uses, is switched on
  // without a round trip of its own.
  xcb_prefetch_maximum_request_length(c());
  // A compare-and-swap: the X server ignores a take stamped before the
  // clipboard's last one, so stamped just before the read's time it fails
  // if anybody took the clipboard since the read looked, even with the
  // window the read asked (an application copying again) or within the
  // same millisecond. A copy made since is the user's newer text and stays,
  // unless it is the text we read, taken again (as clipboard managers do):
  // then the take is tried again as of that read, for as long as the owner
  // had to answer (a read within the millisecond of that take is too early).
  const Clock::time_point give_up = Clock::now() + kAnswerTimeout;
  for (;;) {
    const xcb_timestamp_t as_of = read_time_ - 1;
    hold.Begin();
    xcb_set_selection_owner(c(), window(), atoms_.clipboard, as_of);
    if (SelectionOwner(xcb_get_selection_owner(c(), atoms_.clipboard)) ==
        window()) {
      owned_ = true;
      owned_since_ = as_of;
      return;
    }
    if (Clock::now() >= give_up || !StillHolds(read)) {
      Fail(status::kAccessDenied,
           "the clipboard changed while the text was laid out; nothing was "
           "written");
    }
  }
}

bool Session::StillHolds(std::string_view read) {
  try {
    AskServerTime();  // for the read to start from, as Open asked the first
    return Read() == read;
  } catch (const Failure&) {
    return false;  // changing, or its owner hangs: not the text we read
  }
}

xcb_window_t Session::SelectionOwner(xcb_get_selection_owner_cookie_t cookie) {
  XPtr<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(c(), cookie, nullptr));
  if (!reply) FailConnection();
  return reply->owner;
}

// ---------------------------------------------------------------------------
// The forked server.

void Session::HandOver(const std::vector<std::string_view>& left_behind) {
  if (xcb_flush(c()) <= 0) FailConnection();
  linux_clipboard::ForkClipboardServer(
      {xcb_get_file_descriptor(c())}, [&] { Serve(); }, left_behind);
  handed_over_ = true;
}

// In the child: asks a clipboard manager, if one runs, to take the text,
// and serves until it has or until another program takes the clipboard.
// The selection is never taken back: a copy made meanwhile stays.
void Session::Serve() {
  const std::size_t max_request =
      static_cast<std::size_t>(xcb_get_maximum_request_length(c())) * 4;
  incr_limit_ = std::min(kIncrLimit, max_request / 4);
  // With no manager the server itself refuses at once. A manager counts as
  // keeping the text only once its client has had it whole from us: one
  // that says yes without fetching it (as weston's window manager does)
  // would leave nobody holding it.
  const auto manager_cookie =
      xcb_get_selection_owner(c(), atoms_.clipboard_manager);
  xcb_convert_selection(c(), window(), atoms_.clipboard_manager,
                        atoms_.save_targets, atoms_.property, owned_since_);
  const xcb_window_t manager = SelectionOwner(manager_cookie);
  if (manager != XCB_NONE) {
    manager_client_ = manager & ~xcb_get_setup(c())->resource_id_mask;
  }
  Event unused;
  linux_clipboard::ServeUntilTaken(
      [&](Clock::time_point deadline, const std::function<bool()>& stop) {
        const auto never = [](const xcb_generic_event_t*) { return false; };
        return Wait(deadline, never, &unused, stop) == Wake::kStop;
      },
      [&] { return !owned_ || manager_has_text_; }, [] {},
      [&] { return transfers_.empty(); });
  // The wait ends as soon as it may, with answers it made still in xcb's
  // buffer: a requestor left without one would wait for ever.
  xcb_flush(c());
}

}  // namespace quillmore::x11_clipboard
