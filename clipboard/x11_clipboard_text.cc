// The X11 backend. X has no clipboard store: the CLIPBOARD selection is a
// promise by its owner (a window of some client) to convert its data on
// request, and the data dies with the owner. So reading means asking the
// owner and waiting for its answer, and writing means becoming the owner and
// answering others' requests for as long as the text should stay pasteable.
//
// Everything runs on one thread. Waiting for another client is one poll loop
// (Session::Wait) that serves requests for our own selection while it waits,
// so we can ask and answer at the same time (a clipboard manager asks us for
// the text while we wait for it to confirm the hand-over). No wait is without
// a deadline, because the other side is another program that may hang.
#include "clipboard/x11_clipboard_text.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clipboard/linux_shared.h"
#include "base/error.h"

namespace quillmore {
namespace {

using linux_clipboard::Clock;
using linux_clipboard::Latin1ToUtf8;
using linux_clipboard::RepresentableInLatin1;
using linux_clipboard::Utf8ToLatin1;
using linux_clipboard::WithLfLineBreaks;
using std::chrono::milliseconds;

constexpr char kInterface[] = "ClipboardText";

// kAnswerTimeout bounds each answer to a conversion request and each pause
// between two chunks of an incremental (INCR) transfer we read;
// kRequestorTimeout, how long a requestor may take to delete a chunk we sent.
using linux_clipboard::kAnswerTimeout;
using linux_clipboard::kFinishTimeout;
using linux_clipboard::kRequestorTimeout;
// How long a clipboard manager may take to take the text over.
constexpr milliseconds kManagerTimeout{5000};
// Texts above this size (or a quarter of the server's largest request, if
// smaller) are sent incrementally, in chunks of this size.
constexpr std::size_t kIncrLimit = std::size_t{1} << 20;

[[noreturn]] void Fail(StatusCode code, Operation operation,
                       std::string cause) {
  throw Error(code, kInterface, operation, std::move(cause));
}

// ---------------------------------------------------------------------------
// Owners of xcb resources.

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};
// Replies, events and errors are malloc'ed by xcb and freed by the caller.
template <typename T>
using XPtr = std::unique_ptr<T, FreeDeleter>;
using Event = XPtr<xcb_generic_event_t>;

// xcb_connect never returns null; even a failed connection is ended (and
// freed) by its owner.
using Connection =
    linux_clipboard::DisplayConnection<xcb_connection_t, xcb_disconnect,
                                       xcb_get_file_descriptor>;

class Window {
 public:
  Window() noexcept = default;
  Window(xcb_connection_t* c, xcb_window_t id) noexcept : c_(c), id_(id) {}
  Window(Window&& other) noexcept
      : c_(std::exchange(other.c_, nullptr)),
        id_(std::exchange(other.id_, XCB_NONE)) {}
  Window& operator=(Window&& other) noexcept {
    if (this != &other) {
      Reset();
      c_ = std::exchange(other.c_, nullptr);
      id_ = std::exchange(other.id_, XCB_NONE);
    }
    return *this;
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  ~Window() { Reset(); }

  xcb_window_t id() const noexcept { return id_; }

 private:
  void Reset() noexcept {
    if (c_ != nullptr && id_ != XCB_NONE) {
      xcb_destroy_window(c_, id_);
      xcb_flush(c_);
    }
    c_ = nullptr;
    id_ = XCB_NONE;
  }

  xcb_connection_t* c_ = nullptr;
  xcb_window_t id_ = XCB_NONE;
};

// ---------------------------------------------------------------------------
// The session: one connection, one window, the atoms, what we offer.

struct Atoms {
  xcb_atom_t clipboard, targets, timestamp, multiple, save_targets, utf8_string,
      text_plain_utf8, text, incr, atom_pair, clipboard_manager, null, property,
      time_property;
};

// The text on offer while we own CLIPBOARD; no text after Clear.
struct Offer {
  std::shared_ptr<const std::string> utf8;
  bool latin1 = false;  // also offered as STRING and TEXT
};

// An incremental transfer to one requestor: each time it deletes the
// property, the next chunk goes out; a zero-length chunk ends it.
struct Transfer {
  xcb_window_t requestor;
  xcb_atom_t property;
  xcb_atom_t type;
  std::shared_ptr<const std::string> data;
  std::size_t offset;
  Clock::time_point last_progress;
};

struct Received {
  xcb_atom_t type;
  std::uint8_t format;
  std::string bytes;
};

enum class Wake { kEvent, kTimeout, kFd, kStop, kBroken };

class Session {
 public:
  // Connects to the display named by DISPLAY. operation names the caller in
  // the error if that fails. Atoms are the server's, not the connection's:
  // a session on the same server may pass its own to save the round trip.
  static std::unique_ptr<Session> Open(Operation operation,
                                       const Atoms* known_atoms = nullptr);

