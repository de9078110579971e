#include "net/udp.hpp"

namespace varnode::UDP {

IP::Address Socket::receive(std::uint16_t wait, std::uint16_t& source_port, Bytes& data) {
  const std::size_t before = data.size();
  data.resize(largest_datagram);
  const std::optional<Datagram> datagram = receive(wait, data.data(), data.size());
  if (!datagram) {
    data.resize(before);
    throw Exception::Timeout{};
  }
  data.resize(datagram->size);
  source_port = datagram->port;
  return datagram->source;
}

}  // namespace varnode::UDP
