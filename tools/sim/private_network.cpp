#include "private_network.hpp"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "rack.hpp"

namespace varnode::sim {

using netns::must;
using netns::run;

void PrivateNetwork::add_addresses(const std::vector<Address>& addresses) const {
  // One ip process for the whole rack: a thousand modules would otherwise
  // take a thousand process starts.
  char errors[] = "/tmp/varnode-sim-ip-XXXXXX";
  const int errors_fd = ::mkstemp(errors);
  if (errors_fd < 0) throw std::runtime_error("cannot make a temporary file for ip's messages");
  ::close(errors_fd);
  const std::string command = "ip -n " + rack_ + " -batch -";
  FILE* batch = ::popen((command + " >/dev/null 2>" + errors).c_str(), "w");
  if (batch == nullptr) {
    ::unlink(errors);
    throw std::runtime_error("failed: " + command);
  }
  for (Address address : addresses)
    std::fprintf(batch, "addr add %s/%u dev %s\n", format_address(address).c_str(), prefix_, rack_link_.c_str());
  const bool failed = ::pclose(batch) != 0;
  std::string output;
  if (FILE* file = std::fopen(errors, "r")) {
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) output.append(buffer, n);
    std::fclose(file);
  }
  ::unlink(errors);
  if (failed) {
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
    const auto start = output.rfind('\n');
    const std::string cause = start == std::string::npos ? output : output.substr(start + 1);
    throw std::runtime_error("failed: " + command + (cause.empty() ? "" : ": " + cause));
  }
}

PrivateNetwork::PrivateNetwork(std::string name, Address client, unsigned prefix, const std::vector<Address>& modules)
    : name_(std::move(name)), rack_(name_ + "-rack"), prefix_(prefix), namespaces_({name_, rack_}) {
  const std::string id = std::to_string(::getpid());
  const std::string client_link = "vnc" + id;
  rack_link_ = "vnr" + id;
  const std::string mask = "/" + std::to_string(prefix);
  const std::string client_mac = "02:56:ff:00:00:01";
  // A failure from here on leaves namespaces_ to remove both namespaces.
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
}

PrivateNetwork::~PrivateNetwork() = default;

void PrivateNetwork::enter_rack() const { netns::enter(rack_); }
void PrivateNetwork::enter_client() const { netns::enter(name_); }

bool PrivateNetwork::add_address(Address address) const {
  return run("ip -n " + rack_ + " addr add " + format_address(address) + "/" + std::to_string(prefix_) + " dev " +
             rack_link_);
}

void PrivateNetwork::remove_address(Address address) const {
  run("ip -n " + rack_ + " addr del " + format_address(address) + "/" + std::to_string(prefix_) + " dev " + rack_link_);
}

}  // namespace varnode::sim
