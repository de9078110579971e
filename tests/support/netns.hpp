#pragma once
// Private network namespaces for tests that broadcast or need addresses
// other than loopback. The test process moves itself into a fresh namespace
// (nothing it sends can leave the machine's own namespace), and peers are
// further namespaces joined to it by veth pairs.

#include <functional>
#include <memory>
#include <string>

#include "netns/namespaces.hpp"

namespace varnode::test {

class PrivateNetwork {
 public:
  // Moves the calling thread (and threads it starts later) into a new
  // network namespace with loopback up. False when the machine does not
  // allow it (not root, no iproute2); the reason is in `why`.
  static bool enter(std::string& why);
  static bool entered();
};

// A namespace joined to ours by one veth pair. Addresses are in CIDR form,
// e.g. "198.18.1.1/24". Removed again on destruction, or by the watchdog
// when the test program is killed.
class Peer {
 public:
  Peer(const std::string& local_cidr, const std::string& peer_cidr);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Adds one more address to the peer's side of the link.
  void add_address(const std::string& cidr);
  // Runs `work` on a thread inside the peer namespace; sockets created
  // there belong to the peer for good.
  void inside(const std::function<void()>& work) const;
  const std::string& name() const { return name_; }
  const std::string& local_link() const { return local_link_; }

 private:
  std::string name_;
  std::string local_link_;
  std::string peer_link_;
  std::unique_ptr<netns::Namespaces> namespace_;
};

// Runs a shell command, failing the test on a non-zero status.
void run_command(const std::string& command);

}  // namespace varnode::test
