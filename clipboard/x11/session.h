// The X11 backend's session: one connection to the X server, one window,
// the atoms, and the text we offer while we own CLIPBOARD.
//
// X has no clipboard store: the CLIPBOARD selection is a promise by its
// owner (a window of some client) to convert its data on request, and the
// data dies with the owner. So reading means asking the owner and waiting
// for its answer, and writing means becoming the owner and answering others'
// requests for as long as the text should stay pasteable.
//
// Everything runs on one thread. Waiting for another client is one poll
// loop (Session::Wait, session.cc) that serves requests for our own
// selection while it waits (serving.cc). No wait is without a deadline,
// because the other side is another program that may hang.
//
// A run reads on its connection, takes the selection with the laid-out text
// on that same connection, then forks: the child inherits the connection,
// with the ownership, and serves the text (and offers it to a clipboard
// manager) in the background; the run ends at once.
#ifndef QUILLMORE_CLIPBOARD_X11_SESSION_H_
#define QUILLMORE_CLIPBOARD_X11_SESSION_H_

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/handle.h"
#include "clipboard/linux/clipboard_server.h"
#include "clipboard/linux/deadlines.h"
#include "clipboard/linux/display_connection.h"
#include "clipboard/linux/fail.h"
#include "clipboard/linux/read_limits.h"
#include "clipboard/linux/text_offer.h"
#include "clipboard/linux/transfers.h"

namespace quillmore::x11_clipboard {

using linux_clipboard::Clock;
using linux_clipboard::Fail;
using linux_clipboard::TextOffer;
using linux_clipboard::Wake;

// Texts above this size (or a quarter of the server's largest request, if
// smaller) are sent incrementally, in chunks of this size.
inline constexpr std::size_t kIncrLimit = std::size_t{1} << 20;

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

// Connects to display within kAnswerTimeout (connect.cc). Fails with the
// server's reason when it refuses.
xcb_connection_t* ConnectToDisplay(const char* display, int* screen);

// A window of ours, destroyed by its owner.
struct WindowId {
  xcb_connection_t* c;
  xcb_window_t id;
  bool operator==(const WindowId& o) const { return c == o.c && id == o.id; }
  bool operator!=(const WindowId& o) const { return !(*this == o); }
};
struct WindowTraits {
  using Value = WindowId;
  static WindowId Empty() noexcept { return {nullptr, XCB_NONE}; }
  static void Release(WindowId window) noexcept {
    xcb_destroy_window(window.c, window.id);
    xcb_flush(window.c);
  }
};
using Window = Handle<WindowTraits>;

// A zero-length append to this property of our window stamps the server's
// time on the PropertyNotify it causes. A predefined atom, so that the first
// one goes out before the atoms are known.
inline constexpr xcb_atom_t kTimeProperty = XCB_ATOM_WM_NAME;

// The atoms the session uses, each by its field and its name.
#define QUILLMORE_X11_ATOMS(A)                     \
  A(clipboard, "CLIPBOARD")                        \
  A(targets, "TARGETS")                            \
  A(timestamp, "TIMESTAMP")                        \
  A(multiple, "MULTIPLE")                          \
  A(save_targets, "SAVE_TARGETS")                  \
  A(utf8_string, "UTF8_STRING")                    \
  A(text_plain_utf8, "text/plain;charset=utf-8")   \
  A(text, "TEXT")                                  \
  A(incr, "INCR")                                  \
  A(atom_pair, "ATOM_PAIR")                        \
  A(clipboard_manager, "CLIPBOARD_MANAGER")        \
  A(null, "NULL")                                  \
  /* the property our window is sent answers in */ \
  A(property, "QUILLMORE_SELECTION")

struct Atoms {
#define QUILLMORE_ATOM_FIELD(field, name) xcb_atom_t field;
  QUILLMORE_X11_ATOMS(QUILLMORE_ATOM_FIELD)
#undef QUILLMORE_ATOM_FIELD
};

// An incremental (INCR) transfer to one requestor: each time it deletes the
// property, the next chunk goes out; a zero-length chunk ends it.
struct Transfer : linux_clipboard::TransferProgress {
  xcb_window_t requestor;
  xcb_atom_t property;
  xcb_atom_t type;
};

struct Received {
  xcb_atom_t type;
  std::uint8_t format;
  std::string bytes;
  bool incremental = false;  // came in INCR pieces
};

class Session {
 public:
  // Connects to the display named by DISPLAY.
  static std::unique_ptr<Session> Open();
  // Once the server has been forked the connection is the child's: the run
  // must neither use it nor end it (ending it shuts the socket down).
  ~Session() {
    if (handed_over_) {
      window_.Abandon();
      linux_clipboard::LetGoAfterFork(connection_);
    }
  }

