#pragma once
// A rack served in-process on its own thread, and a client that talks DCP
// to it through the library's own socket and receive step.

#include <optional>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "dcp/exchange.hpp"
#include "server.hpp"

namespace varnode::sim::test {

struct Answer {
  IP::Address source;
  std::uint16_t code = 0;
  std::uint32_t id = 0;
  Bytes payload;
  std::uint64_t at_ms = 0;  // when it arrived, on current_milliseconds
};

class Rig {
 public:
  explicit Rig(const nlohmann::json& description, Placement placement = Placement::loopback,
               Server::Options options = {});
  ~Rig();
  Server& server() { return server_; }

 private:
  Server server_;
  std::thread thread_;
};

class Client {
 public:
  Client();
  // Sends one request; returns its transaction id.
  std::uint32_t send(IP::Address to, std::uint16_t code, const Bytes& payload = {});
  // Every datagram that arrives within `window_ms`, matching id or not.
  std::vector<Answer> listen(unsigned window_ms);
  // The first datagram with transaction `id`, waiting at most `limit_ms`.
  std::optional<Answer> await(std::uint32_t id, unsigned limit_ms = 5000);
  // Request and its answer in one; fails the test when none comes.
  Answer ask(IP::Address to, std::uint16_t code, const Bytes& payload = {});
  // Collects a stream of data chunks (code `data`) until `bytes` have come,
  // something else comes, or nothing comes for `gap_ms`.
  std::vector<Answer> stream(std::uint32_t id, std::size_t bytes, unsigned gap_ms = 3000);

 private:
  UDP::Socket socket_;
  std::uint32_t next_id_ = 0x1000;
};

inline IP::Address loopback(std::uint8_t last) { return IP::Address(0x7F000A00u | last); }

// Tag -> value of an element list; later tags overwrite.
std::map<std::uint8_t, Bytes> elements(const Bytes& payload);
float f32(const Bytes& bytes, std::size_t at);

}  // namespace varnode::sim::test
