#pragma once
// What the rack hears and says, for people debugging an application: a pcap
// file that Wireshark and tshark open as they are (no capture on an interface
// needed), and a one-line-per-datagram trace. Both see every datagram,
// malformed ones included, exactly as it crossed the socket.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "address.hpp"

namespace varnode::sim {

struct Hop {
  Address from;
  std::uint16_t from_port = 0;
  Address to;
  std::uint16_t to_port = 0;
};

// One line of text naming a datagram: its command or reply, transaction id
// and a short summary of the payload. Requests go to port 30000, replies
// come from it.
std::string summarise(std::span<const std::uint8_t> datagram, bool request);

// Writes classic pcap (microsecond time stamps) with raw IPv4 packets, so
// every datagram keeps its addresses and ports.
class PcapWriter {
 public:
  // Throws std::runtime_error when the file cannot be created.
  explicit PcapWriter(const std::string& path);
  ~PcapWriter();
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  void write(const Hop& hop, std::span<const std::uint8_t> datagram);

 private:
  std::FILE* file_ = nullptr;
  std::uint16_t ip_id_ = 0;
};

// The trace: seconds since the rack started, direction, addresses, summary.
class Tracer {
 public:
  explicit Tracer(std::FILE* out);
  void write(const Hop& hop, std::span<const std::uint8_t> datagram, bool incoming);

 private:
  std::FILE* out_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace varnode::sim
