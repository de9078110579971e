#include "private_network.hpp"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "rack.hpp"

namespace varnode::sim {
namespace {

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

void must(const std::string& command) {
  if (!run(command)) throw std::runtime_error("failed: " + command);
}

void enter(const std::string& name) {
  const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) throw std::runtime_error("cannot enter namespace " + name);
  ::close(fd);
}

}  // namespace

void PrivateNetwork::add_addresses(const std::vector<IP::Address>& addresses) const {
  // One ip process for the whole rack: a thousand modules would otherwise
  // take a thousand process starts.
  const std::string command = "ip -n " + rack_ + " -batch - >/dev/null 2>&1";
  FILE* batch = ::popen(command.c_str(), "w");
  if (batch == nullptr) throw std::runtime_error("failed: " + command);
  for (IP::Address address : addresses)
    std::fprintf(batch, "addr add %s/%u dev %s\n", format_address(address).c_str(), prefix_, rack_link_.c_str());
  if (::pclose(batch) != 0) throw std::runtime_error("failed: " + command);
}

PrivateNetwork::PrivateNetwork(std::string name, IP::Address client, unsigned prefix,
                               const std::vector<IP::Address>& modules)
    : name_(std::move(name)), rack_(name_ + "-rack"), prefix_(prefix) {
  if (!run("command -v ip")) throw std::runtime_error("the ip command (iproute2) is missing");
  const std::string id = std::to_string(::getpid());
  const std::string client_link = "vnc" + id;
  rack_link_ = "vnr" + id;
  const std::string mask = "/" + std::to_string(prefix);
  const std::string client_mac = "02:56:ff:00:00:01";
  if (!run("ip netns add " + name_))
    throw std::runtime_error("cannot make network namespace " + name_ + " (root needed, or the name is taken)");
  try {
    must("ip netns add " + rack_);
    must("ip link add " + client_link + " address " + client_mac + " type veth peer name " + rack_link_);
    must("ip link set " + client_link + " netns " + name_);
    must("ip link set " + rack_link_ + " netns " + rack_);
    must("ip -n " + name_ + " addr add " + format_address(client) + mask + " dev " + client_link);
    must("ip -n " + name_ + " link set " + client_link + " up");
    must("ip -n " + name_ + " link set lo up");
    add_addresses(modules);
    must("ip -n " + rack_ + " link set " + rack_link_ + " up");
    must("ip -n " + rack_ + " link set lo up");
    // Every module answers a broadcast at once; if the rack's side had to
    // resolve the client's address first, the replies queued meanwhile
    // would overflow the neighbour queue and be lost.
    must("ip -n " + rack_ + " neigh replace " + format_address(client) + " lladdr " + client_mac + " dev " + rack_link_ +
         " nud permanent");
  } catch (...) {
    run("ip netns delete " + rack_);
    run("ip netns delete " + name_);
    throw;
  }
}

PrivateNetwork::~PrivateNetwork() {
  run("ip netns delete " + rack_);
  run("ip netns delete " + name_);
}

void PrivateNetwork::enter_rack() const { enter(rack_); }
void PrivateNetwork::enter_client() const { enter(name_); }

bool PrivateNetwork::add_address(IP::Address address) const {
  return run("ip -n " + rack_ + " addr add " + format_address(address) + "/" + std::to_string(prefix_) + " dev " +
             rack_link_);
}

void PrivateNetwork::remove_address(IP::Address address) const {
  run("ip -n " + rack_ + " addr del " + format_address(address) + "/" + std::to_string(prefix_) + " dev " + rack_link_);
}

}  // namespace varnode::sim
