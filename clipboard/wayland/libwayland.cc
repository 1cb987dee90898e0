// libwayland-client, opened only where a Wayland session is named. Linked
// like any other library, it and libffi would be loaded by every run,
// X11 ones included, which costs a run about a quarter of a millisecond.
//
// The backend and the generated glue call libwayland's functions by their
// own names; here those names are defined, each passing the call on to the
// library once LoadLibwayland has opened it. The interface tables of the
// core protocol (wl_seat_interface and the others the glue points at) are
// generated from wayland.xml at build time, as libwayland's own are.
#include "clipboard/wayland/libwayland.h"

#include <dlfcn.h>
#include <wayland-client.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace quillmore::wayland_clipboard {
namespace {

// Every function called by the backend and the glue, by name.
#define QUILLMORE_LIBWAYLAND_FUNCTIONS(F) \
  F(wl_display_connect_to_fd)             \
  F(wl_display_disconnect)                \
  F(wl_display_get_fd)                    \
  F(wl_display_dispatch_pending)          \
  F(wl_display_prepare_read)              \
  F(wl_display_cancel_read)               \
  F(wl_display_read_events)               \
  F(wl_display_flush)                     \
  F(wl_display_get_error)                 \
  F(wl_display_get_protocol_error)        \
  F(wl_proxy_add_listener)                \
  F(wl_proxy_destroy)                     \
  F(wl_proxy_get_version)                 \
  F(wl_proxy_get_class)                   \
  F(wl_proxy_marshal_array_flags)

struct Library {
#define QUILLMORE_POINTER(name) decltype(&::name) name = nullptr;
  QUILLMORE_LIBWAYLAND_FUNCTIONS(QUILLMORE_POINTER)
#undef QUILLMORE_POINTER
};
Library library;

// The interfaces whose requests are made, found by name: the library tells
// a proxy's interface only by its name.
const wl_interface* const kInterfaces[] = {
    &wl_display_interface,
    &wl_registry_interface,
    &wl_seat_interface,
    &wl_callback_interface,
    &ext_data_control_manager_v1_interface,
    &ext_data_control_device_v1_interface,
    &ext_data_control_source_v1_interface,
    &ext_data_control_offer_v1_interface,
    &zwlr_data_control_manager_v1_interface,
    &zwlr_data_control_device_v1_interface,
    &zwlr_data_control_source_v1_interface,
    &zwlr_data_control_offer_v1_interface,
};

const wl_interface* InterfaceNamed(const char* name) {
  for (const wl_interface* interface : kInterfaces) {
    if (std::strcmp(interface->name, name) == 0) return interface;
  }
  return nullptr;
}

}  // namespace

bool LoadLibwayland(std::string* why_not) {
  if (library.wl_proxy_marshal_array_flags != nullptr) return true;
  // Never closed: the library lives as long as the process. Lazy, since
  // most of what it imports is never called here.
  void* handle = dlopen("libwayland-client.so.0", RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) {
    *why_not =
        std::string("cannot load the Wayland client library: ") + dlerror();
    return false;
  }
  Library loaded;
#define QUILLMORE_LOAD(name)                                                   \
  loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));     \
  if (loaded.name == nullptr) {                                                \
    *why_not = "the Wayland client library is older than 1.20 (no " #name ")"; \
    return false;                                                              \
  }
  QUILLMORE_LIBWAYLAND_FUNCTIONS(QUILLMORE_LOAD)
#undef QUILLMORE_LOAD
  library = loaded;
  return true;
}

}  // namespace quillmore::wayland_clipboard

using quillmore::wayland_clipboard::library;

extern "C" {

wl_display* wl_display_connect_to_fd(int fd) {
  return library.wl_display_connect_to_fd(fd);
}
void wl_display_disconnect(wl_display* d) { library.wl_display_disconnect(d); }
int wl_display_get_fd(wl_display* d) { return library.wl_display_get_fd(d); }
int wl_display_dispatch_pending(wl_display* d) {
  return library.wl_display_dispatch_pending(d);
}
int wl_display_prepare_read(wl_display* d) {
  return library.wl_display_prepare_read(d);
}
void wl_display_cancel_read(wl_display* d) {
  library.wl_display_cancel_read(d);
}
int wl_display_read_events(wl_display* d) {
  return library.wl_display_read_events(d);
}
int wl_display_flush(wl_display* d) { return library.wl_display_flush(d); }
int wl_display_get_error(wl_display* d) {
  return library.wl_display_get_error(d);
}
uint32_t wl_display_get_protocol_error(wl_display* d,
                                       const wl_interface** interface,
                                       uint32_t* id) {
  return library.wl_display_get_protocol_error(d, interface, id);
}
int wl_proxy_add_listener(wl_proxy* proxy, void (**implementation)(void),
                          void* data) {
  return library.wl_proxy_add_listener(proxy, implementation, data);
}
void wl_proxy_destroy(wl_proxy* proxy) { library.wl_proxy_destroy(proxy); }
uint32_t wl_proxy_get_version(wl_proxy* proxy) {
  return library.wl_proxy_get_version(proxy);
}

// The generated requests pass their arguments as a variable list, which
// cannot be passed on as it is: it is read into the array form by the
// request's signature, as the library itself does.
wl_proxy* wl_proxy_marshal_flags(wl_proxy* proxy, uint32_t opcode,
                                 const wl_interface* interface,
                                 uint32_t version, uint32_t flags, ...) {
  const wl_interface* own = quillmore::wayland_clipboard::InterfaceNamed(
      library.wl_proxy_get_class(proxy));
  if (own == nullptr || opcode >= static_cast<uint32_t>(own->method_count)) {
    return nullptr;  // not a request of ours: made nowhere in this program
  }
  wl_argument args[20];
  int count = 0;
  va_list list;
  va_start(list, flags);
  for (const char* c = own->methods[opcode].signature; *c != '\0' && count < 20;
       ++c) {
    switch (*c) {
      case 'i':
      case 'h':
        args[count++].i = va_arg(list, int32_t);
        break;
      case 'u':
        args[count++].u = va_arg(list, uint32_t);
        break;
      case 'f':
        args[count++].f = va_arg(list, wl_fixed_t);
        break;
      case 's':
        args[count++].s = va_arg(list, const char*);
        break;
      case 'o':
      case 'n':
        args[count++].o = va_arg(list, wl_object*);
        break;
      case 'a':
        args[count++].a = va_arg(list, wl_array*);
        break;
      default:  // '?' (nullable) and the version the request came in
        break;
    }
  }
  va_end(list);
  return library.wl_proxy_marshal_array_flags(proxy, opcode, interface, version,
                                              flags, args);
}

}  // extern "C"
