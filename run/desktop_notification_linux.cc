#include "run/desktop_notification_linux.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <utility>

namespace quillmore {
namespace {

// How long the whole notification may take, connecting to the bus included:
// the bus or the server may be frozen, or be activated on demand, and a run
// started from a hotkey must still end soon.
constexpr std::chrono::milliseconds kDeadline = std::chrono::seconds(2);

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// The icon theme name and desktop entry the installation provides.
constexpr const char* kAppName = "quillmore";

// libsystemd is opened only when there is a failure to show. Linked in, it
// and the seven libraries it needs would be loaded on every run, about a
// millisecond more for a program that otherwise starts and ends in a few.
// The function types come from the library's own header.
class SdBus {
 public:
  SdBus() noexcept = default;
  SdBus(SdBus&& other) noexcept { *this = std::move(other); }
  SdBus& operator=(SdBus&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
      open_user = other.open_user;
      flush_close_unref = other.flush_close_unref;
      new_method_call = other.new_method_call;
      append = other.append;
      call = other.call;
      message_unref = other.message_unref;
      enter_container = other.enter_container;
      read_basic = other.read_basic;
    }
    return *this;
  }
  SdBus(const SdBus&) = delete;
  SdBus& operator=(const SdBus&) = delete;
  ~SdBus() { Close(); }

  // The loaded library, or one that is not loaded (false) when libsystemd or
  // one of its functions is missing.
  static SdBus Load() noexcept {
    SdBus api;
    api.handle_ = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (api.handle_ == nullptr) return api;
    const bool found =
        api.Find("sd_bus_open_user", &api.open_user) &&
        api.Find("sd_bus_flush_close_unref", &api.flush_close_unref) &&
        api.Find("sd_bus_message_new_method_call", &api.new_method_call) &&
        api.Find("sd_bus_message_append", &api.append) &&
        api.Find("sd_bus_call", &api.call) &&
        api.Find("sd_bus_message_unref", &api.message_unref) &&
        api.Find("sd_bus_message_enter_container", &api.enter_container) &&
        api.Find("sd_bus_message_read_basic", &api.read_basic);
    if (!found) api.Close();
    return api;
  }

  explicit operator bool() const noexcept { return handle_ != nullptr; }

  decltype(&sd_bus_open_user) open_user = nullptr;
  decltype(&sd_bus_flush_close_unref) flush_close_unref = nullptr;
  decltype(&sd_bus_message_new_method_call) new_method_call = nullptr;
  decltype(&sd_bus_message_append) append = nullptr;
  decltype(&sd_bus_call) call = nullptr;
  decltype(&sd_bus_message_unref) message_unref = nullptr;
  decltype(&sd_bus_message_enter_container) enter_container = nullptr;
  decltype(&sd_bus_message_read_basic) read_basic = nullptr;

 private:
  template <typename Function>
  bool Find(const char* name, Function* function) noexcept {
    *function = reinterpret_cast<Function>(dlsym(handle_, name));
    return *function != nullptr;
  }

  void Close() noexcept {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
  }

  void* handle_ = nullptr;
};

// The connection to the session bus. Flushed before it is closed, so that
// nothing queued is lost.
class Bus {
 public:
  Bus(const SdBus& api, sd_bus* bus) noexcept : api_(&api), bus_(bus) {}
  Bus(Bus&& other) noexcept
      : api_(other.api_), bus_(std::exchange(other.bus_, nullptr)) {}
  Bus& operator=(Bus&& other) noexcept {
    std::swap(api_, other.api_);
    std::swap(bus_, other.bus_);
    return *this;
  }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  ~Bus() {
    if (bus_ != nullptr) api_->flush_close_unref(bus_);
  }
  sd_bus* get() const noexcept { return bus_; }

 private:
  const SdBus* api_;
  sd_bus* bus_;
};

// One D-Bus message, a call or a reply.
class Message {
 public:
  explicit Message(const SdBus& api) noexcept : api_(&api) {}
  Message(Message&& other) noexcept
      : api_(other.api_), message_(std::exchange(other.message_, nullptr)) {}
  Message& operator=(Message&& other) noexcept {
    std::swap(api_, other.api_);
    std::swap(message_, other.message_);
    return *this;
  }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  ~Message() {
    if (message_ != nullptr) api_->message_unref(message_);
  }
  sd_bus_message* get() const noexcept { return message_; }
  sd_bus_message** out() noexcept { return &message_; }

