// varnode-sim run as a child in its own network namespaces, for programs
// that speak to the rack from the client's namespace: start it, join that
// namespace, stop it. Stopping on destruction covers every early return.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() { stop(); }

  // Runs `sim --netns --name name --config config` and waits until it prints
  // "ready". False when it never does; it has then exited, and
  // exit_status() says how.
  bool start(const char* sim, const std::string& name, const std::string& config) {
    name_ = name;
    int pipe[2];
    if (::pipe(pipe) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipe[1], STDOUT_FILENO);
      ::close(pipe[0]);
      ::execl(sim, "varnode-sim", "--netns", "--name", name.c_str(), "--config", config.c_str(),
              static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(pipe[1]);
    if (pid_ < 0) {
      ::close(pipe[0]);
      return false;
    }
    // Kept open until stop() so the simulator never writes into a closed pipe.
    output_ = ::fdopen(pipe[0], "r");
    char line[1024];
    bool ready = false;
    while (!ready && std::fgets(line, sizeof line, output_) != nullptr)
      ready = std::string(line).rfind("ready", 0) == 0;
    if (!ready) {
      // Its output ended: it is on its way out, so this wait is short.
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return ready;
  }

  // Moves this process into the rack's client namespace.
  bool join_client() const {
    const int fd = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool joined = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return joined;
  }

  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (output_ != nullptr) {
      std::fclose(output_);
      output_ = nullptr;
    }
  }

  // SIGKILL, which the simulator cannot catch, and the wait for its end.
  void kill_now() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

  // The exit code of a simulator that never became ready; -1 when it was
  // killed by a signal.
  int exit_status() const { return exit_status_; }

 private:
  std::string name_;
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  int exit_status_ = -1;
};
