#pragma once
// A rack served in-process on its own thread, reached the way applications
// reach modules: through the public C API. Where a test needs what the API
// hides (a reply's exact code, size, id or source, or a request the API
// refuses to send), WireClient speaks DCP over a plain socket using the
// rack's own codec, never the library's.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "codec.hpp"
#include "server.hpp"
#include "support/netns.hpp"
#include "varnode/varnode.h"

namespace varnode::sim::test {

// Addresses in the API's form: host order, first octet highest.
constexpr std::uint32_t loopback(std::uint32_t last) { return 0x7F000A00u | last; }  // 127.0.10.x
constexpr std::uint32_t peer_address(std::uint32_t last) { return 0xC6120000u | last; }  // 198.18.0.x

// Serves `description` until destroyed. With a peer, the serving thread
// and its sockets live in the peer's namespace, and so do the addresses a
// configure command moves modules to.
class Rig {
 public:
  explicit Rig(const nlohmann::json& description, Server::Options options = {});
  Rig(const varnode::test::Peer& peer, const nlohmann::json& description, Server::Options options = {});
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Blocks until the rack has received `count` datagrams with this command
  // code since it started serving.
  void await_requests(std::uint16_t code, unsigned count = 1);

 private:
  void start(const varnode::test::Peer* peer, const nlohmann::json& description, Placement placement,
             Server::Options options);

  std::unique_ptr<Server> server_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::map<std::uint16_t, unsigned> received_;
};

// A module on a link of its own: the test's namespace holds 198.18.0.1, the
// peer holds each module's address (198.18.0.11 and any added).
struct PeerLink {
  PeerLink() : peer("198.18.0.1/24", "198.18.0.11/24") {}
  varnode::test::Peer peer;
};

struct Answer {
  std::uint32_t source = 0;  // host order
  std::uint16_t code = 0;
  std::uint32_t id = 0;
  Bytes payload;
  std::uint64_t at_ms = 0;  // when it arrived, on milliseconds()
};

std::uint64_t milliseconds();

class WireClient {
 public:
  // Bound to `local` (host order; 0 for any) on a port of the system's choice.
  explicit WireClient(std::uint32_t local = 0, bool broadcast = false);
  ~WireClient();
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  // Sends one request; returns its transaction id.
  std::uint32_t send(std::uint32_t to, std::uint16_t code, const Bytes& payload = {});
  // Every datagram that arrives within `window_ms`, matching id or not.
  std::vector<Answer> listen(unsigned window_ms);
  // The first datagram with transaction `id`, waiting at most `limit_ms`.
  std::optional<Answer> await(std::uint32_t id, unsigned limit_ms = 5000);
  // Request and its answer in one; fails the test when none comes.
  Answer ask(std::uint32_t to, std::uint16_t code, const Bytes& payload = {});
  // Collects a stream of data chunks (reply code ending in 01) until `bytes`
  // have come, something else comes, or nothing comes for `gap_ms`.
  std::vector<Answer> stream(std::uint32_t id, std::size_t bytes, unsigned gap_ms = 3000);

 private:
  std::optional<Answer> receive(int wait_ms);

  int fd_ = -1;
  std::uint32_t next_id_ = 0x1000;
};

// Tag -> value of an element list; later tags overwrite.
std::map<std::uint8_t, Bytes> elements(const Bytes& payload);
float f32(const Bytes& bytes, std::size_t at);
Bytes measure_request(std::uint8_t mask, std::uint32_t samples, float frequency);

// Text outputs of the API come unterminated with their size.
struct Text {
  char bytes[256] = {};
  std::uint32_t size = sizeof bytes;
  std::string str() const { return std::string(bytes, size); }
};

}  // namespace varnode::sim::test