  // The text on the clipboard; empty only when its owner offers no text.
  // Fails when the owner changes or refuses a text type it offered.
  std::string Read();
  // Becomes the owner of CLIPBOARD offering the text, only if nobody has
  // taken it since the last Read, which returned read; else fails, unless
  // the clipboard (read again) still holds that text. Begins hold just
  // before each take.
  void Own(TextOffer offer, std::string_view read,
           linux_clipboard::SignalHold& hold);
  // Forks the server that keeps the text after the run; returns at once.
  // The texts in left_behind (the caller's, alive for the call) are not
  // inherited by the server, which has its own copy of what it offers.
  void HandOver(const std::vector<std::string_view>& left_behind);

 private:
  using TransferList = linux_clipboard::Transfers<Transfer>::List;

  Session(Connection connection, Window window, const Atoms& atoms)
      : connection_(std::move(connection)),
        window_(std::move(window)),
        atoms_(atoms) {}

  xcb_connection_t* c() const { return connection_.get(); }
  xcb_window_t window() const { return window_.get().id; }
  [[noreturn]] static void FailConnection() {
    Fail(status::kFail, "the connection to the X server was lost");
  }

  // Reading (reading.cc).
  xcb_window_t SelectionOwner(xcb_get_selection_owner_cookie_t cookie);
  // Asks for a server timestamp: the PropertyNotify of a zero-length append
  // to our window, collected by TakeServerTime.
  void AskServerTime();
  xcb_timestamp_t TakeServerTime();
  void Convert(xcb_atom_t target, xcb_timestamp_t time);
  std::optional<Received> TakeAnswer(xcb_atom_t target, xcb_window_t owner);
  std::string Text(Received received);
  std::string ReadByTargets(xcb_window_t owner);
  [[noreturn]] void FailChangedOrRefused(xcb_window_t owner);
  std::optional<Received> ReadProperty(xcb_atom_t property);
  // Whether the clipboard, read again, still holds read.
  bool StillHolds(std::string_view read);
  Received ReadIncr(xcb_atom_t property, std::size_t size_hint);
  // The property our window was sent, or fails as the read.
  XPtr<xcb_get_property_reply_t> GetOwnProperty(xcb_atom_t property);

  // The forked server.
  void Serve();

  // Serving.
  using Wanted = std::function<bool(const xcb_generic_event_t*)>;
  Wake Wait(Clock::time_point deadline, const Wanted& wanted, Event* event,
            const std::function<bool()>& stop);
  // Waits for an event of one kind, whose struct is E, that wanted accepts.
  template <typename E, typename Wanted>
  Wake WaitForEvent(Clock::time_point deadline, std::uint8_t kind,
                    Wanted&& wanted, Event* event) {
    const auto of_kind = [&](const xcb_generic_event_t* e) {
      return (e->response_type & 0x7F) == kind &&
             wanted(*reinterpret_cast<const E*>(e));
    };
    return Wait(deadline, of_kind, event, [] { return false; });
  }
  void Dispatch(const xcb_generic_event_t* event);
  std::uint64_t TransferKey(xcb_window_t requestor, xcb_atom_t property) {
    return std::uint64_t{requestor} << 32 | property;
  }
  void EraseTransfer(std::size_t index);
  // Drops every transfer to a requestor whose window is gone.
  void DropRequestor(xcb_window_t requestor);
  void Answer(const xcb_selection_request_event_t& request);
  bool Convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property);
  bool ConvertMultiple(xcb_window_t requestor, xcb_atom_t property);
  void Send(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type,
            std::shared_ptr<const std::string> data);
  void Advance(xcb_window_t requestor, xcb_atom_t property);
  void EndTransfer(TransferList::iterator transfer);
  // The whole text has gone to requestor.
  void Delivered(xcb_window_t requestor);

  // Destroyed in reverse: the window goes before the connection.
  Connection connection_;
  Window window_;
  Atoms atoms_;
  std::size_t incr_limit_ = 0;
  bool handed_over_ = false;

  // The time of the read's latest request, and the time before which the
  // owner it read from took the clipboard.
  xcb_timestamp_t time_ = XCB_CURRENT_TIME;
  xcb_timestamp_t read_time_ = XCB_CURRENT_TIME;
  linux_clipboard::ReadLimits read_limits_;

  bool owned_ = false;
  // The client that owns CLIPBOARD_MANAGER (its windows' ids with the
  // client's bits only), whether it has had the whole text from us, and
  // whether it then said it keeps it.
  std::uint32_t manager_client_ = 0;
  bool manager_fetched_ = false;
  bool manager_has_text_ = false;
  xcb_timestamp_t owned_since_ = XCB_CURRENT_TIME;
  TextOffer offer_;
  // The INCR transfers, found by requestor and property, and how many each
  // requestor has: every step of serving is one lookup, whatever the count.
  linux_clipboard::Transfers<Transfer> transfers_;
  std::unordered_map<std::uint64_t, std::size_t> transfer_index_;
  std::unordered_map<xcb_window_t, std::size_t> requestor_transfers_;
};

}  // namespace quillmore::x11_clipboard

#endif  // QUILLMORE_CLIPBOARD_X11_SESSION_H_
