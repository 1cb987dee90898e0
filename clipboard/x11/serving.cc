// Serving our selection: the answers to other programs' requests for it,
// and the incremental (INCR) transfers of a text too large for one request.
// Run from the session's wait loop (session.cc), whatever it waits for.
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "clipboard/x11/session.h"

namespace quillmore::x11_clipboard {

void Session::Dispatch(const xcb_generic_event_t* event) {
  switch (event->response_type & 0x7F) {
    case 0: {
      // An error from a request we did not wait on. Those are the writes to
      // requestors' windows, and a requestor may vanish at any moment: drop
      // whatever we were sending it and carry on.
      const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
      if (error->error_code == XCB_WINDOW) DropRequestor(error->resource_id);
      break;
    }
    case XCB_DESTROY_NOTIFY:
      // A requestor gone between two pieces, when nothing more is written
      // to it that could fail: without this its transfer would be kept
      // until it expired, and with it the server after a new copy.
      DropRequestor(
          reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
      break;
    case XCB_SELECTION_NOTIFY: {
      // The clipboard manager's answer: it has taken the text, or not.
      const auto* notify =
          reinterpret_cast<const xcb_selection_notify_event_t*>(event);
      if (owned_ && notify->requestor == window() &&
          notify->selection == atoms_.clipboard_manager &&
          notify->property != XCB_NONE) {
        xcb_delete_property(c(), window(), notify->property);
        manager_has_text_ = manager_fetched_;
      }
      break;
    }
    case XCB_SELECTION_REQUEST:
      Answer(*reinterpret_cast<const xcb_selection_request_event_t*>(event));
      break;
    case XCB_SELECTION_CLEAR: {
      const auto* clear =
          reinterpret_cast<const xcb_selection_clear_event_t*>(event);
      if (clear->selection == atoms_.clipboard && clear->owner == window()) {
        owned_ = false;
      }
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto* notify =
          reinterpret_cast<const xcb_property_notify_event_t*>(event);
      if (notify->window != window() && notify->state == XCB_PROPERTY_DELETE) {
        Advance(notify->window, notify->atom);
      }
      break;
    }
    default:
      break;
  }
}

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
  if (owned_ && current && request.owner == window() &&
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
  if (target == atoms_.targets) {
    std::vector<xcb_atom_t> list = {atoms_.targets,     atoms_.timestamp,
                                    atoms_.multiple,    atoms_.save_targets,
                                    atoms_.utf8_string, atoms_.text_plain_utf8};
    if (offer_.latin1_ok()) {
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
  if (target == atoms_.save_targets) {
    // Only a signal that we take part in the clipboard manager's hand-over;
    // the answer carries no data.
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                        atoms_.null, 32, 0, nullptr);
    return true;
  }
  if (target == atoms_.utf8_string || target == atoms_.text_plain_utf8) {
    Send(requestor, property, target, offer_.Utf8());
    return true;
  }
  if ((target == XCB_ATOM_STRING || target == atoms_.text) &&
      offer_.latin1_ok()) {
    Send(requestor, property, XCB_ATOM_STRING, offer_.Latin1());
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
    Delivered(requestor);
    return;
  }
  // Too big for one request: announce INCR with a lower bound of the size,
  // then send a chunk each time the requestor deletes the property. Watching
  // the requestor's window must start before it can see the announcement.
  const std::uint64_t key = TransferKey(requestor, property);
  if (const auto old = transfer_index_.find(key); old != transfer_index_.end())
    EraseTransfer(old->second);
  const std::uint32_t mask =
      XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c(), requestor, XCB_CW_EVENT_MASK, &mask);
  const auto size = static_cast<std::uint32_t>(
      std::min<std::size_t>(data->size(), UINT32_MAX));
  xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                      atoms_.incr, 32, 1, &size);
  Transfer transfer;
  transfer.data = std::move(data);
  transfer.requestor = requestor;
  transfer.property = property;
  transfer.type = type;
  transfer_index_[key] = transfers_.list().size();
  ++requestor_transfers_[requestor];
  transfers_.list().push_back(std::move(transfer));
}

void Session::Advance(xcb_window_t requestor, xcb_atom_t property) {
  const auto found = transfer_index_.find(TransferKey(requestor, property));
  if (found == transfer_index_.end()) return;
  const std::size_t index = found->second;
  Transfer& transfer = transfers_.list()[index];
  const std::size_t chunk = std::min(incr_limit_, transfer.left());
  xcb_change_property(c(), XCB_PROP_MODE_REPLACE, requestor, property,
                      transfer.type, 8, chunk,
                      transfer.data->data() + transfer.offset);
  transfer.Sent(chunk);
  // The zero-length chunk ends the transfer; the requestor need not delete
  // it, so nothing more is waited for.
  if (chunk == 0) {
    Delivered(requestor);
    EraseTransfer(index);
  }
}

void Session::Delivered(xcb_window_t requestor) {
  // Windows of one client share the bits outside the id mask.
  if (manager_client_ != 0 &&
      (requestor & ~xcb_get_setup(c())->resource_id_mask) == manager_client_) {
    manager_fetched_ = true;
  }
}

void Session::DropRequestor(xcb_window_t requestor) {
  if (requestor_transfers_.count(requestor) == 0) return;
  TransferList& list = transfers_.list();
  for (std::size_t i = 0; i < list.size();) {
    if (list[i].requestor == requestor) {
      EraseTransfer(i);
    } else {
      ++i;
    }
  }
}

void Session::EndTransfer(TransferList::iterator transfer) {
  EraseTransfer(transfer - transfers_.list().begin());
}

// The last transfer takes the erased one's place: order does not matter,
// and nothing else moves.
void Session::EraseTransfer(std::size_t index) {
  TransferList& list = transfers_.list();
  const xcb_window_t requestor = list[index].requestor;
  transfer_index_.erase(TransferKey(requestor, list[index].property));
  if (index + 1 != list.size()) {
    list[index] = std::move(list.back());
    transfer_index_[TransferKey(list[index].requestor, list[index].property)] =
        index;
  }
  list.pop_back();
  const auto count = requestor_transfers_.find(requestor);
  if (--count->second == 0) {
    requestor_transfers_.erase(count);
    if (requestor != window()) {
      const std::uint32_t mask = XCB_EVENT_MASK_NO_EVENT;
      xcb_change_window_attributes(c(), requestor, XCB_CW_EVENT_MASK, &mask);
    }
  }
}

}  // namespace quillmore::x11_clipboard
