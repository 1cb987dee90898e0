#include "clipboard/linux_shared.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "base/error.h"

namespace quillmore::linux_clipboard {
namespace {

// Decodes one UTF-8 sequence at text[*i]; returns the code point and
// advances *i, or returns -1 for a sequence that is not valid UTF-8.
long DecodeUtf8(std::string_view text, std::size_t* i) {
  const auto byte = [&](std::size_t k) {
    return static_cast<unsigned char>(text[k]);
  };
  const unsigned char lead = byte(*i);
  if (lead < 0x80) {
    ++*i;
    return lead;
  }
  int length;
  long cp;
  long min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (text.size() - *i < static_cast<std::size_t>(length)) return -1;
  for (int k = 1; k < length; ++k) {
    const unsigned char next = byte(*i + k);
    if ((next & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  *i += length;
  return cp;
}

// The forked child until it has reported: killed and reaped if the parent
// gives up on it (a deadline, or its own connection failing meanwhile).
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) noexcept : pid_(pid) {}
  ChildProcess(ChildProcess&& other) noexcept
      : pid_(std::exchange(other.pid_, -1)) {}
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
      Kill();
      pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Kill(); }

  // It ended by itself: collect it.
  void Reap() noexcept {
    if (pid_ > 0) {
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
  }
  // It serves on: it is no longer ours to end.
  void Release() noexcept { pid_ = -1; }

 private:
  void Kill() noexcept {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Reap();
  }

  pid_t pid_;
};

// Cuts the child loose from whoever started the program.
void Detach(int report_fd) noexcept {
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);  // a report to a parent that is gone, a reader
                             // that closed its pipe early
  setsid();
  if (chdir("/") != 0) {
    // Nothing depends on it; it only keeps us from pinning a mount.
  }
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
  }
  if (report_fd > 3) close_range(3, report_fd - 1, 0);
  close_range(report_fd + 1, ~0u, 0);
}

void WriteAll(int fd, std::string_view data) noexcept {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

[[noreturn]] void RunServer(const ServerSteps& steps, int report_fd) {
  steps.abandon_parent();
  Detach(report_fd);
  std::string report = "ok";
  try {
    steps.take_over();
  } catch (const Error& error) {
    report = error.cause();
  } catch (const std::bad_alloc&) {
    report = "not enough memory";
  }
  WriteAll(report_fd, report);
  close(report_fd);
  if (report == "ok") {
    try {
      steps.serve();
    } catch (...) {
      // Nobody is left to tell; the clipboard goes with us.
    }
  }
  _exit(0);
}

}  // namespace

void FileDescriptor::Reset() noexcept {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::string WithLfLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

bool RepresentableInLatin1(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const long cp = DecodeUtf8(text, &i);
    if (cp < 0 || cp > 0xFF) return false;
  }
  return true;
}

std::string Utf8ToLatin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    out.push_back(static_cast<char>(DecodeUtf8(text, &i)));
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return out;
}

void StartClipboardServer(const char* interface_name, Operation operation,
                          const ServerSteps& steps, const WaitReadable& wait) {
  const auto fail = [&](StatusCode code, std::string cause) {
    throw Error(code, interface_name, operation, std::move(cause));
  };
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    fail(status::kFail, std::string("cannot start the clipboard server: ") +
                            std::strerror(errno));
  }
  FileDescriptor report_read(fds[0]);
  FileDescriptor report_write(fds[1]);
  const pid_t pid = fork();
  if (pid < 0) {
    fail(status::kFail, std::string("cannot start the clipboard server: ") +
                            std::strerror(errno));
  }
  if (pid == 0) RunServer(steps, report_write.get());
  ChildProcess child(pid);
  report_write.Reset();

  // The report ends where the child closes its end: "ok", or why not.
  std::string report;
  const Clock::time_point deadline = Clock::now() + kServerStartTimeout;
  for (;;) {
    if (!wait(report_read.get(), deadline)) {
      fail(status::kTimeout,
           "the clipboard server did not take the text over within 2 s");
    }
    char buffer[512];
    const ssize_t n = read(report_read.get(), buffer, sizeof buffer);
    if (n > 0) {
      report.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  if (report != "ok") {
    child.Reap();
    fail(status::kFail,
         "the clipboard server could not take the text over: " +
             (report.empty() ? std::string("it ended") : report));
  }
  child.Release();
}

}  // namespace quillmore::linux_clipboard
