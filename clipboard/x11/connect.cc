// The connection to the X server, made with a deadline. xcb_connect waits
// without limit, both to connect and for the server's set-up reply, and a
// grabbed or stopped X server would hold the run for ever; it also reports a
// refusal only by writing the server's reason to stderr. So the socket is
// ours: connected, authorized (libXau, as xcb does it) and handed to
// xcb_connect_to_fd under a timer that shuts the socket down when the
// deadline passes, which ends any wait on it.
#include <X11/X.h>
#include <X11/Xauth.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "base/handle.h"
#include "clipboard/linux/deadlines.h"
#include "clipboard/linux/fail.h"
#include "clipboard/linux/file_descriptor.h"
#include "clipboard/x11/session.h"

namespace quillmore::x11_clipboard {
namespace {

using linux_clipboard::FileDescriptor;

// The socket the timer shuts down; shutdown is async-signal-safe.
volatile sig_atomic_t connecting_fd = -1;
volatile sig_atomic_t deadline_passed = 0;
extern "C" void ShutDownConnectingSocket(int) {
  deadline_passed = 1;
  if (connecting_fd >= 0) shutdown(connecting_fd, SHUT_RDWR);
}

// Arms the timer for the whole connection and disarms it when it goes.
class ConnectTimer {
 public:
  explicit ConnectTimer(std::chrono::milliseconds timeout) {
    struct sigaction action {};
    action.sa_handler = ShutDownConnectingSocket;  // no SA_RESTART
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previous_);
    deadline_passed = 0;
    itimerval timer{};
    timer.it_value.tv_sec = timeout.count() / 1000;
    timer.it_value.tv_usec = timeout.count() % 1000 * 1000;
    setitimer(ITIMER_REAL, &timer, nullptr);
  }
  ~ConnectTimer() {
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous_, nullptr);
    connecting_fd = -1;
  }
  ConnectTimer(const ConnectTimer&) = delete;
  ConnectTimer& operator=(const ConnectTimer&) = delete;

 private:
  struct sigaction previous_ {};
};

// A descriptor above 2: the clipboard server puts /dev/null on 0-2 and must
// keep the connection it inherits.
FileDescriptor NewSocket(int domain) {
  FileDescriptor fd(socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd && fd.get() <= 2)
    fd = FileDescriptor(fcntl(fd.get(), F_DUPFD_CLOEXEC, 3));
  connecting_fd = fd.get();
  return fd;
}

// The local server's socket: the abstract name first, as xcb tries it.
FileDescriptor ConnectLocal(int display) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
  for (const bool abstract : {true, false}) {
    FileDescriptor fd = NewSocket(AF_UNIX);
    if (!fd) return fd;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(),
                path.size());
    // The abstract name's leading NUL, or the path's trailing one.
    const socklen_t length = offsetof(sockaddr_un, sun_path) + path.size() + 1;
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), length) == 0)
      return fd;
    if (deadline_passed) break;
  }
  return FileDescriptor();
}

FileDescriptor ConnectTcp(const std::string& host, int display,
                          std::string* address) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(6000 + display);
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return {};
  FileDescriptor result;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    FileDescriptor fd = NewSocket(a->ai_family);
    if (!fd) continue;
    if (connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0) {
      if (a->ai_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        address->assign(reinterpret_cast<const char*>(&in->sin_addr), 4);
      }
      result = std::move(fd);
      break;
    }
    if (deadline_passed) break;
  }
  freeaddrinfo(found);
  return result;
}

// Why the server refused us, in words, with a hint where XAUTHORITY is
// likely to blame.
std::string Refusal(const std::string& reason) {
  std::string cause = "the X server refused the connection";
  std::string trimmed = reason.substr(0, reason.find_last_not_of("\n ") + 1);
  if (!trimmed.empty()) cause += " (" + trimmed + ")";
  const char* authority = std::getenv("XAUTHORITY");
  if (authority != nullptr && *authority != '\0') {
    if (access(authority, R_OK) != 0) {
      cause += std::string("; XAUTHORITY names \"") + authority +
               "\", which cannot be read";
    } else if (*authority != '/') {
      cause += std::string("; XAUTHORITY is the relative path \"") + authority +
               "\"";
    }
  }
  return cause;
}

