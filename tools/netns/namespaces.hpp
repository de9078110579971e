#pragma once
// Private network namespaces: whatever a test, benchmark or rack sends in
// one stays in it, so broadcasts and made-up addresses never reach the
// machine's own network. Linux only; needs root and iproute2.

#include <string>
#include <vector>

namespace varnode::netns {

// Runs a shell command with its output discarded; true when it succeeded.
bool run(const std::string& command);
// Runs a shell command; on failure throws std::runtime_error naming the
// command and the last line it printed, which names the cause.
void must(const std::string& command);

// Moves the calling thread (and threads it starts later) into a new, empty
// network namespace with loopback up. False when the machine does not allow
// it, with the reason in `why`.
bool enter_fresh(std::string& why);
// Moves the calling thread into the named namespace; sockets it makes there
// belong to that namespace for good. Throws std::runtime_error.
void enter(const std::string& name);

// Named namespaces (ip netns NAME), made together and removed together: by
// the destructor, or by a watchdog child when this process ends any other
// way (a signal, SIGKILL and abort included), so none is left behind.
class Namespaces {
 public:
  // Throws std::runtime_error when one cannot be made (root needed, the
  // name taken, iproute2 missing); those already made are removed again.
  explicit Namespaces(std::vector<std::string> names);
  ~Namespaces();
  Namespaces(const Namespaces&) = delete;
  Namespaces& operator=(const Namespaces&) = delete;

 private:
  void start_watchdog();
  void stop_watchdog();
  void remove() const;

  std::vector<std::string> names_;
  int watchdog_ = -1;       // pid of the child that removes them if this process dies
  int watchdog_pipe_ = -1;  // closing it without a word tells the child to
};

}  // namespace varnode::netns
