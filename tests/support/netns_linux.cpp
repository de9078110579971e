#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/netns.hpp"

namespace varnode::test {
namespace {
bool in_private_network = false;
}

void run_command(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("command failed: " + command);
}

bool PrivateNetwork::enter(std::string& why) {
  if (in_private_network) return true;
  in_private_network = netns::enter_fresh(why);
  return in_private_network;
}

bool PrivateNetwork::entered() { return in_private_network; }

Peer::Peer(const std::string& local_cidr, const std::string& peer_cidr) {
  static std::atomic<int> next{0};
  const std::string id = std::to_string(getpid()) + "x" + std::to_string(next++);
  name_ = "varnode-" + id;
  local_link_ = "vn" + id + "a";
  peer_link_ = "vn" + id + "b";
  namespace_ = std::make_unique<netns::Namespaces>(std::vector{name_});
  run_command("ip link add " + local_link_ + " type veth peer name " + peer_link_ + " netns " + name_);
  run_command("ip addr add " + local_cidr + " dev " + local_link_);
  run_command("ip link set " + local_link_ + " up");
  run_command("ip netns exec " + name_ + " ip addr add " + peer_cidr + " dev " + peer_link_);
  run_command("ip netns exec " + name_ + " ip link set " + peer_link_ + " up");
  run_command("ip netns exec " + name_ + " ip link set lo up");
}

// Deleting the namespace removes its end of the pair, and with it ours.
Peer::~Peer() = default;

void Peer::add_address(const std::string& cidr) {
  run_command("ip netns exec " + name_ + " ip addr add " + cidr + " dev " + peer_link_);
}

void Peer::inside(const std::function<void()>& work) const {
  std::exception_ptr failure;
  std::thread thread([&] {
    try {
      netns::enter(name_);
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace varnode::test
