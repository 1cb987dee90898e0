#include "tests/clipboard/posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "gtest/gtest.h"

namespace quillmore_test {
namespace {

// Starts argv with stdin from in and stdout (and, with err, stderr) to out;
// the child ends with the test, even when the test is killed.
pid_t Start(const std::vector<std::string>& argv, int in, int out, bool err,
            const std::vector<std::string>& env = {}) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const int null = open("/dev/null", O_RDWR);
  dup2(in < 0 ? null : in, 0);
  dup2(out < 0 ? null : out, 1);
  dup2(err ? 1 : null, 2);
  for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  if (!Eventually([&] { return waitpid(pid, nullptr, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::string TestTag() {
  return "QUILLMORE_TEST_TAG=" + std::to_string(getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

Outcome RunQuillmore(const std::vector<std::string>& arguments,
                     const std::string& tag) {
  std::vector<std::string> argv = {QUILLMORE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunProgram(argv, {tag}, true);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

std::string TempFile(const std::string& data) {
  static int count = 0;
  const std::string path = std::string(TEST_TEMP_DIR) + "/" +
                           std::to_string(getpid()) + "-" +
                           std::to_string(++count);
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

Outcome RunProgram(const std::vector<std::string>& argv,
                   const std::vector<std::string>& env, bool merge_stderr) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = Start(argv, -1, fds[1], merge_stderr, env);
  close(fds[1]);
  Outcome outcome;
  pollfd p = {fds[0], POLLIN, 0};
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buffer[65536];
  ssize_t k = 1;
  while (k > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    k = read(fds[0], buffer, sizeof buffer);
    if (k > 0) outcome.said.append(buffer, k);
  }
  close(fds[0]);
  if (k != 0) {
    kill(pid, SIGKILL);
    outcome.said += "[still running, or its output still held, after 20 s]";
  }
  int status = 0;
  if (!Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    k = -1;
  }
  if (k == 0 && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
  if (merge_stderr && !outcome.said.empty() && outcome.said.back() == '\n') {
    outcome.said.pop_back();
  }
  return outcome;
}

Process::Process(const std::vector<std::string>& argv,
                 const std::string& input_file) {
  const int in = open(input_file.c_str(), O_RDONLY | O_CLOEXEC);
  pid_ = Start(argv, in, -1, false);
  close(in);
}

Process::~Process() {
  if (!Ended()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Process::Ended() {
  if (!ended_) ended_ = waitpid(pid_, nullptr, WNOHANG) == pid_;
  return ended_;
}

std::vector<pid_t> ProcessesWithEnv(const std::string& entry) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  while (dirent* e = readdir(proc)) {
    if (atoi(e->d_name) <= 0) continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    const std::string stat = Slurp(dir + "/stat");
    const std::size_t paren = stat.rfind(") ");
    if (paren == std::string::npos || stat[paren + 2] == 'Z') continue;
    const std::string env = '\0' + Slurp(dir + "/environ");
    if (env.find('\0' + entry + '\0') != std::string::npos) {
      found.push_back(atoi(e->d_name));
    }
  }
  closedir(proc);
  return found;
}

Xvfb::Xvfb() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  // Xvfb writes the display number it took once it accepts connections.
  pid_ =
      Start({"sh", "-c", "exec Xvfb -displayfd 3 -nolisten tcp -noreset 3>&1"},
            -1, fds[1], false);
  close(fds[1]);
  std::string number;
  char c;
  pollfd p = {fds[0], POLLIN, 0};
  while (poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
    number += c;
  }
  close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  setenv("DISPLAY", (":" + number).c_str(), 1);
}

Xvfb::~Xvfb() {
  Stop(pid_);
  unsetenv("DISPLAY");
}

Sway::Sway() {
  char dir[] = "/tmp/quillmore-sway-XXXXXX";
  if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp");
  dir_ = dir;
  std::ofstream(dir_ + "/config") << "xwayland disable\n";
  std::vector<std::string> argv = {"sway", "-c", dir_ + "/config"};
  const passwd* nobody = getpwnam("nobody");
  if (getuid() == 0 && nobody && chown(dir, nobody->pw_uid, -1) == 0) {
    argv.insert(argv.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup",
                               "--clear-groups", "--pdeathsig=KILL"});
  }
  const int log = open((dir_ + "/log").c_str(), O_WRONLY | O_CREAT, 0644);
  pid_ =
      Start(argv, -1, log, true,
            {"HOME=" + dir_, "XDG_RUNTIME_DIR=" + dir_, "WLR_BACKENDS=headless",
             "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"});
  close(log);
  // sway makes its socket once its globals, data control among them, exist.
  const std::string socket = dir_ + "/wayland-1";
  Eventually([&] { return access(socket.c_str(), F_OK) == 0; },
             std::chrono::seconds(20));
  if (access(socket.c_str(), F_OK) != 0) {
    throw std::runtime_error("sway did not start:\n" + Slurp(dir_ + "/log"));
  }
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  setenv("WAYLAND_DISPLAY", "wayland-1", 1);
}

Sway::~Sway() {
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("XDG_RUNTIME_DIR");
  Stop(pid_);
  RunProgram({"rm", "-rf", dir_});
}

}  // namespace quillmore_test