 private:
  const SdBus* api_;
  sd_bus_message* message_ = nullptr;
};

using Clock = std::chrono::steady_clock;

// What is left of the deadline, in the microseconds sd-bus counts in; at
// least one, since zero would mean its own default of 25 s.
std::uint64_t Remaining(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 1;
}

// Whether the server interprets markup in the body; if it does, the report's
// own <, > and & must be escaped to be shown as they are.
bool ServerTakesMarkup(const SdBus& api, const Bus& bus,
                       Clock::time_point deadline) {
  Message call(api);
  if (api.new_method_call(bus.get(), call.out(), kService, kPath, kInterface,
                          "GetCapabilities") < 0) {
    return false;
  }
  Message reply(api);
  if (api.call(bus.get(), call.get(), Remaining(deadline), nullptr,
               reply.out()) < 0 ||
      api.enter_container(reply.get(), 'a', "s") <= 0) {
    return false;
  }
  const char* capability = nullptr;
  while (api.read_basic(reply.get(), 's', &capability) > 0) {
    if (std::string_view(capability) == "body-markup") return true;
  }
  return false;
}

std::string EscapeMarkup(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

bool Notify(const std::string& report, Clock::time_point deadline) {
  const SdBus api = SdBus::Load();
  if (!api) return false;
  sd_bus* raw_bus = nullptr;
  // The session bus of DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus;
  // failing here means there is no session bus, and nothing more to do.
  if (api.open_user(&raw_bus) < 0) return false;
  const Bus bus(api, raw_bus);

  const std::string body =
      ServerTakesMarkup(api, bus, deadline) ? EscapeMarkup(report) : report;
  Message call(api);
  if (api.new_method_call(bus.get(), call.out(), kService, kPath, kInterface,
                          "Notify") < 0) {
    return false;
  }
  // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints,
  // expire_timeout): a new notification with no actions, normal urgency,
  // tied to quillmore's desktop entry, expiring as the server decides.
  const std::uint32_t replaces_id = 0;
  const unsigned action_count = 0;
  const unsigned hint_count = 2;
  const std::uint8_t urgency_normal = 1;
  const std::int32_t server_decides = -1;
  if (api.append(call.get(), "susssasa{sv}i", kAppName, replaces_id, kAppName,
                 "quillmore", body.c_str(), action_count, hint_count, "urgency",
                 "y", urgency_normal, "desktop-entry", "s", kAppName,
                 server_decides) < 0) {
    return false;
  }
  Message reply(api);
  return api.call(bus.get(), call.get(), Remaining(deadline), nullptr,
                  reply.out()) >= 0;
}

}  // namespace

// sd-bus has no deadline for setting up the connection (the authentication
// and Hello exchange): a frozen bus, or one that accepts and never speaks,
// would hold the run for as long as the bus's own timeouts. So the
// notification is sent by a child, which is killed when the deadline passes.
bool ShowDesktopNotification(const std::string& report) noexcept {
  const Clock::time_point deadline = Clock::now() + kDeadline;
  // The child holds the write end; the read end reports its end as a hang-up.
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(ends[0]);
    close(ends[1]);
    return false;
  }
  if (child == 0) {
    close(ends[0]);
    bool sent = false;
    try {
      sent = Notify(report, deadline);
    } catch (...) {
      // Only memory for the body can run out; the report is on stderr.
    }
    // _exit: nothing of the parent's (buffers, connections) is the child's
    // to flush or close.
    _exit(sent ? 0 : 1);
  }
  close(ends[1]);
  pollfd ended{ends[0], POLLIN, 0};
  int ready = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - Clock::now())
                          .count();
    ready = poll(&ended, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready >= 0 || errno != EINTR) break;
  }
  close(ends[0]);
  if (ready <= 0) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return ready > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace quillmore
