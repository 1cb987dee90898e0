#include "tests/clipboard/x11_harness.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace quillmore::testing {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Abort(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

std::vector<char*> Argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const std::string& arg : argv)
    out.push_back(const_cast<char*>(arg.c_str()));
  out.push_back(nullptr);
  return out;
}

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

Xvfb::Xvfb() {
  int fds[2];
  if (pipe(fds) != 0) Abort("pipe");
  pid_ = fork();
  if (pid_ < 0) Abort("fork");
  if (pid_ == 0) {
    // A test killed at its timeout must not leave its X server behind (and
    // with it the clipboard servers that keep serving on it).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    close(fds[0]);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp",
           "-noreset", "-screen", "0", "320x240x24",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes the display number it took once it accepts connections.
  const Clock::time_point deadline = Clock::now() + milliseconds(20000);
  std::string number;
  for (;;) {
    pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, RemainingMs(deadline)) <= 0) break;
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number.push_back(c);
  }
  close(fds[0]);
  if (number.empty()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("Xvfb did not start");
  }
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
}

Xvfb::~Xvfb() {
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  unsetenv("DISPLAY");
}

RunResult RunProgram(const std::vector<std::string>& argv,
                     const RunOptions& options) {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0) Abort("pipe");
  if (options.capture &&
      (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)) {
    Abort("pipe");
  }
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) Abort("fork");
  if (pid == 0) {
    dup2(in[0], 0);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(options.capture ? out[1] : devnull, 1);
    dup2(options.capture ? err[1] : devnull, 2);
    for (const std::string& name : options.unset_env) unsetenv(name.c_str());
    for (const std::string& entry : options.env) {
      putenv(const_cast<char*>(entry.c_str()));
    }
    std::vector<char*> args = Argv(argv);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  if (options.capture) {
    close(out[1]);
    close(err[1]);
    SetNonBlocking(out[0]);
    SetNonBlocking(err[0]);
  }
  SetNonBlocking(in[1]);
  if (!options.has_input) {
    close(in[1]);
    in[1] = -1;
  }
  signal(SIGPIPE, SIG_IGN);

  RunResult result;
  const Clock::time_point deadline = start + options.timeout;
  std::size_t written = 0;
  bool exited = false;
  int status = 0;
  for (;;) {
    if (!exited) {
      const pid_t done = waitpid(pid, &status, WNOHANG);
      exited = done == pid;
    }
    if (exited && out[0] < 0 && err[0] < 0) break;
    if (Clock::now() >= deadline) {
      result.timed_out = true;
      break;
    }
    pollfd fds[3];
    int n = 0;
    if (in[1] >= 0) fds[n++] = {in[1], POLLOUT, 0};
    if (out[0] >= 0) fds[n++] = {out[0], POLLIN, 0};
    if (err[0] >= 0) fds[n++] = {err[0], POLLIN, 0};
    // Without pipes to watch, this only paces the check for the exit.
    poll(fds, n, n > 0 && exited ? RemainingMs(deadline) : 5);
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in[1]) {
        const ssize_t k = write(in[1], options.input.data() + written,
                                options.input.size() - written);
        if (k > 0) written += k;
        if (k < 0 && errno != EAGAIN) written = options.input.size();
        if (written == options.input.size()) {
          close(in[1]);
          in[1] = -1;
        }
        continue;
      }
      int& fd = fds[i].fd == out[0] ? out[0] : err[0];
      std::string& sink = fds[i].fd == out[0] ? result.out : result.err;
      char buffer[65536];
      const ssize_t k = read(fd, buffer, sizeof buffer);
      if (k > 0) {
        sink.append(buffer, k);
      } else if (k == 0 || errno != EAGAIN) {
        close(fd);
        fd = -1;
      }
    }
  }
  result.elapsed =
      std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  for (int fd : {in[1], out[0], err[0]}) {
    if (fd >= 0) close(fd);
  }
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (exited && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

Process::Process(const std::vector<std::string>& argv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) Abort("pipe");
  pid_ = fork();
  if (pid_ < 0) Abort("fork");
  if (pid_ == 0) {
    dup2(fds[1], 1);
    std::vector<char*> args = Argv(argv);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  out_ = fds[0];
}

Process::~Process() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(out_);
}

std::string Process::ReadLine(milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    const std::size_t newline = buffered_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      return line;
    }
    pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, RemainingMs(deadline)) <= 0) return {};
    char buffer[256];
    const ssize_t k = read(out_, buffer, sizeof buffer);
    if (k <= 0) return {};
    buffered_.append(buffer, k);
  }
}

bool Process::Ended() {
  if (!ended_) ended_ = waitpid(pid_, nullptr, WNOHANG) == pid_;
  return ended_;
}

std::vector<pid_t> ProcessesWithEnv(const std::string& entry) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* e = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0) continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    std::ifstream stat(dir + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t paren = line.rfind(')');
    if (paren == std::string::npos || paren + 2 >= line.size() ||
        line[paren + 2] == 'Z') {
      continue;  // gone, or a zombie nobody has reaped yet: not serving
    }
    std::ifstream environ(dir + "/environ", std::ios::binary);
    const std::string env((std::istreambuf_iterator<char>(environ)), {});
    std::size_t start = 0;
    while (start < env.size()) {
      std::size_t end = env.find('\0', start);
      if (end == std::string::npos) end = env.size();
      if (env.compare(start, end - start, entry) == 0) {
        found.push_back(pid);
        break;
      }
      start = end + 1;
    }
  }
  closedir(proc);
  return found;
}

bool Eventually(const std::function<bool()>& condition, milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
}

}  // namespace quillmore::testing
