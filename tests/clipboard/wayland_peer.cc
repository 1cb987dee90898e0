// wayland_peer FILE TYPE [FILE TYPE...]: takes the clipboard through wlr
// data-control, offering each FILE's bytes under its TYPE only, and serves
// until another program takes it. wl-copy cannot play such an owner: it
// offers every text type, with the same bytes, whatever --type says. Written
// plainly (blocking writes, no deadlines): a peer, not a second backend.
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

wl_seat* seat;
zwlr_data_control_manager_v1* manager;
std::map<std::string, std::string> offered;  // type -> bytes
bool cancelled;

void OnGlobal(void*, wl_registry* registry, uint32_t name,
              const char* interface, uint32_t) {
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
    seat = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface,
                         zwlr_data_control_manager_v1_interface.name) == 0) {
    manager = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_data_control_manager_v1_interface, 1));
  }
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

void OnSend(void*, zwlr_data_control_source_v1*, const char* type, int fd) {
  const std::string& bytes = offered[type];
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += n;
  }
  close(fd);
}
void OnCancelled(void*, zwlr_data_control_source_v1*) { cancelled = true; }

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // a reader that closed its end early
  for (int i = 1; i + 1 < argc; i += 2) {
    std::ifstream in(argv[i], std::ios::binary);
    offered[argv[i + 1]] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return 1;
  static const wl_registry_listener registry = {OnGlobal, OnGlobalRemove};
  wl_registry_add_listener(wl_display_get_registry(display), &registry,
                           nullptr);
  wl_display_roundtrip(display);
  if (seat == nullptr || manager == nullptr) return 1;
  auto* device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
  auto* source = zwlr_data_control_manager_v1_create_data_source(manager);
  static const zwlr_data_control_source_v1_listener listener = {OnSend,
                                                                OnCancelled};
  zwlr_data_control_source_v1_add_listener(source, &listener, nullptr);
  for (const auto& entry : offered) {
    zwlr_data_control_source_v1_offer(source, entry.first.c_str());
  }
  zwlr_data_control_device_v1_set_selection(device, source);
  while (!cancelled && wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}