  void set_operation(Operation operation) { operation_ = operation; }

  std::string Read();
  // Becomes the owner of CLIPBOARD offering offer (no text: Clear), and
  // checks that the server agrees.
  void Own(Offer offer);
  // Leaves the owned text with a program that outlives this one.
  void HandOver();

 private:
  Session(Connection connection, Window window, const Atoms& atoms,
          std::size_t incr_limit)
      : connection_(std::move(connection)),
        window_(std::move(window)),
        atoms_(atoms),
        incr_limit_(incr_limit) {}

  xcb_connection_t* c() const { return connection_.get(); }
  [[noreturn]] void Fail(StatusCode code, std::string cause) const {
    quillmore::Fail(code, operation_, std::move(cause));
  }
  [[noreturn]] void FailConnection() const {
    Fail(status::kFail, "the connection to the X server was lost");
  }

  // Reading.
  xcb_window_t SelectionOwner(xcb_atom_t selection);
  xcb_timestamp_t ServerTime();
  Event ConvertSelection(xcb_atom_t selection, xcb_atom_t target,
                         xcb_timestamp_t time, Clock::duration timeout);
  std::optional<Received> Request(xcb_atom_t target, xcb_timestamp_t time);
  std::optional<Received> ReadProperty(xcb_atom_t property);
  Received ReadIncr(xcb_atom_t property, std::size_t size_hint);

  // Hand-over.
  bool HandToManager();
  void ForkServer();
  void ServeUntilTaken();

  // Serving.
  template <typename Wanted, typename Stop>
  Wake Wait(Clock::time_point deadline, Wanted&& wanted, Event* event,
            int extra_fd, Stop&& stop);
  template <typename Wanted>
  Wake WaitForEvent(Clock::time_point deadline, Wanted&& wanted, Event* event) {
    return Wait(deadline, wanted, event, -1, [] { return false; });
  }
  void Dispatch(const xcb_generic_event_t* event);
  void Answer(const xcb_selection_request_event_t& request);
  bool Convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property);
  bool ConvertMultiple(xcb_window_t requestor, xcb_atom_t property);
  void Send(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type,
            std::shared_ptr<const std::string> data);
  void Advance(xcb_window_t requestor, xcb_atom_t property);
  void EndTransfer(std::vector<Transfer>::iterator transfer);
  void ExpireTransfers(Clock::time_point now);
  std::shared_ptr<const std::string> Latin1();

  // Destroyed in reverse: the window goes before the connection.
  Connection connection_;
  Window window_;
  Atoms atoms_;
  std::size_t incr_limit_;
  Operation operation_ = Operation::kGetText;

  bool owned_ = false;
  xcb_timestamp_t owned_since_ = XCB_CURRENT_TIME;
  Offer offer_;
  std::shared_ptr<const std::string> latin1_;  // made on first request
  std::vector<Transfer> transfers_;
};

std::unique_ptr<Session> Session::Open(Operation operation,
                                       const Atoms* known_atoms) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    quillmore::Fail(status::kFail, operation,
                    "no X display to use (DISPLAY is not set)");
  }
  int screen_number = 0;
  Connection connection(xcb_connect(nullptr, &screen_number));
  xcb_connection_t* c = connection.get();
  if (xcb_connection_has_error(c)) {
    quillmore::Fail(
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
    quillmore::Fail(
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
        quillmore::Fail(
            status::kFail, operation,
            std::string("the X server refused the atom ") + kNames[i]);
      }
      values[i] = reply->atom;
    }
    std::memcpy(&atoms, values, sizeof atoms);
  }

  XPtr<xcb_generic_error_t> error(xcb_request_check(c, created));
  if (error) {
    quillmore::Fail(status::kFail, operation,
                    "the X server refused to create a window (X error " +
                        std::to_string(error->error_code) + ")");
  }
  Window window(c, id);

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
    ExpireTransfers(now);
    if (stop()) return Wake::kStop;
    if (now >= deadline) return Wake::kTimeout;
    if (xcb_flush(c()) <= 0) return Wake::kBroken;

    Clock::time_point wake_at = deadline;
    for (const Transfer& transfer : transfers_) {
      wake_at = std::min(wake_at, transfer.last_progress + kRequestorTimeout);
    }
    int timeout = -1;
    if (wake_at != Clock::time_point::max()) {
      const auto ms = std::chrono::ceil<milliseconds>(wake_at - now).count();
      timeout = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
    }
    pollfd fds[2] = {{xcb_get_file_descriptor(c()), POLLIN, 0},
                     {extra_fd, POLLIN, 0}};
    const int ready = poll(fds, extra_fd >= 0 ? 2 : 1, timeout);
    if (ready < 0 && errno != EINTR) return Wake::kBroken;
    if (ready > 0 && extra_fd >= 0 && fds[1].revents != 0) return Wake::kFd;
  }
}