// Where the display is, from its name: the host ("" for this machine's
// socket), the display number and the screen.
struct DisplayName {
  std::string host;
  int number = 0;
};
DisplayName ParseDisplay(const char* display, int* screen) {
  char* host = nullptr;
  DisplayName name;
  if (!xcb_parse_display(display, &host, &name.number, screen)) {
    Fail(status::kFail,
         std::string("the X display name \"") + display + "\" is not valid");
  }
  name.host = host;
  std::free(host);
  return name;
}

// The socket to the display's server; *family and *address are what its
// authorization entries are filed under.
FileDescriptor ConnectSocket(const char* display, const DisplayName& name,
                             unsigned short* family, std::string* address) {
  FileDescriptor fd;
  *family = FamilyLocal;
  errno = 0;  // A name that does not resolve fails without setting it.
  if (name.host.empty() || name.host == "unix") {
    fd = ConnectLocal(name.number);
  } else {
    fd = ConnectTcp(name.host, name.number, address);
    if (!address->empty() && (*address)[0] != 127) *family = FamilyInternet;
  }
  if (!fd) {
    // No server there at all (no socket, or nobody listening) needs no
    // more words; anything else is worth its name.
    const int error = errno;
    std::string cause =
        std::string("cannot connect to the X display \"") + display + "\"";
    if (deadline_passed) {
      cause += ": no answer within " +
               linux_clipboard::InSeconds(linux_clipboard::kAnswerTimeout);
    } else if (error != 0 && error != ENOENT && error != ECONNREFUSED) {
      cause += std::string(": ") + std::strerror(error);
    }
    Fail(status::kFail, cause);
  }
  if (*family == FamilyLocal) {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    *address = host;
  }
  return fd;
}

// The best MIT-MAGIC-COOKIE-1 entry for the display, if any, found as xcb
// finds it.
struct AuthTraits {
  using Value = Xauth*;
  static Xauth* Empty() noexcept { return nullptr; }
  static void Release(Xauth* entry) noexcept { XauDisposeAuth(entry); }
};
Handle<AuthTraits> FindAuthorization(unsigned short family,
                                     const std::string& address, int number) {
  const std::string number_text = std::to_string(number);
  char kCookie[] = "MIT-MAGIC-COOKIE-1";
  char* names[] = {kCookie};
  const int lengths[] = {static_cast<int>(sizeof kCookie - 1)};
  return Handle<AuthTraits>(XauGetBestAuthByAddr(
      family, address.size(), address.data(), number_text.size(),
      number_text.data(), 1, names, lengths));
}

// xcb_connect_to_fd, with what xcb writes to stderr when the server
// refuses (its reason) caught in *reason by a pipe there for the moment.
xcb_connection_t* ConnectCatchingReason(FileDescriptor fd, Xauth* entry,
                                        std::string* reason) {
  xcb_auth_info_t auth{};
  if (entry != nullptr) {
    auth = {entry->name_length, entry->name, entry->data_length, entry->data};
  }
  int reason_pipe[2] = {-1, -1};
  const int saved_stderr = dup(STDERR_FILENO);
  if (saved_stderr >= 0 && pipe2(reason_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    dup2(reason_pipe[1], STDERR_FILENO);
    close(reason_pipe[1]);
  }
  xcb_connection_t* c =
      xcb_connect_to_fd(fd.Release(), entry != nullptr ? &auth : nullptr);
  if (saved_stderr >= 0) {
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
  }
  if (reason_pipe[0] >= 0) {
    char buffer[512];
    const ssize_t n = read(reason_pipe[0], buffer, sizeof buffer);
    if (n > 0) reason->assign(buffer, static_cast<std::size_t>(n));
    close(reason_pipe[0]);
  }
  return c;
}

}  // namespace

xcb_connection_t* ConnectToDisplay(const char* display, int* screen) {
  const DisplayName name = ParseDisplay(display, screen);
  ConnectTimer timer(linux_clipboard::kAnswerTimeout);
  unsigned short family = FamilyLocal;
  std::string address;
  FileDescriptor fd = ConnectSocket(display, name, &family, &address);
  const Handle<AuthTraits> entry =
      FindAuthorization(family, address, name.number);
  std::string reason;
  xcb_connection_t* c =
      ConnectCatchingReason(std::move(fd), entry.get(), &reason);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    if (deadline_passed && reason.empty()) {
      Fail(status::kFail,
           std::string("the X display \"") + display +
               "\" did not answer within " +
               linux_clipboard::InSeconds(linux_clipboard::kAnswerTimeout));
    }
    Fail(status::kFail, Refusal(reason));
  }
  return c;
}

}  // namespace quillmore::x11_clipboard
