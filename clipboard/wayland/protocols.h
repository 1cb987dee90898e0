// The two data-control protocols, ext-data-control-v1 and
// wlr-data-control-unstable-v1, as one table each: they are the same
// protocol under two names, so the backend is written once over these.
// Also the owners of the Wayland objects the backend holds.
#ifndef QUILLMORE_CLIPBOARD_WAYLAND_PROTOCOLS_H_
#define QUILLMORE_CLIPBOARD_WAYLAND_PROTOCOLS_H_

#include <wayland-client.h>

#include "base/handle.h"
#include "clipboard/linux/display_connection.h"
#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace quillmore::wayland_clipboard {

struct ExtProtocol {
  using Manager = ext_data_control_manager_v1;
  using Device = ext_data_control_device_v1;
  using Source = ext_data_control_source_v1;
  using Offer = ext_data_control_offer_v1;
  using DeviceListener = ext_data_control_device_v1_listener;
  using SourceListener = ext_data_control_source_v1_listener;
  using OfferListener = ext_data_control_offer_v1_listener;
  static const wl_interface* ManagerInterface() {
    return &ext_data_control_manager_v1_interface;
  }
  static Device* GetDevice(Manager* m, wl_seat* seat) {
    return ext_data_control_manager_v1_get_data_device(m, seat);
  }
  static Source* CreateSource(Manager* m) {
    return ext_data_control_manager_v1_create_data_source(m);
  }
  static void SetSelection(Device* d, Source* s) {
    ext_data_control_device_v1_set_selection(d, s);
  }
  static void OfferType(Source* s, const char* type) {
    ext_data_control_source_v1_offer(s, type);
  }
  static void Receive(Offer* o, const char* type, int fd) {
    ext_data_control_offer_v1_receive(o, type, fd);
  }
  static void Listen(Device* d, const DeviceListener* l, void* data) {
    ext_data_control_device_v1_add_listener(d, l, data);
  }
  static void Listen(Source* s, const SourceListener* l, void* data) {
    ext_data_control_source_v1_add_listener(s, l, data);
  }
  static void Listen(Offer* o, const OfferListener* l, void* data) {
    ext_data_control_offer_v1_add_listener(o, l, data);
  }
  static void Destroy(Manager* p) { ext_data_control_manager_v1_destroy(p); }
  static void Destroy(Device* p) { ext_data_control_device_v1_destroy(p); }
  static void Destroy(Source* p) { ext_data_control_source_v1_destroy(p); }
  static void Destroy(Offer* p) { ext_data_control_offer_v1_destroy(p); }
};

struct WlrProtocol {
  using Manager = zwlr_data_control_manager_v1;
  using Device = zwlr_data_control_device_v1;
  using Source = zwlr_data_control_source_v1;
  using Offer = zwlr_data_control_offer_v1;
  using DeviceListener = zwlr_data_control_device_v1_listener;
  using SourceListener = zwlr_data_control_source_v1_listener;
  using OfferListener = zwlr_data_control_offer_v1_listener;
  static const wl_interface* ManagerInterface() {
    return &zwlr_data_control_manager_v1_interface;
  }
  static Device* GetDevice(Manager* m, wl_seat* seat) {
    return zwlr_data_control_manager_v1_get_data_device(m, seat);
  }
  static Source* CreateSource(Manager* m) {
    return zwlr_data_control_manager_v1_create_data_source(m);
  }
  static void SetSelection(Device* d, Source* s) {
    zwlr_data_control_device_v1_set_selection(d, s);
  }
  static void OfferType(Source* s, const char* type) {
    zwlr_data_control_source_v1_offer(s, type);
  }
  static void Receive(Offer* o, const char* type, int fd) {
    zwlr_data_control_offer_v1_receive(o, type, fd);
  }
  static void Listen(Device* d, const DeviceListener* l, void* data) {
    zwlr_data_control_device_v1_add_listener(d, l, data);
  }
  static void Listen(Source* s, const SourceListener* l, void* data) {
    zwlr_data_control_source_v1_add_listener(s, l, data);
  }
  static void Listen(Offer* o, const OfferListener* l, void* data) {
    zwlr_data_control_offer_v1_add_listener(o, l, data);
  }
  static void Destroy(Manager* p) { zwlr_data_control_manager_v1_destroy(p); }
  static void Destroy(Device* p) { zwlr_data_control_device_v1_destroy(p); }
  static void Destroy(Source* p) { zwlr_data_control_source_v1_destroy(p); }
  static void Destroy(Offer* p) { zwlr_data_control_offer_v1_destroy(p); }
};

// A client-side object (proxy), owned; Destroy sends the protocol's
// destructor request where it has one and frees the proxy.
struct CoreDestroyer {
  static void Destroy(wl_registry* p) { wl_registry_destroy(p); }
  static void Destroy(wl_seat* p) { wl_seat_destroy(p); }
  static void Destroy(wl_callback* p) { wl_callback_destroy(p); }
};
template <typename T, typename Destroyer>
struct ProxyTraits {
  using Value = T*;
  static T* Empty() noexcept { return nullptr; }
  static void Release(T* p) noexcept { Destroyer::Destroy(p); }
};
template <typename T, typename Destroyer = CoreDestroyer>
using Proxy = Handle<ProxyTraits<T, Destroyer>>;

// In the run, once the forked server has the connection: frees the proxy
// without a request, since a destructor request would end the server's
// object.
template <typename T, typename Destroyer>
void Forget(Proxy<T, Destroyer>& proxy) noexcept {
  if (proxy) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(proxy.Release()));
}

using Display =
    linux_clipboard::DisplayConnection<wl_display, wl_display_disconnect,
                                       wl_display_get_fd>;

}  // namespace quillmore::wayland_clipboard

#endif  // QUILLMORE_CLIPBOARD_WAYLAND_PROTOCOLS_H_