void Session::Dispatch(const xcb_generic_event_t* event) {
  switch (event->response_type & 0x7F) {
    case 0: {
      // An error from a request we did not wait on. Those are the writes to
      // requestors' windows, and a requestor may vanish at any moment: drop
      // whatever we were sending it and carry on.
      const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
      if (error->error_code == XCB_WINDOW) {
        for (auto it = transfers_.begin(); it != transfers_.end();) {
          it = it->requestor == error->resource_id ? transfers_.erase(it)
                                                   : std::next(it);
        }
      }
      break;
    }
    case XCB_SELECTION_REQUEST:
      Answer(*reinterpret_cast<const xcb_selection_request_event_t*>(event));
      break;
    case XCB_SELECTION_CLEAR: {
      const auto* clear =
          reinterpret_cast<const xcb_selection_clear_event_t*>(event);
      if (clear->selection == atoms_.clipboard &&
          clear->owner == window_.id()) {
        owned_ = false;
      }
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto* notify =
          reinterpret_cast<const xcb_property_notify_event_t*>(event);
      if (notify->window != window_.id() &&
          notify->state == XCB_PROPERTY_DELETE) {
        Advance(notify->window, notify->atom);
      }
      break;
    }
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Serving our selection.

void Session::Answer(const xcb_selection_request_event_t& request) {
  // Obsolete clients name no property; the target then serves as one.
  const xcb_atom_t property =
      request.property == XCB_NONE ? request.target : request.property;
  // A request stamped before we took the selection was meant for the owner
  // before us.
  const bool current =
      request.time == XCB_CURRENT_TIME ||
      static_cast<std::int32_t>(request.time - owned_since_) >= 0;
  bool converted = false;
  if (owned_ && current && request.owner == window_.id() &&
      request.selection == atoms_.clipboard) {
    if (request.target == atoms_.multiple) {
      converted = request.property != XCB_NONE &&
                  ConvertMultiple(request.requestor, property);
    } else {
      converted = Convert(request.requestor, request.target, property);
    }
  }
  xcb_selection_notify_event_t notify{};
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  notify.property = converted ? property : XCB_NONE;
  xcb_send_event(c(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&notify));
}

bool Session::Convert(xcb_window_t requestor, xcb_atom_t target,
                      xcb_atom_t property) {
  const bool has_text = offer_.utf8 != nullptr;
  if (target == atoms_.targets) {
    std::vector<xcb_atom_t> list = {atoms_.targets, atoms_.timestamp,
                                    atoms_.multiple};
    if (has_text) {
      list.insert(list.end(), {atoms_.save_targets, atoms_.utf8_string,
                               atoms_.text_plain_utf8});
      if (offer_.latin1)
        list.insert(list.end(), {XCB_ATOM_STRING, atoms_.text});
    }
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                        XCB_ATOM_ATOM, 32, list.size(), list.data());
    return true;
  }
  if (target == atoms_.timestamp) {
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                        XCB_ATOM_INTEGER, 32, 1, &owned_since_);
    return true;
  }
  if (!has_text) return false;
  if (target == atoms_.save_targets) {
    // Only a signal that we take part in the clipboard manager's hand-over;
    // the answer carries no data.
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                        atoms_.null, 32, 0, nullptr);
    return true;
  }
  if (target == atoms_.utf8_string || target == atoms_.text_plain_utf8) {
    Send(requestor, property, target, offer_.utf8);
    return true;
  }
  if ((target == XCB_ATOM_STRING || target == atoms_.text) && offer_.latin1) {
    Send(requestor, property, XCB_ATOM_STRING, Latin1());
    return true;
  }
  return false;
}

