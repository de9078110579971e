#pragma once
// Broadcasting on every local interface and collecting the answers.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "dcp/datagram.hpp"

namespace varnode::DCP {

// One socket per local IPv4 address (a link may carry several), bound to
// it, in ascending order of interface name, with as large a receive buffer as the system
// allows (a rack answers a broadcast all at once); owned by one call, never
// pooled. Throws Exception::Network when the table cannot be read or no
// descriptor is to be had.
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
// Reads the sockets without waiting until one yields a well-formed datagram
// from port 30000, dropping anything else. When no socket holds any datagram
// it pauses a millisecond and returns nothing; after 64 dropped datagrams it
// returns nothing at once.
std::optional<Message> collect(const InterfaceSockets& sockets, Bytes& buffer);

}  // namespace varnode::DCP
