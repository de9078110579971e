#pragma once
// Two network namespaces joined by one veth pair: the modules' side, where
// the simulator runs, and the client's side, where the library and the
// command-line tool run (ip netns exec NAME ...). Nothing in them reaches
// any other network.

#include <string>
#include <vector>

#include "address.hpp"
#include "netns/namespaces.hpp"

namespace varnode::sim {

class PrivateNetwork {
 public:
  // Makes the namespaces "NAME" (client) and "NAME-rack" (modules). Throws
  // std::runtime_error when the machine does not allow it (root needed),
  // with the failed command's own message. The namespaces are removed
  // however this process ends, SIGKILL included.
  PrivateNetwork(std::string name, Address client, unsigned prefix, const std::vector<Address>& modules);
  ~PrivateNetwork();
  PrivateNetwork(const PrivateNetwork&) = delete;
  PrivateNetwork& operator=(const PrivateNetwork&) = delete;

  const std::string& client_namespace() const { return name_; }
  // Moves the calling thread into the modules' namespace.
  void enter_rack() const;
  // Moves the calling thread (or a child about to exec) into the client's.
  void enter_client() const;
  // Gives the modules' side one more address, or takes one away.
  bool add_address(Address address) const;
  void remove_address(Address address) const;

 private:
  void add_addresses(const std::vector<Address>& addresses) const;

  std::string name_;
  std::string rack_;
  std::string rack_link_;
  unsigned prefix_;
  netns::Namespaces namespaces_;
};

}  // namespace varnode::sim
