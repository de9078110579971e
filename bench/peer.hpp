#pragma once
// The benchmarks' module: the few DCP bytes a peer needs, written on plain
// sockets so that the "bare" baseline shares no code with the library it is
// measured against. Both benchmarks answer through it.

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace bench {

inline constexpr std::uint16_t dcp_port = 30000;

void put_u16(std::uint8_t* p, std::uint16_t v);
void put_u32(std::uint8_t* p, std::uint32_t v);
std::uint32_t get_u32(const std::uint8_t* p);
sockaddr_in socket_address(std::uint32_t host, std::uint16_t port);

// A UDP socket bound to host:port, or -1.
int bound_socket(std::uint32_t host, std::uint16_t port);

// The bytes a measurement request asks for: channels in its mask times samples times four.
std::size_t requested_bytes(const std::uint8_t* request);
// Writes the data chunk at byte `offset` (`size` bytes, float i being
// `value(i)`) answering `request` into `datagram`; returns its length.
std::size_t stream_chunk(std::uint8_t* datagram, const std::uint8_t* request, std::size_t offset, std::size_t size,
                         float (*value)(std::size_t));

// A socket on 0.0.0.0:30000 that learns each request's destination, with a
// short receive time-out so that responders see their stop flag.
int responder_socket();
// Acknowledges every request on `fd` (code 1, its transaction id) from the
// address it was sent to, until `stop`. Any number of threads may share fd.
void acknowledge(int fd, const std::atomic<bool>& stop);

}  // namespace bench
