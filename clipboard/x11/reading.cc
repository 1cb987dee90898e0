// Reading the clipboard: ask its owner for the text and take the answer,
// whole or in INCR pieces. What the session is: session.h.
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/memory_advice.h"
#include "clipboard/linux/text_codecs.h"
#include "clipboard/x11/session.h"

namespace quillmore::x11_clipboard {

using linux_clipboard::kAnswerTimeout;
using linux_clipboard::Latin1ToUtf8;

// UTF8_STRING straight away, since nearly every owner has it: the owner's
// list of types (TARGETS) is asked for only when it refuses. A refusal is
// not "no text" until the list says so: the owner may have changed under
// us, and a new owner rightly refuses a request older than its ownership.
std::string Session::Read() {
  read_limits_ = linux_clipboard::ReadLimits();
  time_ = TakeServerTime();
  read_time_ = time_;
  const auto owner_cookie = xcb_get_selection_owner(c(), atoms_.clipboard);
  Convert(atoms_.utf8_string, time_);
  const xcb_window_t owner = SelectionOwner(owner_cookie);
  std::optional<Received> text = TakeAnswer(atoms_.utf8_string, owner);
  // Some owners (xclip -t) answer every request with their one type.
  if (text &&
      (text->type == atoms_.utf8_string ||
       text->type == atoms_.text_plain_utf8 || text->type == XCB_ATOM_STRING)) {
    return Text(std::move(*text));
  }
  if (owner == XCB_NONE) return {};  // nobody owns the clipboard
  return ReadByTargets(owner);
}

std::string Session::ReadByTargets(xcb_window_t owner) {
  // A time of now: the owner's ownership is older than it.
  AskServerTime();
  const auto owner_cookie = xcb_get_selection_owner(c(), atoms_.clipboard);
  time_ = TakeServerTime();
  if (SelectionOwner(owner_cookie) != owner) FailChangedOrRefused(owner);
  Convert(atoms_.targets, time_);
  const std::optional<Received> targets = TakeAnswer(atoms_.targets, owner);
  std::vector<xcb_atom_t> order;
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
    order = {XCB_ATOM_STRING};  // an owner too old to list its types
  }
  for (const xcb_atom_t target : order) {
    Convert(target, time_);
    std::optional<Received> text = TakeAnswer(target, owner);
    if (text) return Text(std::move(*text));
    if (targets) FailChangedOrRefused(owner);  // it offered that type
  }
  if (!targets) {
    // Refused everything: no text, unless it is no longer the owner.
    const auto now = xcb_get_selection_owner(c(), atoms_.clipboard);
    if (SelectionOwner(now) != owner) FailChangedOrRefused(owner);
  }
  return {};  // no text on the clipboard (an image only, say)
}

void Session::FailChangedOrRefused(xcb_window_t owner) {
  const auto cookie = xcb_get_selection_owner(c(), atoms_.clipboard);
  if (SelectionOwner(cookie) != owner) {
    Fail(status::kFail,
         "another program took the clipboard while it was being read");
  }
  Fail(status::kFail, "the owning program refused the text it offers");
}

std::string Session::Text(Received received) {
  // STRING is Latin-1 by definition; everything else comes as it is.
  if (received.type == XCB_ATOM_STRING) return Latin1ToUtf8(received.bytes);
  return std::move(received.bytes);
}

void Session::AskServerTime() {
  xcb_change_property(c(), XCB_PROP_MODE_APPEND, window(), kTimeProperty,
                      XCB_ATOM_STRING, 8, 0, nullptr);
}

xcb_timestamp_t Session::TakeServerTime() {
  Event event;
  const Wake wake = WaitForEvent<xcb_property_notify_event_t>(
      Clock::now() + kAnswerTimeout, XCB_PROPERTY_NOTIFY,
      [&](const xcb_property_notify_event_t& n) {
        return n.window == window() && n.atom == kTimeProperty;
      },
      &event);
  if (wake == Wake::kBroken) FailConnection();
  if (wake != Wake::kEvent) {
    Fail(status::kTimeout, "the X server did not answer within " +
                               linux_clipboard::InSeconds(kAnswerTimeout));
  }
  return reinterpret_cast<const xcb_property_notify_event_t*>(event.get())
      ->time;
}

void Session::Convert(xcb_atom_t target, xcb_timestamp_t time) {
  xcb_delete_property(c(), window(), atoms_.property);
  xcb_convert_selection(c(), window(), atoms_.clipboard, target,
                        atoms_.property, time);
}

// The owner's answer to Convert(target): the text, or nothing if refused.
// An answer that came while another program took the clipboard is not the
// clipboard's text any more: it fails the read. The owner is asked along
// with the property, at no cost of a round trip.
std::optional<Received> Session::TakeAnswer(xcb_atom_t target,
                                            xcb_window_t owner) {
  Event event;
  read_limits_.Waiting();
  const Wake wake = WaitForEvent<xcb_selection_notify_event_t>(
      read_limits_.Deadline(0), XCB_SELECTION_NOTIFY,
      [&](const xcb_selection_notify_event_t& n) {
        return n.requestor == window() && n.selection == atoms_.clipboard &&
               n.target == target;
      },
      &event);
  if (wake == Wake::kBroken) FailConnection();
  if (wake != Wake::kEvent) read_limits_.FailTimedOut(0);
  const auto* notify =
      reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
  if (notify->property == XCB_NONE) return std::nullopt;  // refused
  const auto owner_cookie = xcb_get_selection_owner(c(), atoms_.clipboard);
  std::optional<Received> received = ReadProperty(notify->property);
  if (SelectionOwner(owner_cookie) != owner) FailChangedOrRefused(owner);
  // INCR pieces come long after that look: the owner must still be the one
  // that sent them once the last has come.
  if (received && received->incremental &&
      SelectionOwner(xcb_get_selection_owner(c(), atoms_.clipboard)) != owner) {
    FailChangedOrRefused(owner);
  }
  return received;
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
  linux_clipboard::ReadLimits::CheckSize(size_hint);
  Received received{XCB_NONE, 8, {}, true};
  // The announced size is only a lower bound; it saves most reallocations.
  received.bytes.reserve(size_hint);
  AdviseWholePages(received.bytes.data(), received.bytes.capacity(),
                   MemoryAdvice::kHugePages);
  for (;;) {
    Event event;
    read_limits_.Waiting();
    const Wake wake = WaitForEvent<xcb_property_notify_event_t>(
        read_limits_.Deadline(received.bytes.size()), XCB_PROPERTY_NOTIFY,
        [&](const xcb_property_notify_event_t& n) {
          return n.window == window() && n.atom == property &&
                 n.state == XCB_PROPERTY_NEW_VALUE;
        },
        &event);
    if (wake == Wake::kBroken) FailConnection();
    if (wake != Wake::kEvent) {
      read_limits_.FailTimedOut(received.bytes.size());
    }
    XPtr<xcb_get_property_reply_t> reply = GetOwnProperty(property);
    const int length = xcb_get_property_value_length(reply.get());
    if (length == 0) return received;  // the zero-length chunk: all sent
    linux_clipboard::ReadLimits::MakeRoom(received.bytes, length);
    if (received.type == XCB_NONE) {
      received.type = reply->type;
      received.format = reply->format;
    }
    received.bytes.append(
        static_cast<const char*>(xcb_get_property_value(reply.get())), length);
  }
}

}  // namespace quillmore::x11_clipboard
