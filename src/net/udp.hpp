#pragma once
// The library's only kind of socket.

#include <cstdint>
#include <optional>

#include "net/bytes.hpp"
#include "net/ip.hpp"

namespace varnode {

namespace UDP {

struct Exception {
  virtual ~Exception() = default;
  struct Internal;
  struct Network;
};
struct Exception::Internal : Exception {};
struct Exception::Network : Exception {};

inline constexpr int receive_buffer_size = 65536;
// What a socket that collects a burst of broadcast replies asks for: room
// for a few thousand replies while the collection catches up.
inline constexpr int large_receive_buffer_size = 16 << 20;
// The largest UDP payload over IPv4: every datagram a peer can send is read whole.
inline constexpr std::size_t largest_datagram = 65507;

// Where a received datagram came from and how many of its bytes were kept.
struct Datagram {
  IP::Address source;
  std::uint16_t port = 0;
  std::size_t size = 0;
};

// A bound IPv4 datagram socket with broadcast allowed. Not copyable; closing
// happens in the destructor.
class Socket {
 public:
  Socket(IP::Address local, std::uint16_t port);
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  void send(IP::Address destination, std::uint16_t port, const std::uint8_t* data, std::size_t size);
  // Waits at most `wait` ms for one datagram and copies up to `capacity` of
  // its bytes to `data`. Nothing when none came in time: on the hot path a
  // quiet socket is not an error. Throws only for a failing socket.
  std::optional<Datagram> receive(std::uint32_t wait, std::uint8_t* data, std::size_t capacity);
  // The local address and port the system gave this socket.
  std::uint16_t local_port() const;
  // Raises the receive buffer towards large_receive_buffer_size, as far as
  // the system allows; keeps what it has when it allows nothing more.
  void enlarge_receive_buffer();

 private:
  std::intptr_t handle_;
};

}  // namespace UDP
}  // namespace varnode
