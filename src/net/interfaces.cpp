#include "net/ip.hpp"

namespace varnode::IP {

std::set<std::string> interface_names() {
  std::set<std::string> names;
  for (const auto& [name, interface] : interfaces()) names.insert(name);
  return names;
}

Address interface_address(const std::string& name) {
  const InterfaceTable table = interfaces();
  const auto found = table.find(name);
  if (found == table.end()) throw Exception::Network{};
  return found->second.address;
}

}  // namespace varnode::IP
