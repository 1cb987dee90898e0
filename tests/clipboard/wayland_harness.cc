#include "tests/clipboard/wayland_harness.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/clipboard/x11_harness.h"

namespace quillmore::testing {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Abort(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The socket sway made in dir ("wayland-1"), or "" while there is none.
std::string FindSocket(const std::string& dir) {
  std::string found;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* entry = readdir(d)) {
      const std::string name = entry->d_name;
      if (name.rfind("wayland-", 0) == 0 &&
          name.find('.') == std::string::npos) {
        found = name;
      }
    }
    closedir(d);
  }
  return found;
}

std::string ReadLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  remove(path);
  return 0;
}

}  // namespace

Sway::Sway() {
  char dir[] = "/tmp/quillmore-sway-XXXXXX";
  if (mkdtemp(dir) == nullptr) Abort("mkdtemp");
  dir_ = dir;
  uid_t uid = getuid();
  gid_t gid = getgid();
  if (uid == 0) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) Abort("no user \"nobody\" to run sway as");
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
    if (chown(dir_.c_str(), uid, gid) != 0) Abort("chown " + dir_);
  }
  // Only what a headless compositor needs: no bar, no XWayland, no idle
  // daemon; the output exists so that the seat is complete.
  const std::string config = dir_ + "/config";
  std::ofstream(config) << "xwayland disable\n";
  const std::string log = dir_ + "/sway.log";

  std::vector<std::string> env = {
      "HOME=" + dir_,          "XDG_RUNTIME_DIR=" + dir_,
      "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
      "WLR_RENDERER=pixman",   "PATH=/usr/local/bin:/usr/bin:/bin",
  };
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) Abort("fork");
  if (pid_ == 0) {
    if (getuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
        _exit(126);
      }
    }
    // After the change of user, which would clear it: a test killed at its
    // timeout must not leave its compositor (and the clipboard servers on
    // it) behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null = open("/dev/null", O_RDWR);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(null, 0);
    dup2(out >= 0 ? out : null, 1);
    dup2(out >= 0 ? out : null, 2);
    execle("/usr/bin/sway", "sway", "-c", config.c_str(),
           static_cast<char*>(nullptr), envp.data());
    _exit(127);
  }

  // sway adds its socket once its globals (the data-control manager among
  // them) exist; clients connecting from then on are served.
  const Clock::time_point deadline = Clock::now() + milliseconds(20000);
  while (socket_.empty()) {
    socket_ = FindSocket(dir_);
    if (!socket_.empty()) break;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("sway ended before it was ready (status " +
                               std::to_string(status) + "):\n" + ReadLog(log));
    }
    if (Clock::now() >= deadline) {
      throw std::runtime_error("sway made no socket within 20 s:\n" +
                               ReadLog(log));
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  setenv("WAYLAND_DISPLAY", socket_.c_str(), 1);
}

Sway::~Sway() {
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("XDG_RUNTIME_DIR");
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const bool ended =
        Eventually([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; },
                   milliseconds(5000));
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  nftw(dir_.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

}  // namespace quillmore::testing
