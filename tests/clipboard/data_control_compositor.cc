// A Wayland compositor of the tests' own, with a seat and the clipboard
// only: no compositor here offers ext-data-control-v1 (sway, KWin, mutter
// and weston at most wlr's), which the backend prefers. One selection is
// shared across both protocols; the data goes by the fds, owner to reader.
//   data_control_compositor NAME: listens on $XDG_RUNTIME_DIR/NAME and
//   serves until killed.
// A line on standard input (echoed once taken; "held" when it holds a copy
// back) plays what no compositor does at a chosen moment:
//   refuse: cancels the next copy's source, keeping the selection;
//   hold-after-next: makes the next copy right after the one that follows,
//     as another program copying at that very moment;
//   hold-until-read-ends: holds the next copy back until the next read,
//     which goes through here, ends: the reader's pipe closes and the new
//     selection is announced in one go.
// Both protocols have the same requests and events in the same order, so
// one dispatcher serves both.
#include <fcntl.h>
#include <unistd.h>
#include <wayland-server-core.h>
#include <wayland-server-protocol.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ext-data-control-v1-server-protocol.h"
#include "wlr-data-control-unstable-v1-server-protocol.h"

namespace {

struct Protocol {
  const wl_interface *manager, *device, *source, *offer;
};
const Protocol kProtocols[] = {{&ext_data_control_manager_v1_interface,
                                &ext_data_control_device_v1_interface,
                                &ext_data_control_source_v1_interface,
                                &ext_data_control_offer_v1_interface},
                               {&zwlr_data_control_manager_v1_interface,
                                &zwlr_data_control_device_v1_interface,
                                &zwlr_data_control_source_v1_interface,
                                &zwlr_data_control_offer_v1_interface}};

// The opcodes both protocols share, by the object that takes or sends
// them: manager, device, source, offer (whose one event is kOfferType).
enum : std::uint32_t { kCreateDataSource, kGetDataDevice };
enum : std::uint32_t { kSetSelection = 0, kDataOffer = 0, kSelection };
enum : std::uint32_t { kOfferType = 0, kSend = 0, kCancelled };
enum : std::uint32_t { kReceive = 0 };

// The kinds of object, told apart by the dispatcher's data.
enum Kind { kManager, kDevice, kSource, kOffer, kSeat };
const Kind kKinds[] = {kManager, kDevice, kSource, kOffer, kSeat};

// The selection's source (user data: its types), and a count of changes so
// that an offer made for an older selection (user data: the count then)
// receives nothing.
wl_resource* selection = nullptr;
std::uintptr_t generation = 0;
std::vector<wl_resource*> devices;  // user data: the Protocol
std::string command;                // what the next copy or read gets
wl_resource* held = nullptr;        // a copy held back
wl_event_source* commands;          // standard input

int Dispatch(const void* data, void* target, std::uint32_t opcode,
             const wl_message* message, wl_argument* args);

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

wl_resource* Create(wl_client* client, const wl_interface* interface,
                    int version, std::uint32_t id, Kind kind, const void* user,
                    wl_resource_destroy_func_t destroy) {
  wl_resource* resource = wl_resource_create(client, interface, version, id);
  if (resource == nullptr) return wl_client_post_no_memory(client), nullptr;
  wl_resource_set_dispatcher(resource, Dispatch, &kKinds[kind],
                             const_cast<void*>(user), destroy);
  return resource;
}

// Offers the selection to one device: a new offer object with the types,
// then the selection event naming it (or none).
void Announce(wl_resource* device) {
  if (selection == nullptr)
    return wl_resource_post_event(device, kSelection, nullptr);
  const auto* protocol =
      static_cast<const Protocol*>(wl_resource_get_user_data(device));
  wl_resource* offer =
      Create(wl_resource_get_client(device), protocol->offer, 1, 0, kOffer,
             reinterpret_cast<void*>(generation), nullptr);
  if (offer == nullptr) return;
  wl_resource_post_event(device, kDataOffer, offer);
  for (const std::string& type : *static_cast<std::vector<std::string>*>(
           wl_resource_get_user_data(selection)))
    wl_resource_post_event(offer, kOfferType, type.c_str());
  wl_resource_post_event(device, kSelection, offer);
}

// A copy: the old source, if still there, is told it is replaced.
void Copy(wl_resource* source, bool replaced = true) {
  if (selection != nullptr && replaced)
    wl_resource_post_event(selection, kCancelled);
  selection = source;
  ++generation;
  for (wl_resource* device : devices) Announce(device);
}

// A read gone through here: the owner's whole answer, then the end of the
// reader's pipe and the held copy in one go. The owner (wl-copy) needs
// nothing of the compositor to answer, so the wait may block; the test's
// text fits the reader's pipe.
void Relay(const char* type, int reader) {
  int owner[2];
  if (pipe2(owner, O_CLOEXEC) != 0) return (void)close(reader);
  wl_resource_post_event(selection, kSend, type, owner[1]);
  wl_client_flush(wl_resource_get_client(selection));
  close(owner[1]);
  std::string text;
  char buffer[1 << 16];
  for (ssize_t n; (n = read(owner[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, n);
  close(owner[0]);
  if (write(reader, text.data(), text.size()) < 0) std::perror("relay");
  close(reader);
  Copy(held);
  held = nullptr;
}

int OnCommand(int fd, std::uint32_t, void*) {
  char buffer[256];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  // No more commands: standard input is not a FIFO open for writing too.
  if (n <= 0) return wl_event_source_remove(commands), 0;
  command.assign(buffer, n);
  command.erase(command.find_last_not_of('\n') + 1);
  Say(command.c_str());
  return 0;
}

void DestroySource(wl_resource* source) {
  if (held == source) held = nullptr;
  if (selection == source) Copy(nullptr, false);
  delete static_cast<std::vector<std::string>*>(
      wl_resource_get_user_data(source));
}

void DestroyDevice(wl_resource* device) {
  devices.erase(std::remove(devices.begin(), devices.end(), device),
                devices.end());
}

int Dispatch(const void* data, void* target, std::uint32_t opcode,
             const wl_message* message, wl_argument* args) {
  auto* resource = static_cast<wl_resource*>(target);
  // Every kind ends alike, by "destroy" (the seat by "release").
  if (std::strcmp(message->name, "destroy") == 0 ||
      std::strcmp(message->name, "release") == 0)
    return wl_resource_destroy(resource), 0;
  wl_client* client = wl_resource_get_client(resource);
  void* user = wl_resource_get_user_data(resource);
  switch (*static_cast<const Kind*>(data)) {
    case kManager: {
      const auto* protocol = static_cast<const Protocol*>(user);
      if (opcode == kCreateDataSource) {
        wl_resource* source = Create(client, protocol->source, 1, args[0].n,
                                     kSource, nullptr, DestroySource);
        if (source != nullptr)
          wl_resource_set_user_data(source, new std::vector<std::string>);
      } else if (opcode == kGetDataDevice) {
        wl_resource* device =
            Create(client, protocol->device, wl_resource_get_version(resource),
                   args[0].n, kDevice, protocol, DestroyDevice);
        if (device != nullptr) {
          devices.push_back(device);
          Announce(device);
        }
      }
      break;
    }
    case kDevice: {
      // Primary selection requests are ignored: there is none here.
      if (opcode != kSetSelection) break;
      auto* source = reinterpret_cast<wl_resource*>(args[0].o);
      if (source == selection) break;
      if (source != nullptr && command == "refuse") {
        command.clear();
        wl_resource_post_event(source, kCancelled);
        break;
      }
      if (source != nullptr && held == nullptr &&
          command.rfind("hold-", 0) == 0) {
        held = source;
        Say("held");
        break;
      }
      Copy(source);
      if (held != nullptr && command == "hold-after-next") {
        command.clear();
        Copy(held);
        held = nullptr;
      }
      break;
    }
    case kSource:
      if (opcode == kOfferType)
        static_cast<std::vector<std::string>*>(user)->push_back(args[0].s);
      break;
    case kOffer:
      // libwayland duplicates the fd as it sends it on; ours is closed here,
      // so the receiver sees the end when the owner closes its own. An offer
      // of a selection since replaced gets nothing: the end at once.
      if (opcode != kReceive) break;
      if (selection == nullptr ||
          reinterpret_cast<std::uintptr_t>(user) != generation) {
        close(args[1].h);
      } else if (held != nullptr && command == "hold-until-read-ends") {
        command.clear();
        Relay(args[0].s, args[1].h);
      } else {
        wl_resource_post_event(selection, kSend, args[0].s, args[1].h);
        close(args[1].h);
      }
      break;
    case kSeat:  // no capabilities, so nothing is asked of it
      break;
  }
  return 0;
}

void BindManager(wl_client* client, void* protocol, std::uint32_t version,
                 std::uint32_t id) {
  Create(client, static_cast<const Protocol*>(protocol)->manager,
         static_cast<int>(version), id, kManager, protocol, nullptr);
}

void BindSeat(wl_client* client, void*, std::uint32_t version,
              std::uint32_t id) {
  wl_resource* seat =
      Create(client, &wl_seat_interface, static_cast<int>(version), id, kSeat,
             nullptr, nullptr);
  if (seat == nullptr) return;
  wl_seat_send_capabilities(seat, 0);
  if (version >= WL_SEAT_NAME_SINCE_VERSION) wl_seat_send_name(seat, "seat0");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2)
    return std::fprintf(stderr, "usage: data_control_compositor NAME\n"), 2;
  const char* name = argv[1];
  wl_display* display = wl_display_create();
  if (wl_display_add_socket(display, name) != 0)
    return std::fprintf(stderr, "cannot listen on %s: %m\n", name), 1;
  wl_global_create(display, &wl_seat_interface, 5, nullptr, BindSeat);
  // Version 1 of both: the one with no primary selection in wlr's.
  for (const Protocol& protocol : kProtocols)
    wl_global_create(display, protocol.manager, 1,
                     const_cast<Protocol*>(&protocol), BindManager);
  commands = wl_event_loop_add_fd(wl_display_get_event_loop(display), 0,
                                  WL_EVENT_READABLE, OnCommand, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  wl_display_run(display);
}
