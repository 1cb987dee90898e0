// A small Wayland clipboard program of the test suite's own, for the owners
// that wl-copy cannot play: wl-copy offers every text type whatever --type
// says, and the same bytes under each.
//
//   wayland_peer own FILE TYPE [FILE TYPE...]
//     Takes the clipboard through wlr data-control, offering each FILE's
//     bytes under its TYPE, prints "ready" once the compositor has set the
//     selection, and serves until another program takes the clipboard.
//
// It is written plainly on purpose (blocking writes, no deadlines): it is a
// peer for the tests, not a second implementation of the backend.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

struct Peer {
  wl_seat* seat = nullptr;
  zwlr_data_control_manager_v1* manager = nullptr;
  std::map<std::string, std::string> data;  // type -> bytes
  bool cancelled = false;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name,
              const char* interface, std::uint32_t) {
  auto* peer = static_cast<Peer*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !peer->seat) {
    peer->seat = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface,
                         zwlr_data_control_manager_v1_interface.name) == 0) {
    peer->manager = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_data_control_manager_v1_interface, 1));
  }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry = {OnGlobal, OnGlobalRemove};

void OnSend(void* data, zwlr_data_control_source_v1*, const char* type,
            std::int32_t fd) {
  auto* peer = static_cast<Peer*>(data);
  const auto it = peer->data.find(type);
  if (it != peer->data.end()) {
    const std::string& bytes = it->second;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  }
  close(fd);
}
void OnCancelled(void* data, zwlr_data_control_source_v1*) {
  static_cast<Peer*>(data)->cancelled = true;
}
const zwlr_data_control_source_v1_listener kSource = {OnSend, OnCancelled};

int Own(int argc, char** argv) {
  Peer peer;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::ifstream in(argv[i], std::ios::binary);
    peer.data[argv[i + 1]] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "wayland_peer: no compositor\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, &peer);
  wl_display_roundtrip(display);
  if (peer.seat == nullptr || peer.manager == nullptr) {
    std::fprintf(stderr, "wayland_peer: no seat or no data-control\n");
    return 1;
  }
  zwlr_data_control_device_v1* device =
      zwlr_data_control_manager_v1_get_data_device(peer.manager, peer.seat);
  zwlr_data_control_source_v1* source =
      zwlr_data_control_manager_v1_create_data_source(peer.manager);
  zwlr_data_control_source_v1_add_listener(source, &kSource, &peer);
  for (const auto& [type, bytes] : peer.data) {
    zwlr_data_control_source_v1_offer(source, type.c_str());
  }
  zwlr_data_control_device_v1_set_selection(device, source);
  wl_display_roundtrip(display);
  std::printf("ready\n");
  std::fflush(stdout);
  while (!peer.cancelled && wl_display_dispatch(display) >= 0) {
  }
  zwlr_data_control_source_v1_destroy(source);
  zwlr_data_control_device_v1_destroy(device);
  wl_display_disconnect(display);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // a reader that closed its end early
  if (argc >= 4 && argc % 2 == 0 && std::strcmp(argv[1], "own") == 0) {
    return Own(argc, argv);
  }
  std::fprintf(stderr, "usage: wayland_peer own FILE TYPE [FILE TYPE...]\n");
  return 2;
}