bool Session::ConvertMultiple(xcb_window_t requestor, xcb_atom_t property) {
  // The requestor's property lists (target, property) pairs; a pair we cannot
  // convert gets None as its target, and the list goes back in its place.
  XPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      c(),
      xcb_get_property(c(), 0, requestor, property, XCB_GET_PROPERTY_TYPE_ANY,
                       0, 1 << 16),
      nullptr));
  if (!reply || reply->format != 32) return false;
  const auto* values =
      static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
  std::vector<xcb_atom_t> pairs(values, values + (reply->value_len & ~1u));
  for (std::size_t i = 0; i < pairs.size(); i += 2) {
    if (pairs[i] == atoms_.multiple ||
        !Convert(requestor, pairs[i], pairs[i + 1])) {
      pairs[i] = XCB_NONE;
    }
  }
  xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                      atoms_.atom_pair, 32, pairs.size(), pairs.data());
  return true;
}

void Session::Send(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type,
                   std::shared_ptr<const std::string> data) {
  if (data->size() <= incr_limit_) {
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property, type,
                        8, data->size(), data->data());
    return;
  }
  // Too big for one request: announce INCR with a lower bound of the size,
  // then send a chunk each time the requestor deletes the property. Watching
  // the requestor's window must start before it can see the announcement.
  for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
    if (it->requestor == requestor && it->property == property) {
      transfers_.erase(it);
      break;
    }
  }
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c(), requestor, XCB_CW_EVENT_MASK, &mask);
  const auto size = static_cast<std::uint32_t>(
      std::min<std::size_t>(data->size(), UINT32_MAX));
  xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                      atoms_.incr, 32, 1, &size);
  transfers_.push_back(
      {requestor, property, type, std::move(data), 0, Clock::now()});
}

void Session::Advance(xcb_window_t requestor, xcb_atom_t property) {
  auto it = std::find_if(
      transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
        return t.requestor == requestor && t.property == property;
      });
  if (it == transfers_.end()) return;
  const std::size_t chunk =
      std::min(incr_limit_, it->data->size() - it->offset);
  xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property, it->type,
                      8, chunk, it->data->data() + it->offset);
  it->offset += chunk;
  it->last_progress = Clock::now();
  // The zero-length chunk ends the transfer; the requestor need not delete
  // it, so nothing more is waited for.
  if (chunk == 0) EndTransfer(it);
}

void Session::EndTransfer(std::vector<Transfer>::iterator transfer) {
  const xcb_window_t requestor = transfer->requestor;
  transfers_.erase(transfer);
  const bool still_used =
      std::any_of(transfers_.begin(), transfers_.end(),
                  [&](const Transfer& t) { return t.requestor == requestor; });
  if (!still_used && requestor != window_.id()) {
    const std::uint32_t mask = XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(c(), requestor, XCB_CW_EVENT_MASK, &mask);
  }
}

void Session::ExpireTransfers(Clock::time_point now) {
  for (auto it = transfers_.begin(); it != transfers_.end();) {
    if (now - it->last_progress >= kRequestorTimeout) {
      const auto index = it - transfers_.begin();
      EndTransfer(it);
      it = transfers_.begin() + index;
    } else {
      ++it;
    }
  }
}

std::shared_ptr<const std::string> Session::Latin1() {
  if (!latin1_)
    latin1_ = std::make_shared<std::string>(Utf8ToLatin1(*offer_.utf8));
  return latin1_;
}

