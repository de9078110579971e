#pragma once
// A scripted module on a loopback address, port 30000: it records every
// datagram it receives and answers each with whatever the test's script
// returns (nothing, a reply, a wrong id, from another port or address, late,
// malformed bytes...).

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "dcp/datagram.hpp"
#include "net/udp.hpp"

namespace varnode::test {

// One datagram within `wait` ms through the socket's own receive; its bytes
// replace `data`. Nothing when none came.
std::optional<IP::Address> receive_datagram(UDP::Socket& socket, std::uint32_t wait, std::uint16_t& port,
                                            Bytes& data);

struct Request {
  IP::Address source;
  std::uint16_t source_port = 0;
  Bytes raw;  // the whole datagram
  std::uint16_t code = 0;
  std::uint32_t transaction_id = 0;
  Bytes payload;
  bool well_formed = false;
};

struct Reply {
  enum class From { module, other_port, other_address };
  Bytes datagram;
  unsigned delay_ms = 0;  // sleep before sending (only for "late" scripts)
  From from = From::module;
};

// Reply builders.
Reply answer(const Request& request, std::uint16_t code, Bytes payload = {});
Reply answer_with_id(std::uint32_t transaction_id, std::uint16_t code, Bytes payload = {});
inline Reply acknowledge(const Request& request) { return answer(request, 1); }
Reply raw(Bytes datagram);

using Script = std::function<std::vector<Reply>(const Request&)>;

// Answers every request with one reply of this code and payload.
inline Script replying(std::uint16_t code, Bytes payload = {}) {
  return [code, payload](const Request& request) { return std::vector{answer(request, code, payload)}; };
}

// A fresh loopback address per call, distinct across test processes too, so
// that tests never share a module or a time-out entry.
IP::Address unique_loopback();

class FakeModule {
 public:
  explicit FakeModule(Script script = {}, IP::Address address = unique_loopback());
  // Listens on `bind` (0.0.0.0, to hear broadcasts) while `address` stays
  // the module's own address, the one requests() sends its marker to.
  FakeModule(Script script, IP::Address address, IP::Address bind);
  ~FakeModule();
  FakeModule(const FakeModule&) = delete;
  FakeModule& operator=(const FakeModule&) = delete;

  IP::Address address() const { return address_; }
  std::uint32_t host() const { return address_.host_value(); }

  void script(Script script);
  // Every datagram that reached the module so far, in arrival order. It first
  // waits until everything already queued on the module's socket has been
  // read, so "nothing was sent" can be checked right after a call returns.
  std::vector<Request> requests() const;
  std::size_t request_count() const { return requests().size(); }
  // Blocks until `count` datagrams have arrived or `limit_ms` passed.
  bool wait_for_requests(std::size_t count, unsigned limit_ms = 10000) const;

 private:
  void run();
  void settle() const;
  void send(const Reply& reply, const Request& request);

  IP::Address address_;
  UDP::Socket socket_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  Script script_;
  std::vector<Request> requests_;
  bool stop_ = false;
  mutable std::uint32_t markers_sent_ = 0;
  std::uint32_t markers_seen_ = 0;
  std::thread thread_;
};

}  // namespace varnode::test
