// A notification server of the tests' own: owns org.freedesktop.Notifications
// on the bus it is given and writes down every Notify call it receives, so a
// test can check what quillmore sent through a real dbus-daemon.
//
// usage: notification_server LOG [markup|plain|silent]
//   markup  GetCapabilities includes "body-markup";
//   plain   it does not (the default);
//   silent  Notify calls are never answered, like a hung server.
// Each Notify call appends one record to LOG:
//   app_name=...  replaces_id=...  app_icon=...  summary=...  body=...
//   actions=N  hint NAME=TYPE:VALUE (one line each)  expire_timeout=...  --
// When the name is owned, LOG.ready is written. Runs until killed.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char* g_log = nullptr;
std::string g_mode = "plain";
unsigned g_next_id = 1;

struct BusCloser {
  void operator()(sd_bus* bus) const noexcept { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;

int Fail(const char* what, int r) {
  std::fprintf(stderr, "notification_server: %s: %s\n", what,
               std::strerror(-r));
  return 1;
}

// Reads the a{sv} hints as "NAME=TYPE:VALUE" lines, for the types a client
// is expected to send; any other type is written as "?".
int ReadHints(sd_bus_message* m, std::string* out) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* name = nullptr;
    if ((r = sd_bus_message_read(m, "s", &name)) < 0) return r;
    const char* contents = nullptr;
    if ((r = sd_bus_message_peek_type(m, nullptr, &contents)) < 0) return r;
    std::string value;
    if (std::strcmp(contents, "y") == 0) {
      std::uint8_t byte = 0;
      if ((r = sd_bus_message_read(m, "v", "y", &byte)) < 0) return r;
      value = "y:" + std::to_string(byte);
    } else if (std::strcmp(contents, "s") == 0) {
      const char* text = nullptr;
      if ((r = sd_bus_message_read(m, "v", "s", &text)) < 0) return r;
      value = std::string("s:") + text;
    } else {
      if ((r = sd_bus_message_skip(m, "v")) < 0) return r;
      value = std::string(contents) + ":?";
    }
    *out += "hint " + std::string(name) + "=" + value + "\n";
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

int OnNotify(sd_bus_message* m, void*, sd_bus_error*) {
  const char *app_name, *app_icon, *summary, *body;
  std::uint32_t replaces_id;
  int r = sd_bus_message_read(m, "susss", &app_name, &replaces_id, &app_icon,
                              &summary, &body);
  if (r < 0) return r;
  std::string record = std::string("app_name=") + app_name +
                       "\nreplaces_id=" + std::to_string(replaces_id) +
                       "\napp_icon=" + app_icon + "\nsummary=" + summary +
                       "\nbody=" + body + "\n";
  unsigned actions = 0;
  if ((r = sd_bus_message_enter_container(m, 'a', "s")) < 0) return r;
  const char* action = nullptr;
  while ((r = sd_bus_message_read(m, "s", &action)) > 0) ++actions;
  if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
  record += "actions=" + std::to_string(actions) + "\n";
  if ((r = ReadHints(m, &record)) < 0) return r;
  std::int32_t expire_timeout;
  if ((r = sd_bus_message_read(m, "i", &expire_timeout)) < 0) return r;
  record += "expire_timeout=" + std::to_string(expire_timeout) + "\n--\n";

  std::FILE* log = std::fopen(g_log, "a");
  if (log == nullptr) return -errno;
  std::fputs(record.c_str(), log);
  std::fclose(log);
  // A hung server: the call is written down but never answered.
  if (g_mode == "silent") return 1;
  return sd_bus_reply_method_return(m, "u", g_next_id++);
}

int OnGetCapabilities(sd_bus_message* m, void*, sd_bus_error*) {
  if (g_mode == "markup") {
    return sd_bus_reply_method_return(m, "as", 3, "body", "body-markup",
                                      "persistence");
  }
  return sd_bus_reply_method_return(m, "as", 2, "body", "persistence");
}

int OnGetServerInformation(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(m, "ssss", "notification_server",
                                    "quillmore tests", "1", "1.2");
}

int OnCloseNotification(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetCapabilities", "", "as", OnGetCapabilities,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetServerInformation", "", "ssss", OnGetServerInformation,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CloseNotification", "u", "", OnCloseNotification,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr,
                 "usage: notification_server LOG [markup|plain|silent]\n");
    return 2;
  }
  g_log = argv[1];
  if (argc == 3) g_mode = argv[2];
  if (g_mode != "markup" && g_mode != "plain" && g_mode != "silent") {
    std::fprintf(stderr, "notification_server: unknown mode %s\n", argv[2]);
    return 2;
  }
  sd_bus* raw_bus = nullptr;
  int r = sd_bus_open_user(&raw_bus);
  if (r < 0) return Fail("cannot connect to the session bus", r);
  const Bus owner(raw_bus);
  sd_bus* bus = owner.get();
  r = sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/Notifications",
                               "org.freedesktop.Notifications", kVtable,
                               nullptr);
  if (r < 0) return Fail("cannot add the object", r);
  r = sd_bus_request_name(bus, "org.freedesktop.Notifications", 0);
  if (r < 0) return Fail("cannot own org.freedesktop.Notifications", r);
  std::FILE* ready = std::fopen((std::string(g_log) + ".ready").c_str(), "w");
  if (ready == nullptr) return Fail("cannot create the ready file", -errno);
  std::fputs("ready\n", ready);
  std::fclose(ready);
  for (;;) {
    r = sd_bus_process(bus, nullptr);
    if (r < 0) return Fail("cannot process a message", r);
    if (r > 0) continue;
    r = sd_bus_wait(bus, UINT64_MAX);
    if (r < 0) return Fail("cannot wait for the bus", r);
  }
}
