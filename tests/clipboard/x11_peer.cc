// x11_peer: the two X11 programs no standard tool can play. Written on xcb
// alone, sharing nothing with the backend under test; ends after 60 s.
//
//   x11_peer manager FILE
//     A clipboard manager: no standard tool answers SAVE_TARGETS, and the
//     desktops' managers (parcellite, clipit, xfce4-clipman and the like)
//     never take the text over as the protocol has it. It owns
//     CLIPBOARD_MANAGER and writes "ready" to FILE; asked to convert
//     SAVE_TARGETS, it fetches UTF8_STRING from the CLIPBOARD owner, writes
//     it to FILE, takes CLIPBOARD itself and then answers.
//
//   x11_peer own FILE
//     Owns CLIPBOARD, offering FILE's bytes as UTF8_STRING, until another
//     program takes it. Unlike xclip and xsel it shrugs off X errors, so it
//     lives on after answering, once stopped and resumed, a requestor whose
//     window is gone.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

xcb_connection_t* c;

xcb_atom_t Atom(const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
  std::free(reply);
  return atom;
}

// The next event of one type, other events dropped.
xcb_generic_event_t* Next(uint8_t type) {
  for (;;) {
    xcb_generic_event_t* e = xcb_wait_for_event(c);
    if (e == nullptr) std::exit(1);
    if ((e->response_type & 0x7F) == type) return e;
    std::free(e);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const bool own = std::strcmp(argv[1], "own") == 0;
  std::ifstream in(argv[2], std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  alarm(60);
  c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return 1;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, 0, window, screen->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, 0, 0, nullptr);
  const xcb_atom_t manager = Atom("CLIPBOARD_MANAGER");
  const xcb_atom_t clipboard = Atom("CLIPBOARD");
  const xcb_atom_t save_targets = Atom("SAVE_TARGETS");
  const xcb_atom_t utf8 = Atom("UTF8_STRING");
  const xcb_atom_t saved = Atom("MANAGER_SAVED");
  const xcb_atom_t targets[] = {Atom("TARGETS"), utf8};
  xcb_set_selection_owner(c, window, own ? clipboard : manager,
                          XCB_CURRENT_TIME);
  xcb_flush(c);
  if (!own) std::ofstream(argv[2]) << "ready\n";

  for (;;) {
    xcb_generic_event_t* event = xcb_wait_for_event(c);
    if (event == nullptr) return 1;
    if ((event->response_type & 0x7F) == XCB_SELECTION_CLEAR && own) return 0;
    if ((event->response_type & 0x7F) != XCB_SELECTION_REQUEST) {
      std::free(event);
      continue;
    }
    auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
    xcb_selection_notify_event_t notify = {};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request->time;
    notify.requestor = request->requestor;
    notify.selection = request->selection;
    notify.target = request->target;
    if (own && (request->target == targets[0] || request->target == utf8)) {
      const bool list = request->target == targets[0];
      xcb_change_property(
          c, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
          list ? xcb_atom_t{XCB_ATOM_ATOM} : utf8, list ? 32 : 8,
          list ? 2 : bytes.size(),
          list ? static_cast<const void*>(targets) : bytes.data());
      notify.property = request->property;
    }
    if (!own && request->target == save_targets) {
      xcb_convert_selection(c, window, clipboard, utf8, saved, request->time);
      xcb_flush(c);
      std::free(Next(XCB_SELECTION_NOTIFY));
      xcb_get_property_reply_t* text = xcb_get_property_reply(
          c, xcb_get_property(c, 1, window, saved, XCB_ATOM_ANY, 0, 1 << 24),
          nullptr);
      if (text != nullptr) {
        std::ofstream(argv[2], std::ios::binary)
            .write(static_cast<const char*>(xcb_get_property_value(text)),
                   xcb_get_property_value_length(text));
        std::free(text);
        xcb_set_selection_owner(c, window, clipboard, request->time);
        notify.property = request->property;
      }
    }
    xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(c);
    std::free(request);
  }
}