void Session::Own(Offer offer) {
  const xcb_timestamp_t time = ServerTime();
  transfers_.clear();
  latin1_.reset();
  offer_ = std::move(offer);
  xcb_set_selection_owner(c(), window_.id(), atoms_.clipboard, time);
  if (SelectionOwner(atoms_.clipboard) != window_.id()) {
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
  xcb_change_property(c(), XCB_PROP_MODE_APPEND, window_.id(),
                      atoms_.time_property, XCB_ATOM_INTEGER, 32, 0, nullptr);
  Event event;
  const Wake wake = WaitForEvent(
      Clock::now() + kAnswerTimeout,
      [&](const xcb_generic_event_t* e) {
        if ((e->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
        const auto* n = reinterpret_cast<const xcb_property_notify_event_t*>(e);
        return n->window == window_.id() && n->atom == atoms_.time_property;
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
  xcb_delete_property(c(), window_.id(), atoms_.property);
  xcb_convert_selection(c(), window_.id(), selection, target, atoms_.property,
                        time);
  const bool any_target = target == atoms_.save_targets;
  Event event;
  const Wake wake = WaitForEvent(
      Clock::now() + timeout,
      [&](const xcb_generic_event_t* e) {
        if ((e->response_type & 0x7F) != XCB_SELECTION_NOTIFY) return false;
        const auto* n =
            reinterpret_cast<const xcb_selection_notify_event_t*>(e);
        return n->requestor == window_.id() && n->selection == selection &&
               (any_target || n->target == target);
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

std::optional<Received> Session::ReadProperty(xcb_atom_t property) {
  // Deleting while reading is what tells an INCR sender to start.
  XPtr<xcb_generic_error_t> error;
  xcb_generic_error_t* raw_error = nullptr;
  XPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      c(),
      xcb_get_property(c(), 1, window_.id(), property,
                       XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
      &raw_error));
  error.reset(raw_error);
  if (!reply) {
    if (!error) FailConnection();
    Fail(status::kFail,
         "the X server refused to hand over the answer (X error " +
             std::to_string(error->error_code) + ")");
  }
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
    const Wake wake = WaitForEvent(
        Clock::now() + kAnswerTimeout,
        [&](const xcb_generic_event_t* e) {
          if ((e->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
          const auto* n =
              reinterpret_cast<const xcb_property_notify_event_t*>(e);
          return n->window == window_.id() && n->atom == property &&
                 n->state == XCB_PROPERTY_NEW_VALUE;
        },
        &event);
    if (wake == Wake::kBroken) FailConnection();
    if (wake != Wake::kEvent) {
      Fail(status::kTimeout,
           "the owning program stopped sending the text for 2 s");
    }
    xcb_generic_error_t* raw_error = nullptr;
    XPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c(),
        xcb_get_property(c(), 1, window_.id(), property,
                         XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
        &raw_error));
    XPtr<xcb_generic_error_t> error(raw_error);
    if (!reply) {
      if (!error) FailConnection();
      Fail(status::kFail,
           "the X server refused to hand over the answer (X error " +
               std::to_string(error->error_code) + ")");
    }
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
  xcb_delete_property(c(), window_.id(), atoms_.property);
  const auto* notify =
      reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
  if (notify->property == XCB_NONE) return false;
  const xcb_window_t owner = SelectionOwner(atoms_.clipboard);
  return owner != XCB_NONE && owner != window_.id();
}

// No clipboard manager: a child process takes the selection over on its own
// connection and serves it after we are gone. We return once it says it owns
// the selection, so a paste right after we end finds the text; until then we
// serve our own requests, so a paste in this moment works too.
void Session::ForkServer() {
  xcb_flush(c());
  std::unique_ptr<Session> server;
  linux_clipboard::ServerSteps steps;
  steps.abandon_parent = [&] { connection_.AbandonAfterFork(); };
  steps.take_over = [&] {
    server = Session::Open(Operation::kSetText, &atoms_);
    server->Own(offer_);
  };
  steps.serve = [&] { server->ServeUntilTaken(); };
  linux_clipboard::StartClipboardServer(
      kInterface, operation_, steps, [&](int fd, Clock::time_point deadline) {
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
  const auto never = [](const xcb_generic_event_t*) { return false; };
  const Wake wake = Wait(Clock::time_point::max(), never, &unused, -1,
                         [&] { return !owned_; });
  if (wake != Wake::kStop) return;  // the server is gone
  // Another program has the clipboard now; requestors in the middle of a
  // transfer still get the rest of the text.
  Wait(Clock::now() + kFinishTimeout, never, &unused, -1,
       [&] { return transfers_.empty(); });
}

// ---------------------------------------------------------------------------
// The interface.

class X11ClipboardText final : public ClipboardText<char> {
 public:
  Text GetText() override { return SessionFor(Operation::kGetText).Read(); }

  // Taking the selection with nothing on offer makes the previous owner
  // drop it, with all its formats.
  void Clear() override { SessionFor(Operation::kClear).Own(Offer{}); }

  void SetText(TextView text) override {
    Session& session = SessionFor(Operation::kSetText);
    auto utf8 = std::make_shared<const std::string>(WithLfLineBreaks(text));
    const bool latin1 = RepresentableInLatin1(*utf8);
    session.Own(Offer{std::move(utf8), latin1});
    session.HandOver();
  }

 private:
  // One connection for the run: a selection dies with the connection that
  // owns it, so the ownership taken by Clear and SetText needs it to live on.
  Session& SessionFor(Operation operation) {
    if (!session_) session_ = Session::Open(operation);
    session_->set_operation(operation);
    return *session_;
  }

  std::unique_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<ClipboardText<char>> MakeX11ClipboardText() {
  return std::make_unique<X11ClipboardText>();
}

}  // namespace quillmore
