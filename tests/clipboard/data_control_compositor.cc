// A Wayland compositor of the tests' own, with nothing but a seat and the
// clipboard. It exists because no compositor on this system offers
// ext-data-control-v1 (sway, KWin, mutter and weston here offer at most the
// older wlr data-control), yet the backend prefers it where both are offered.
// It keeps one selection (and one primary selection) shared by all its
// clients across both protocols: a source set through one protocol is
// offered through the other, and the data goes by the fds as both protocols
// say, straight from the receiver to the owning client.
//
//   data_control_compositor [--protocols=ext|wlr|both] [--socket=NAME]
//     Listens on $XDG_RUNTIME_DIR/NAME (default: the first free wayland-N),
//     prints the socket's name and a newline on stdout once clients can
//     connect, and serves until SIGTERM or SIGINT.
//
// Both protocols have the same requests and events in the same order, so
// one dispatcher per kind of object serves both; only the interface tables
// differ.
#include <unistd.h>
#include <wayland-server-core.h>
#include <wayland-server-protocol.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ext-data-control-v1-server-protocol.h"
#include "wlr-data-control-unstable-v1-server-protocol.h"

namespace {

// The objects of one protocol, and from which version of its device the
// primary selection exists.
struct Protocol {
  const wl_interface* manager;
  const wl_interface* device;
  const wl_interface* source;
  const wl_interface* offer;
  int primary_since;
};
const Protocol kExt{&ext_data_control_manager_v1_interface,
                    &ext_data_control_device_v1_interface,
                    &ext_data_control_source_v1_interface,
                    &ext_data_control_offer_v1_interface, 1};
const Protocol kWlr{&zwlr_data_control_manager_v1_interface,
                    &zwlr_data_control_device_v1_interface,
                    &zwlr_data_control_source_v1_interface,
                    &zwlr_data_control_offer_v1_interface, 2};

// The opcodes both protocols share.
enum : std::uint32_t {
  kCreateDataSource = 0,  // manager requests
  kGetDataDevice = 1,
  kSetSelection = 0,  // device requests
  kSetPrimarySelection = 2,
  kOffer = 0,    // source request; offer event
  kReceive = 0,  // offer request
  kSend = 0,     // source events
  kCancelled = 1,
  kDataOffer = 0,  // device events
  kSelection = 1,
  kPrimarySelection = 3,
};

struct Source {
  wl_resource* resource;
  std::vector<std::string> types;
};

// One selection: the source that holds it, and a count of changes, so that
// an offer made for an older selection receives nothing.
struct Selection {
  Source* source = nullptr;
  std::uint64_t generation = 0;
};

struct Offer {
  int slot;  // 0 the clipboard, 1 the primary selection
  std::uint64_t generation;
};

struct Device {
  wl_resource* resource;
  const Protocol* protocol;
};

Selection selections[2];
std::vector<Device*> devices;

// The dispatchers below use no table of request handlers; this token stands
// in for one.
const int kDispatched = 0;
int DispatchOffer(const void*, void* target, std::uint32_t opcode,
                  const wl_message* message, wl_argument* args);
void DeleteOffer(wl_resource* resource) {
  delete static_cast<Offer*>(wl_resource_get_user_data(resource));
}

// Offers slot's selection to one device: a new offer object with the types,
// then the selection event naming it (or none).
void Announce(Device* device, int slot) {
  if (slot == 1 && wl_resource_get_version(device->resource) <
                       device->protocol->primary_since)
    return;
  const std::uint32_t event = slot == 0 ? kSelection : kPrimarySelection;
  const Selection& selection = selections[slot];
  if (selection.source == nullptr) {
    wl_resource_post_event(device->resource, event, nullptr);
    return;
  }
  wl_client* client = wl_resource_get_client(device->resource);
  wl_resource* offer =
      wl_resource_create(client, device->protocol->offer, 1, 0);
  if (offer == nullptr) {
    wl_client_post_no_memory(client);
    return;
  }
  wl_resource_set_dispatcher(offer, DispatchOffer, &kDispatched,
                             new Offer{slot, selection.generation},
                             DeleteOffer);
  wl_resource_post_event(device->resource, kDataOffer, offer);
  for (const std::string& type : selection.source->types)
    wl_resource_post_event(offer, kOffer, type.c_str());
  wl_resource_post_event(device->resource, event, offer);
}

void SetSelection(int slot, Source* source) {
  Selection& selection = selections[slot];
  if (selection.source == source) return;
  if (selection.source != nullptr)
    wl_resource_post_event(selection.source->resource, kCancelled);
  selection.source = source;
  ++selection.generation;
  for (Device* device : devices) Announce(device, slot);
}

// Requests named "destroy" (or "release") end every kind of object the same
// way; this compositor keeps no other state for them.
bool Destroys(wl_resource* resource, const wl_message* message) {
  if (std::strcmp(message->name, "destroy") != 0 &&
      std::strcmp(message->name, "release") != 0)
    return false;
  wl_resource_destroy(resource);
  return true;
}

// The seat's pointer, keyboard and touch: asked for by some clients, never
// sent an event.
int DispatchInert(const void*, void* target, std::uint32_t,
                  const wl_message* message, wl_argument*) {
  Destroys(static_cast<wl_resource*>(target), message);
  return 0;
}

int DispatchOffer(const void*, void* target, std::uint32_t opcode,
                  const wl_message* message, wl_argument* args) {
  auto* resource = static_cast<wl_resource*>(target);
  if (Destroys(resource, message)) return 0;
  if (opcode != kReceive) return 0;
  const int fd = args[1].h;
  const auto* offer = static_cast<Offer*>(wl_resource_get_user_data(resource));
  const Selection& selection = selections[offer->slot];
  // libwayland duplicates the fd as it sends it on; ours is closed here, so
  // the receiver sees the end of the data when the owner closes its own. An
  // offer of a selection since replaced gets nothing: the end at once.
  if (selection.source != nullptr && selection.generation == offer->generation)
    wl_resource_post_event(selection.source->resource, kSend, args[0].s, fd);
  close(fd);
  return 0;
}

int DispatchSource(const void*, void* target, std::uint32_t opcode,
                   const wl_message* message, wl_argument* args) {
  auto* resource = static_cast<wl_resource*>(target);
  if (Destroys(resource, message)) return 0;
  if (opcode == kOffer)
    static_cast<Source*>(wl_resource_get_user_data(resource))
        ->types.push_back(args[0].s);
  return 0;
}

void DestroySource(wl_resource* resource) {
  auto* source = static_cast<Source*>(wl_resource_get_user_data(resource));
  for (int slot = 0; slot < 2; ++slot) {
    if (selections[slot].source != source) continue;
    selections[slot].source = nullptr;
    ++selections[slot].generation;
    for (Device* device : devices) Announce(device, slot);
  }
  delete source;
}

int DispatchDevice(const void*, void* target, std::uint32_t opcode,
                   const wl_message* message, wl_argument* args) {
  auto* resource = static_cast<wl_resource*>(target);
  if (Destroys(resource, message)) return 0;
  if (opcode != kSetSelection && opcode != kSetPrimarySelection) return 0;
  auto* source_resource = reinterpret_cast<wl_resource*>(args[0].o);
  Source* source =
      source_resource == nullptr
          ? nullptr
          : static_cast<Source*>(wl_resource_get_user_data(source_resource));
  SetSelection(opcode == kSetSelection ? 0 : 1, source);
  return 0;
}

void DestroyDevice(wl_resource* resource) {
  auto* device = static_cast<Device*>(wl_resource_get_user_data(resource));
  devices.erase(std::remove(devices.begin(), devices.end(), device),
                devices.end());
  delete device;
}

int DispatchManager(const void* data, void* target, std::uint32_t opcode,
                    const wl_message* message, wl_argument* args) {
  auto* resource = static_cast<wl_resource*>(target);
  if (Destroys(resource, message)) return 0;
  const auto* protocol = static_cast<const Protocol*>(data);
  wl_client* client = wl_resource_get_client(resource);
  const int version = wl_resource_get_version(resource);
  if (opcode == kCreateDataSource) {
    wl_resource* source =
        wl_resource_create(client, protocol->source, 1, args[0].n);
    if (source == nullptr) return wl_client_post_no_memory(client), 0;
    wl_resource_set_dispatcher(source, DispatchSource, &kDispatched,
                               new Source{source, {}}, DestroySource);
  } else if (opcode == kGetDataDevice) {
    wl_resource* device_resource =
        wl_resource_create(client, protocol->device, version, args[0].n);
    if (device_resource == nullptr) return wl_client_post_no_memory(client), 0;
    auto* device = new Device{device_resource, protocol};
    wl_resource_set_dispatcher(device_resource, DispatchDevice, &kDispatched,
                               device, DestroyDevice);
    devices.push_back(device);
    Announce(device, 0);
    Announce(device, 1);
  }
  return 0;
}

void BindManager(wl_client* client, void* data, std::uint32_t version,
                 std::uint32_t id) {
  const auto* protocol = static_cast<const Protocol*>(data);
  wl_resource* resource = wl_resource_create(client, protocol->manager,
                                             static_cast<int>(version), id);
  if (resource == nullptr) return wl_client_post_no_memory(client);
  wl_resource_set_dispatcher(resource, DispatchManager, protocol, nullptr,
                             nullptr);
}

int DispatchSeat(const void*, void* target, std::uint32_t opcode,
                 const wl_message* message, wl_argument* args) {
  auto* resource = static_cast<wl_resource*>(target);
  if (Destroys(resource, message)) return 0;
  const wl_interface* kinds[] = {&wl_pointer_interface, &wl_keyboard_interface,
                                 &wl_touch_interface};
  if (opcode > 2) return 0;
  wl_client* client = wl_resource_get_client(resource);
  wl_resource* device = wl_resource_create(
      client, kinds[opcode], wl_resource_get_version(resource), args[0].n);
  if (device == nullptr) return wl_client_post_no_memory(client), 0;
  wl_resource_set_dispatcher(device, DispatchInert, &kDispatched, nullptr,
                             nullptr);
  return 0;
}

void BindSeat(wl_client* client, void*, std::uint32_t version,
              std::uint32_t id) {
  wl_resource* seat = wl_resource_create(client, &wl_seat_interface,
                                         static_cast<int>(version), id);
  if (seat == nullptr) return wl_client_post_no_memory(client);
  wl_resource_set_dispatcher(seat, DispatchSeat, &kDispatched, nullptr,
                             nullptr);
  wl_seat_send_capabilities(seat, 0);
  if (version >= WL_SEAT_NAME_SINCE_VERSION) wl_seat_send_name(seat, "seat0");
}

int Terminate(int, void* display) {
  wl_display_terminate(static_cast<wl_display*>(display));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string protocols = "both", socket;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--protocols=", 0) == 0) {
      protocols = arg.substr(12);
    } else if (arg.rfind("--socket=", 0) == 0) {
      socket = arg.substr(9);
    } else {
      protocols = "";
    }
    if (protocols != "ext" && protocols != "wlr" && protocols != "both") {
      std::fprintf(stderr,
                   "usage: data_control_compositor "
                   "[--protocols=ext|wlr|both] [--socket=NAME]\n");
      return 2;
    }
  }
  wl_display* display = wl_display_create();
  const char* name = nullptr;
  if (!socket.empty()) {
    if (wl_display_add_socket(display, socket.c_str()) == 0)
      name = socket.c_str();
  } else {
    name = wl_display_add_socket_auto(display);
  }
  if (name == nullptr) {
    std::fprintf(stderr, "data_control_compositor: cannot listen: %s\n",
                 std::strerror(errno));
    return 1;
  }
  wl_global_create(display, &wl_seat_interface, 5, nullptr, BindSeat);
  if (protocols != "wlr")
    wl_global_create(display, kExt.manager, kExt.manager->version,
                     const_cast<Protocol*>(&kExt), BindManager);
  if (protocols != "ext")
    wl_global_create(display, kWlr.manager, kWlr.manager->version,
                     const_cast<Protocol*>(&kWlr), BindManager);
  wl_event_loop* loop = wl_display_get_event_loop(display);
  wl_event_source* signals[] = {
      wl_event_loop_add_signal(loop, SIGTERM, Terminate, display),
      wl_event_loop_add_signal(loop, SIGINT, Terminate, display)};
  std::signal(SIGPIPE, SIG_IGN);
  std::printf("%s\n", name);
  std::fflush(stdout);
  wl_display_run(display);
  for (wl_event_source* source : signals) wl_event_source_remove(source);
  wl_display_destroy_clients(display);
  wl_display_destroy(display);
  return 0;
}
