#pragma once
// Broadcasting on every local interface and collecting the answers.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "dcp/datagram.hpp"

namespace varnode::DCP {

// One socket per local IPv4 interface, bound to its address, in ascending
// order of interface name; owned by one call, never pooled.
class InterfaceSockets {
 public:
  InterfaceSockets();
  const std::vector<std::unique_ptr<UDP::Socket>>& sockets() const { return sockets_; }

 private:
  std::vector<std::unique_ptr<UDP::Socket>> sockets_;
};

// Sends to 255.255.255.255:30000 from every interface socket; a socket that
// fails is skipped.
void broadcast(const InterfaceSockets& sockets, std::uint16_t code, std::uint32_t transaction_id, View payload);
// Polls each socket once; the first acceptable datagram wins. When none has
// one, pauses a millisecond and returns nothing.
std::optional<Message> collect(const InterfaceSockets& sockets, Bytes& buffer);

}  // namespace varnode::DCP
