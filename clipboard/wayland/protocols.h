// The two data-control protocols, ext-data-control-v1 and
// wlr-data-control-unstable-v1: the same protocol under two names, with the
// same requests and events in the same order. So each is described by one
// table, of its interfaces, and the backend makes its requests and takes
// its events through the table, the same code for both. Also the owners of
// the Wayland objects the backend holds.
#ifndef QUILLMORE_CLIPBOARD_WAYLAND_PROTOCOLS_H_
#define QUILLMORE_CLIPBOARD_WAYLAND_PROTOCOLS_H_

#include <wayland-client.h>

#include <cstdint>

#include "base/handle.h"
#include "clipboard/linux/display_connection.h"
#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace quillmore::wayland_clipboard {

// A protocol, by its interfaces.
struct Protocol {
  const wl_interface *manager, *device, *source, *offer;
};
inline const Protocol kExtProtocol = {&ext_data_control_manager_v1_interface,
                                      &ext_data_control_device_v1_interface,
                                      &ext_data_control_source_v1_interface,
                                      &ext_data_control_offer_v1_interface};
inline const Protocol kWlrProtocol = {&zwlr_data_control_manager_v1_interface,
                                      &zwlr_data_control_device_v1_interface,
                                      &zwlr_data_control_source_v1_interface,
                                      &zwlr_data_control_offer_v1_interface};

// The objects of either protocol, told apart by type only.
struct Manager;
struct Device;
struct Source;
struct Offer;

// The requests' opcodes, by the object that takes them.
enum ManagerRequest : std::uint32_t {
  kCreateDataSource,
  kGetDataDevice,
  kManagerDestroy
};
enum DeviceRequest : std::uint32_t { kSetSelection, kDeviceDestroy };
enum SourceRequest : std::uint32_t { kOfferType, kSourceDestroy };
enum OfferRequest : std::uint32_t { kReceive, kOfferDestroy };
#define QUILLMORE_SAME_OPCODE(ours, EXT, WLR) \
  static_assert(ours == EXT && ours == WLR, #ours);
QUILLMORE_SAME_OPCODE(kCreateDataSource,
                      EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
                      ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE)
QUILLMORE_SAME_OPCODE(kGetDataDevice,
                      EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE,
                      ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE)
QUILLMORE_SAME_OPCODE(kManagerDestroy, EXT_DATA_CONTROL_MANAGER_V1_DESTROY,
                      ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY)
QUILLMORE_SAME_OPCODE(kSetSelection, EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION,
                      ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION)
QUILLMORE_SAME_OPCODE(kDeviceDestroy, EXT_DATA_CONTROL_DEVICE_V1_DESTROY,
                      ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY)
QUILLMORE_SAME_OPCODE(kOfferType, EXT_DATA_CONTROL_SOURCE_V1_OFFER,
                      ZWLR_DATA_CONTROL_SOURCE_V1_OFFER)
QUILLMORE_SAME_OPCODE(kSourceDestroy, EXT_DATA_CONTROL_SOURCE_V1_DESTROY,
                      ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY)
QUILLMORE_SAME_OPCODE(kReceive, EXT_DATA_CONTROL_OFFER_V1_RECEIVE,
                      ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE)
QUILLMORE_SAME_OPCODE(kOfferDestroy, EXT_DATA_CONTROL_OFFER_V1_DESTROY,
                      ZWLR_DATA_CONTROL_OFFER_V1_DESTROY)
#undef QUILLMORE_SAME_OPCODE

// The events, in the protocols' order, as libwayland calls them.
struct DeviceListener {
  void (*data_offer)(void* data, Device*, Offer* offer);
  void (*selection)(void* data, Device*, Offer* offer);
  void (*finished)(void* data, Device*);
  void (*primary_selection)(void* data, Device*, Offer* offer);
};
struct SourceListener {
  void (*send)(void* data, Source*, const char* mime_type, std::int32_t fd);
  void (*cancelled)(void* data, Source*);
};
struct OfferListener {
  void (*offer)(void* data, Offer*, const char* mime_type);
};
static_assert(sizeof(DeviceListener) ==
                  sizeof(ext_data_control_device_v1_listener) &&
              sizeof(DeviceListener) ==
                  sizeof(zwlr_data_control_device_v1_listener));
static_assert(sizeof(SourceListener) ==
                  sizeof(ext_data_control_source_v1_listener) &&
              sizeof(SourceListener) ==
                  sizeof(zwlr_data_control_source_v1_listener));

template <typename T>
wl_proxy* AsProxy(T* object) {
  return reinterpret_cast<wl_proxy*>(object);
}
// A request: with a new object of interface (whose proxy it returns), or
// with none (interface null).
template <typename New = wl_proxy, typename T, typename... Args>
New* Request(T* object, std::uint32_t opcode, const wl_interface* interface,
             Args... args) {
  return reinterpret_cast<New*>(wl_proxy_marshal_flags(
      AsProxy(object), opcode, interface, wl_proxy_get_version(AsProxy(object)),
      0, args...));
}
template <typename T, typename Listener>
void Listen(T* object, const Listener* listener, void* data) {
  wl_proxy_add_listener(
      AsProxy(object),
      reinterpret_cast<void (**)(void)>(const_cast<Listener*>(listener)), data);
}

// A client-side object (proxy), owned; Destroy sends the protocol's
// destructor request where it has one and frees the proxy.
struct Destroyer {
  static void Destroy(wl_registry* p) { wl_registry_destroy(p); }
  static void Destroy(wl_seat* p) { wl_seat_destroy(p); }
  static void Destroy(wl_callback* p) { wl_callback_destroy(p); }
  static void Destroy(Manager* p) { DestroyBy(p, kManagerDestroy); }
  static void Destroy(Device* p) { DestroyBy(p, kDeviceDestroy); }
  static void Destroy(Source* p) { DestroyBy(p, kSourceDestroy); }
  static void Destroy(Offer* p) { DestroyBy(p, kOfferDestroy); }
  template <typename T>
  static void DestroyBy(T* p, std::uint32_t opcode) {
    wl_proxy_marshal_flags(AsProxy(p), opcode, nullptr,
                           wl_proxy_get_version(AsProxy(p)),
                           WL_MARSHAL_FLAG_DESTROY);
  }
};
template <typename T>
struct ProxyTraits {
  using Value = T*;
  static T* Empty() noexcept { return nullptr; }
  static void Release(T* p) noexcept { Destroyer::Destroy(p); }
};
template <typename T>
using Proxy = Handle<ProxyTraits<T>>;

// In the run, once the forked server has the connection: frees the proxy
// without a request, since a destructor request would end the server's
// object.
template <typename T>
void Forget(Proxy<T>& proxy) noexcept {
  if (proxy) wl_proxy_destroy(AsProxy(proxy.Release()));
}

using Display =
    linux_clipboard::DisplayConnection<wl_display, wl_display_disconnect,
                                       wl_display_get_fd>;

}  // namespace quillmore::wayland_clipboard

#endif  // QUILLMORE_CLIPBOARD_WAYLAND_PROTOCOLS_H_
