#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "namespaces.hpp"

namespace varnode::netns {
namespace {

// The last line a failed command wrote.
std::string last_line(std::string output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  const auto start = output.rfind('\n');
  return start == std::string::npos ? output : output.substr(start + 1);
}

}  // namespace

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

void must(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("failed: " + command);
  std::string output;
  char buffer[512];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  if (::pclose(pipe) != 0) {
    const std::string cause = last_line(output);
    throw std::runtime_error("failed: " + command + (cause.empty() ? "" : ": " + cause));
  }
}

bool enter_fresh(std::string& why) {
  if (!run("command -v ip")) {
    why = "the ip command (iproute2) is missing";
    return false;
  }
  if (::unshare(CLONE_NEWNET) != 0) {
    why = "this process may not create a network namespace (run as root)";
    return false;
  }
  if (!run("ip link set lo up")) {
    why = "cannot bring up loopback in the new namespace";
    return false;
  }
  return true;
}

void enter(const std::string& name) {
  const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
  if (fd >= 0) ::close(fd);
  if (!entered) throw std::runtime_error("cannot enter namespace " + name);
}

Namespaces::Namespaces(std::vector<std::string> names) : names_(std::move(names)) {
  if (!run("command -v ip")) throw std::runtime_error("the ip command (iproute2) is missing");
  start_watchdog();
  for (const std::string& name : names_) {
    if (!run("ip netns add " + name)) {
      remove();
      stop_watchdog();
      throw std::runtime_error("cannot make network namespace " + name + " (root needed, or the name is taken)");
    }
  }
}

Namespaces::~Namespaces() {
  remove();
  stop_watchdog();
}

// Deleting a namespace removes its ends of any veth pairs, and with them the
// other ends.
void Namespaces::remove() const {
  for (auto name = names_.rbegin(); name != names_.rend(); ++name) run("ip netns delete " + *name);
}

// A child that outlives this process for one purpose: when the pipe to it
// closes without the word that all is cleaned up, it deletes the namespaces.
// It leaves the process group so that the Ctrl-C which ends this process
// does not end it first.
void Namespaces::start_watchdog() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("cannot make the namespaces' watchdog pipe");
  std::string script;
  for (auto name = names_.rbegin(); name != names_.rend(); ++name) script += "ip netns delete " + *name + "; ";
  watchdog_ = ::fork();
  if (watchdog_ < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    throw std::runtime_error("cannot start the namespaces' watchdog");
  }
  if (watchdog_ == 0) {
    // Only async-signal-safe calls here: the parent may have other threads.
    ::close(ends[1]);
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    char word = 0;
    ssize_t got;
    while ((got = ::read(ends[0], &word, 1)) < 0 && errno == EINTR) {
    }
    if (got == 1) _exit(0);  // cleaned up already
    ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(ends[0]);
  watchdog_pipe_ = ends[1];
}

void Namespaces::stop_watchdog() {
  if (watchdog_pipe_ < 0) return;
  const char done = 1;
  [[maybe_unused]] const ssize_t sent = ::write(watchdog_pipe_, &done, 1);
  ::close(watchdog_pipe_);
  watchdog_pipe_ = -1;
  while (::waitpid(watchdog_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace varnode::netns
